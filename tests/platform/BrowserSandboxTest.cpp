#include "platform/BrowserSandbox.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

TEST(BrowserSandbox, SwitchedOffOnlyForRootWhenNothingSettlesIt) {
    struct Row {
        const char* name;
        bool root;
        const char* disableSandbox;
        const char* chromiumFlags;
        bool switchedOff;
    };
    const Row rows[] = {
        {"ordinary user", false, nullptr, nullptr, false},
        {"root, nothing set", true, nullptr, nullptr, true},
        {"root, other flags", true, nullptr, "--disable-gpu --no-sandboxing", true},
        {"root, switch set", true, "1", nullptr, false},
        {"root, flag given", true, nullptr, "--disable-gpu --no-sandbox", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SandboxOffNotice(row.root, row.disableSandbox, row.chromiumFlags).has_value(),
                  row.switchedOff)
            << row.name;
    }
}

} // namespace
} // namespace quiltara
