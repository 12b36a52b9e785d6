// quiltara-make: makes map images from the command line; see MakeUsage().
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <istream>

#include "AddWmts.h"
#include "HeadlessRun.h"
#include "Interruption.h"
#include "platform/AtomicFile.h"
#include "platform/CurlHttpClient.h"

namespace {

// An interrupted run ends as the signal asks, but leaves no unfinished
// tile or image file behind.
extern "C" void EndOnSignal(int signal) {
    quiltara::RemoveUnfinishedFiles(true);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char** argv) {
    using namespace quiltara::make;
    // A reader that goes away (quiltara-make ... | head) is a write error to
    // report, not a signal that ends the run without a word.
    std::signal(SIGPIPE, SIG_IGN);
    // A file-size limit (ulimit -f) makes the write fail with "File too large",
    // reported like a full disk, rather than ending the program unexplained.
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, EndOnSignal);
    }
    // Read once: --source picks from it, --list-sources prints it.
    const quiltara::SourceCatalogue catalogue =
        quiltara::LoadSourceCatalogue(quiltara::SourceFolders());
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseOutcome parsed = ParseMakeArguments(args, catalogue);
    if (parsed.helpAsked) {
        if (std::fputs(MakeUsage().c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "quiltara-make: cannot write the output: %s\n",
                         std::strerror(errno));
            return kExitFailed;
        }
        return kExitMade;
    }
    if (parsed.listSources) {
        for (const quiltara::CatalogueProblem& problem : catalogue.problems) {
            std::fprintf(stderr, "quiltara-make: not read: %s\n", problem.Text().c_str());
        }
        if (std::fputs(SourceListing(catalogue).c_str(), stdout) == EOF ||
            std::fflush(stdout) != 0) {
            std::fprintf(stderr, "quiltara-make: cannot write the output: %s\n",
                         std::strerror(errno));
            return kExitFailed;
        }
        return catalogue.problems.empty() ? kExitMade : kExitIncomplete;
    }
    if (parsed.addWmts) {
        Console out(stdout, false);
        Console errors(stderr, false);
        try {
            quiltara::CurlHttpClient http;
            http.SetProxy(parsed.addWmts->proxy);
            return RunAddWmts(*parsed.addWmts, out, errors, http);
        } catch (const ConsoleWriteError&) {
            return kExitFailed;
        }
    }
    if (!parsed.options) {
        std::fprintf(stderr, "quiltara-make: %s\nTry 'quiltara-make --help'.\n",
                     parsed.error.c_str());
        return kExitBadArguments;
    }
    Console out(stdout, isatty(STDOUT_FILENO) != 0);
    Console errors(stderr, false);
    const bool interactive = isatty(STDIN_FILENO) != 0;
    Interruption interruption;
    InterruptibleInput stdinBuffer(STDIN_FILENO, interruption.Flag());
    std::istream input(&stdinBuffer);
    try {
        // Every connection goes where the first one goes.
        const auto connect = [&options = *parsed.options] {
            auto client = std::make_unique<quiltara::CurlHttpClient>();
            client->SetProxy(options.proxy);
            if (options.mapService) {
                client->SetConnectTo(options.mapService->ConnectToEntries());
            }
            return client;
        };
        const std::unique_ptr<quiltara::CurlHttpClient> http = connect();
        return RunMapMaker(*parsed.options, out, errors, input, interactive, *http, connect,
                           &interruption.Flag());
    } catch (const std::exception& error) {
        try {
            out.EndStatus();
            errors.Line(std::string("quiltara-make: ") + error.what());
        } catch (const ConsoleWriteError&) {
            // Nowhere left to report it; the status says it.
        }
        return kExitFailed;
    }
}
