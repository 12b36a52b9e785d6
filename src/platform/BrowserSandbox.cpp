#include "platform/BrowserSandbox.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace quiltara {
namespace {

bool HasNoSandboxFlag(const char* flags) {
    std::istringstream words(flags == nullptr ? "" : flags);
    std::string word;
    while (words >> word) {
        if (word == "--no-sandbox") {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> SandboxOffNotice(bool runningAsRoot, const char* disableSandbox,
                                            const char* chromiumFlags) {
    const bool settled =
        (disableSandbox != nullptr && *disableSandbox != '\0') || HasNoSandboxFlag(chromiumFlags);
    if (!runningAsRoot || settled) {
        return std::nullopt;
    }
    return std::string(
               "quiltara: running as root: the map browser runs without its sandbox "
               "(") +
           kDisableSandboxVariable + "=1). Run Quiltara as an ordinary user to keep it.";
}

bool SwitchOffBrowserSandboxForRoot() {
    const std::optional<std::string> notice = SandboxOffNotice(
        geteuid() == 0, std::getenv(kDisableSandboxVariable), std::getenv(kChromiumFlagsVariable));
    if (!notice) {
        return false;
    }
    setenv(kDisableSandboxVariable, "1", 1);
    std::fprintf(stderr, "%s\n", notice->c_str());
    return true;
}

} // namespace quiltara
