#include "platform/MemorySettingsStore.h"

#include <gtest/gtest.h>

namespace quiltara {
namespace {

TEST(MemorySettingsStore, IntegersFallBackToTheDefaultWhenAbsentOrNotANumber) {
    MemorySettingsStore store;
    EXPECT_EQ(store.GetInt("TimesUsed", 7), 7);
    store.SetInt("TimesUsed", 31);
    EXPECT_EQ(store.GetInt("TimesUsed", 0), 31);
    store.SetString("TimesUsed", "3x");
    EXPECT_EQ(store.GetInt("TimesUsed", -1), -1);
    EXPECT_FALSE(store.Contains("SourceURL_MAP"));
    store.SetString("SourceURL_MAP", "");
    EXPECT_TRUE(store.Contains("SourceURL_MAP"));
    EXPECT_EQ(store.GetString("SourceURL_MAP", "default"), "");
}

} // namespace
} // namespace quiltara
