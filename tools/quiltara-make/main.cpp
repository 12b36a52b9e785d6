// quiltara-make: makes map images from the command line; see MakeUsage().
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>

#include "HeadlessRun.h"
#include "platform/CurlHttpClient.h"

int main(int argc, char** argv) {
    using namespace quiltara::make;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseOutcome parsed = ParseMakeArguments(args);
    if (parsed.helpAsked) {
        std::fputs(MakeUsage().c_str(), stdout);
        return kExitMade;
    }
    if (!parsed.options) {
        std::fprintf(stderr, "quiltara-make: %s\nTry 'quiltara-make --help'.\n",
                     parsed.error.c_str());
        return kExitBadArguments;
    }
    Console out(stdout, isatty(STDOUT_FILENO) != 0);
    Console errors(stderr, false);
    const bool interactive = isatty(STDIN_FILENO) != 0;
    try {
        quiltara::CurlHttpClient http;
        if (parsed.options->mapService) {
            http.SetConnectTo(parsed.options->mapService->ConnectToEntries());
        }
        return RunMapMaker(*parsed.options, out, errors, std::cin, interactive, http);
    } catch (const std::exception& error) {
        out.EndStatus();
        errors.Line(std::string("quiltara-make: ") + error.what());
        return kExitFailed;
    }
}
