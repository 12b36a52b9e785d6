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
        {"ordinary user with flags", false, nullptr, "--disable-gpu", false},
        {"root, nothing set", true, nullptr, nullptr, true},
        {"root, empty switch", true, "", "", true},
        {"root, other flags", true, nullptr, "--disable-gpu --no-sandboxing", true},
        {"root, switch set", true, "1", nullptr, false},
        {"root, flag given", true, nullptr, "--disable-gpu --no-sandbox", false},
    };
    for (const Row& row : rows) {
        const std::optional<std::string> notice =
            SandboxOffNotice(row.root, row.disableSandbox, row.chromiumFlags);
        EXPECT_EQ(notice.has_value(), row.switchedOff) << row.name;
        if (notice) {
            EXPECT_NE(notice->find("without its sandbox"), std::string::npos) << *notice;
        }
    }
}

} // namespace
} // namespace quiltara
