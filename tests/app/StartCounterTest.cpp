#include <QSettings>
#include <QString>

#include <climits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "TestPaths.h"
#include "app/StartCounter.h"
#include "gui/QtSettingsStore.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

const std::string kQuestion =
    "\n\nYour support for this software is appreciated, please consider donating a few dollars "
    "for the author?";

class StartCounterTest : public ::testing::Test {
protected:
    QString IniPath() const { return QString::fromStdString((dir_ / "Quiltara.ini").string()); }

    // What another program would read from the file, not from the store's cache.
    QVariant StoredTimesUsed() const {
        QSettings file(IniPath(), QSettings::IniFormat);
        return file.value(QStringLiteral("Quiltara/TimesUsed"));
    }

    void StoreTimesUsed(int count) {
        QSettings file(IniPath(), QSettings::IniFormat);
        file.setValue(QStringLiteral("Quiltara/TimesUsed"), count);
    }

    // One start after `previous` earlier ones; the answer is used if a question comes.
    int Start(int previous, MessageAnswer answer = MessageAnswer::No) {
        if (previous > 0) {
            StoreTimesUsed(previous);
        }
        QtSettingsStore store(IniPath());
        prompts_.QueueAnswer(answer);
        return CountStart(store, prompts_, [this] { ++donationPagesOpened_; });
    }

    test::TempDir dir_;
    ScriptedPrompts prompts_;
    int donationPagesOpened_ = 0;
};

TEST_F(StartCounterTest, FirstStartStoresOneAndShowsNothing) {
    EXPECT_FALSE(StoredTimesUsed().isValid());
    EXPECT_EQ(Start(0), 1);
    EXPECT_EQ(StoredTimesUsed().toInt(), 1);
    EXPECT_TRUE(prompts_.Messages().empty());
}

struct Case {
    int previous;
    bool message;
};

TEST_F(StartCounterTest, CountsEveryStartAndThanksOnlyAtTheFifthsUpToThirty) {
    for (const Case c : {Case{3, false}, Case{4, true}, Case{5, false}, Case{9, true},
                         Case{14, true}, Case{19, true}, Case{24, true}, Case{28, false},
                         Case{29, true}, Case{30, false}, Case{34, false}}) {
        SCOPED_TRACE(c.previous + 1);
        const size_t shownBefore = prompts_.Messages().size();
        EXPECT_EQ(Start(c.previous), c.previous + 1);
        EXPECT_EQ(StoredTimesUsed().toInt(), c.previous + 1);
        EXPECT_EQ(prompts_.Messages().size() - shownBefore, c.message ? 1u : 0u);
    }
}

TEST_F(StartCounterTest, MessagesAreWordForWordWithTheDonationQuestion) {
    const std::pair<int, std::string> kThanks[] = {
        {5,
         "You have used the Quiltara 5 times so far, we hope you are getting used to the "
         "controls, have fun."},
        {10,
         "You have used the Quiltara 10 times so far, you should have produced some fairly "
         "large maps in this time, keep mapping!"},
        {15,
         "You have used the Quiltara 15 times now, we trust you have got lots of use out of "
         "this software, please consider donating a few bucks."},
        {20,
         "You have used the Quiltara 20 times now, have you donated a few bucks yet?  "
         "Continued support to this software will result in swift updates and few "
         "features."},
        {25,
         "You have used the Quiltara 25 times now, have you donated a few bucks yet?  Please "
         "contact the author and suggest some improvements if you can think of any."},
        {30,
         "You have used the Quiltara 30 times now, we hope you have donated by now - your "
         "support is appreciated, Enjoy!"},
    };
    for (const auto& [count, thanks] : kThanks) {
        SCOPED_TRACE(count);
        const size_t shownBefore = prompts_.Messages().size();
        Start(count - 1);
        ASSERT_EQ(prompts_.Messages().size(), shownBefore + 1);
        EXPECT_EQ(prompts_.Messages().back().text, thanks + kQuestion);
        EXPECT_EQ(prompts_.Messages().back().buttons, MessageButtons::YesNo);
    }
}

TEST_F(StartCounterTest, YesOpensTheDonationPageAndNoOpensNothing) {
    Start(9, MessageAnswer::No);
    EXPECT_EQ(donationPagesOpened_, 0);
    Start(14, MessageAnswer::Yes);
    EXPECT_EQ(donationPagesOpened_, 1);
    EXPECT_EQ(StoredTimesUsed().toInt(), 15);
}

TEST_F(StartCounterTest, UnreadableOrHugeCountsDoNotBreakCounting) {
    {
        QSettings file(IniPath(), QSettings::IniFormat);
        file.setValue(QStringLiteral("Quiltara/TimesUsed"), QStringLiteral("lots"));
    }
    EXPECT_EQ(Start(0), 1);
    EXPECT_EQ(Start(INT_MAX), INT_MAX);
    EXPECT_EQ(StoredTimesUsed().toInt(), INT_MAX);
}

TEST(QtSettingsStoreTest, KeepsValuesInTheQuiltaraGroupOfTheUsersIniFile) {
    test::TempDir dir;
    const QString path = QString::fromStdString((dir / "settings.ini").string());
    {
        QtSettingsStore store(path);
        store.SetString("SourceURL_MAP", "http://example.org/[X]");
        store.SetInt("TimesUsed", 7);
        EXPECT_EQ(store.GetString("Missing", "fallback"), "fallback");
        EXPECT_EQ(store.GetInt("Missing", -3), -3);
    }
    QSettings file(path, QSettings::IniFormat);
    EXPECT_EQ(file.childGroups(), QStringList{QStringLiteral("Quiltara")});
    EXPECT_EQ(file.value(QStringLiteral("Quiltara/SourceURL_MAP")).toString(),
              QStringLiteral("http://example.org/[X]"));
    EXPECT_EQ(QtSettingsStore(path).GetInt("TimesUsed", 0), 7);

    // The user's own store, looked at only, never written by a test.
    EXPECT_TRUE(QtSettingsStore().FileName().endsWith(QStringLiteral("/Quiltara/Quiltara.ini")))
        << QtSettingsStore().FileName().toStdString();
}

} // namespace
} // namespace quiltara
