#pragma once

#include <streambuf>

#include "platform/CancelFlag.h"

namespace quiltara::make {

// Ctrl-C (SIGINT) and SIGTERM while the map maker runs: the first asks the
// run to stop, ending the transfers under way and keeping every finished tile; the
// second ends the program at once, as the signal normally would, removing
// the temporary file of the tile or image being written.
// Installed for the lifetime of the object; one at a time.
class Interruption {
public:
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    CancelFlag& Flag();
};

// Standard input for the run's questions that ends as soon as the run is
// asked to stop: Ctrl-C at a question stops the run rather than waiting for
// a line that may never come (a terminal left alone, a pipe kept open).
// Reads fd directly, so nothing else may read it meanwhile.
class InterruptibleInput : public std::streambuf {
public:
    InterruptibleInput(int fd, const CancelFlag& stop) : fd_(fd), stop_(stop) {}

protected:
    int_type underflow() override;

private:
    int fd_;
    const CancelFlag& stop_;
    char buffer_[4096];
};

} // namespace quiltara::make
