#pragma once

#include <optional>
#include <string>

namespace quiltara {

// The embedded browser refuses to start as root while its sandbox is on, so
// the program would end before it shows a window (containers, CI and
// single-user machines run as root). The environment variables are the
// browser engine's own switches.
inline constexpr const char* kDisableSandboxVariable = "QTWEBENGINE_DISABLE_SANDBOX";
inline constexpr const char* kChromiumFlagsVariable = "QTWEBENGINE_CHROMIUM_FLAGS";

// What the user is told when the sandbox is switched off: none when it stays
// as the environment has it (not root, or the sandbox already settled there).
// A null variable is unset.
std::optional<std::string> SandboxOffNotice(bool runningAsRoot, const char* disableSandbox,
                                            const char* chromiumFlags);

// Applies that rule to this process before the browser engine starts: sets
// the switch and says so on standard error. Whether it switched the sandbox off.
bool SwitchOffBrowserSandboxForRoot();

} // namespace quiltara
