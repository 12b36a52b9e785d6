#include "app/StartCounter.h"

#include <limits>

#include "platform/Prompts.h"
#include "platform/SettingsStore.h"

namespace quiltara {

namespace {

constexpr const char* kTimesUsed = "TimesUsed";

constexpr const char* kDonationQuestion =
    "\n\nYour support for this software is appreciated, please consider donating a few dollars "
    "for the author?";

const char* UsageText(int timesUsed) {
    switch (timesUsed) {
        case 5:
            return "You have used the Quiltara 5 times so far, we hope you are getting used to the "
                   "controls, have fun.";
        case 10:
            return "You have used the Quiltara 10 times so far, you should have produced some "
                   "fairly large maps in this time, keep mapping!";
        case 15:
            return "You have used the Quiltara 15 times now, we trust you have got lots of use "
                   "out of this software, please consider donating a few bucks.";
        case 20:
            return "You have used the Quiltara 20 times now, have you donated a few bucks yet?  "
                   "Continued support to this software will result in swift updates and few "
                   "features.";
        case 25:
            return "You have used the Quiltara 25 times now, have you donated a few bucks yet?  "
                   "Please contact the author and suggest some improvements if you can think of "
                   "any.";
        case 30:
            return "You have used the Quiltara 30 times now, we hope you have donated by now - "
                   "your support is appreciated, Enjoy!";
        default:
            return nullptr;
    }
}

} // namespace

std::optional<std::string> UsageMessageFor(int timesUsed) {
    const char* text = UsageText(timesUsed);
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text) + kDonationQuestion;
}

int CountStart(SettingsStore& settings, Prompts& prompts,
               const std::function<void()>& openDonationPage) {
    // A counter that has reached the largest integer stays there instead of wrapping.
    const int stored = settings.GetInt(kTimesUsed, 0);
    const int timesUsed = stored < std::numeric_limits<int>::max() ? stored + 1 : stored;
    settings.SetInt(kTimesUsed, timesUsed);
    if (const std::optional<std::string> message = UsageMessageFor(timesUsed)) {
        if (prompts.ShowMessage(*message, MessageButtons::YesNo) == MessageAnswer::Yes) {
            openDonationPage();
        }
    }
    return timesUsed;
}

} // namespace quiltara
