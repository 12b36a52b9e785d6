#pragma once

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace quiltara {

// Hands work from a worker thread to the GUI thread: questions that must be
// shown there while the worker waits for the answer, and updates that need
// no answer. Called on the GUI thread itself, the work is done at once.
class GuiThreadCalls {
public:
    // context: an object of the GUI thread; the calls run in its thread, and
    // are dropped once it is gone.
    explicit GuiThreadCalls(QObject* context) : context_(context) {}
    GuiThreadCalls(const GuiThreadCalls&) = delete;
    GuiThreadCalls& operator=(const GuiThreadCalls&) = delete;

    // Runs call on the GUI thread and waits until it has returned. False when
    // it did not run to the end because Stop() came first: the caller then
    // takes its "leave it" answer, and must not read what call writes (keep
    // that in state shared with call, not on the caller's stack).
    bool Run(std::function<void()> call);

    // Queues call for the GUI thread and returns at once; calls keep their order.
    void Post(std::function<void()> call);

    // Releases every waiting Run() and makes later ones return false at once.
    // Called on the GUI thread when the worker's results are no longer wanted.
    void Stop();

private:
    bool OnGuiThread() const;

    QPointer<QObject> context_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool stopped_ = false;
};

} // namespace quiltara
