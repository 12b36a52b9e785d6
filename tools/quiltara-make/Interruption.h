#pragma once

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

} // namespace quiltara::make
