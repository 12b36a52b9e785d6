#include "Interruption.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/AtomicFile.h"

namespace quiltara::make {
namespace {

CancelFlag gCancel;
struct sigaction gPreviousInt;
struct sigaction gPreviousTerm;

void OnSignal(int signal) {
    if (gCancel.Requested()) {
        // Asked twice: the default action ends the process, with the status
        // a shell expects of a killed program, and no half-written file stays.
        RemoveUnfinishedFiles(true);
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        sigaction(signal, &standard, nullptr);
        raise(signal);
        return;
    }
    gCancel.Request();
    // write() is one of the few calls a handler may make; the run itself
    // says what it kept once the transfers under way have ended.
    static constexpr char kNote[] = "\nquiltara-make: stopping (again to end at once)\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kNote, sizeof kNote - 1);
}

} // namespace

Interruption::Interruption() {
    gCancel.Clear();
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Restarted reads and writes: the stop is looked at between tiles, so no
    // call in flight needs to fail for it.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &gPreviousInt);
    sigaction(SIGTERM, &action, &gPreviousTerm);
}

Interruption::~Interruption() {
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

CancelFlag& Interruption::Flag() {
    return gCancel;
}

InterruptibleInput::int_type InterruptibleInput::underflow() {
    // The signal ends poll() at once (poll is never restarted); the slices
    // cover a stop asked just before it began.
    constexpr int kSliceMs = 100;
    while (!stop_.Requested()) {
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kSliceMs);
        if (polled < 0 && errno != EINTR) {
            return traits_type::eof();
        }
        if (polled <= 0) {
            continue;
        }
        const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return traits_type::eof();
        }
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(buffer_[0]);
    }
    return traits_type::eof();
}

} // namespace quiltara::make
