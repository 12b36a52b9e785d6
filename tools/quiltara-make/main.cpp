// quiltara-make: makes map images from the command line; see MakeUsage().
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "HeadlessRun.h"
#include "assembly/ReplacingFile.h"
#include "platform/CurlHttpClient.h"

namespace {

// A run stopped from the terminal leaves no half-written map image behind.
void OnStopSignal(int signal) {
    quiltara::RemoveUncommittedFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

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
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, OnStopSignal);
    }
    try {
        quiltara::CurlHttpClient http;
        return RunMapMaker(*parsed.options, out, errors, std::cin, interactive, http);
    } catch (const std::exception& error) {
        out.EndStatus();
        errors.Line(std::string("quiltara-make: ") + error.what());
        return kExitFailed;
    }
}
