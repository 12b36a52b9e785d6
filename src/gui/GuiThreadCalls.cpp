#include "gui/GuiThreadCalls.h"

#include <QThread>

#include <memory>

namespace quiltara {

bool GuiThreadCalls::OnGuiThread() const {
    return context_ && QThread::currentThread() == context_->thread();
}

bool GuiThreadCalls::Run(std::function<void()> call) {
    if (OnGuiThread()) {
        call();
        return true;
    }
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || !context_) {
            return false;
        }
    }
    // A blocking queued connection would hold the worker forever if the GUI
    // thread stopped taking calls; waiting here can be released by Stop().
    QMetaObject::invokeMethod(
        context_.data(),
        [this, done, call = std::move(call)] {
            {
                std::lock_guard lock(mutex_);
                if (stopped_) {
                    return;
                }
            }
            call();
            {
                std::lock_guard lock(mutex_);
                *done = true;
            }
            finished_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return *done || stopped_; });
    return *done;
}

void GuiThreadCalls::Post(std::function<void()> call) {
    if (OnGuiThread()) {
        call();
        return;
    }
    if (context_) {
        QMetaObject::invokeMethod(context_.data(), std::move(call), Qt::QueuedConnection);
    }
}

void GuiThreadCalls::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    finished_.notify_all();
}

} // namespace quiltara
