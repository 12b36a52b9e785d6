#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quiltara {

class Prompts;
class SettingsStore;

// The thanks shown at the given start (5, 10, ... 30), donation question
// included, or nothing at any other start.
std::optional<std::string> UsageMessageFor(int timesUsed);

// Counts one start: reads "TimesUsed" (0 when absent), writes it back
// increased by one at once, and at the starts that have a usage message shows
// it with Yes and No; Yes calls openDonationPage. Returns the new count.
int CountStart(SettingsStore& settings, Prompts& prompts,
               const std::function<void()>& openDonationPage);

} // namespace quiltara
