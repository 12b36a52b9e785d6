#pragma once

#include <istream>

#include "Console.h"
#include "MakeOptions.h"
#include "platform/HttpClient.h"
#include "run/CreateMapRun.h"

namespace quiltara::make {

// Exit statuses of the map maker.
enum ExitStatus : int {
    kExitMade = 0,   // every chosen layer's image was written
    kExitFailed = 1, // the run ended early, or an image could not be made or written
    kExitBadArguments = 2,
    kExitIncomplete = 3, // the images were written, but some tiles failed to download
};

// Runs the create-map command with the options: prints every message, the
// progress and where the images went, and returns the exit status.
// interactive: questions without a policy are asked on input; otherwise the
// existing tiles are kept, and so are the tiles after the stitch. http is the
// first connection; moreConnections makes the others --jobs asks for (none:
// one connection). cancel, when given, stops the run between tiles.
int RunMapMaker(const MakeOptions& options, Console& out, Console& errors, std::istream& input,
                bool interactive, HttpClient& http, const HttpClientFactory& moreConnections = {},
                const CancelFlag* cancel = nullptr);

// The exit status a finished (or ended) run deserves.
int ExitStatusFor(const CreateMapOutcome& outcome);

} // namespace quiltara::make
