#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/AboutTexts.h"
#include "app/CAboutDlg.h"
#include "gui/CNumberInputDlg.h"
#include "gui/DialogUnits.h"
#include "gui/ShellOpen.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

using test::FindById;

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(DialogUnitsTest, ScalesByAQuarterCharacterAcrossAndAnEighthDownRoundingToNearest) {
    const DialogUnits units(7, 15);
    EXPECT_EQ(units.X(4), 7);
    EXPECT_EQ(units.Y(8), 15);
    EXPECT_EQ(units.X(1), 2);   // 1.75
    EXPECT_EQ(units.X(2), 4);   // 3.5 rounds up
    EXPECT_EQ(units.Y(3), 6);   // 5.625
    EXPECT_EQ(units.X(-2), -4); // -3.5 rounds away from zero
    EXPECT_EQ(units.Rect(7, 54, 269, 108), QRect(12, 101, 471, 203));

    QFont small;
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(20);
    const DialogUnits fromSmall(small);
    const DialogUnits fromLarge(large);
    EXPECT_GT(fromSmall.BaseX(), 0);
    EXPECT_GT(fromLarge.BaseX(), fromSmall.BaseX());
    EXPECT_GT(fromLarge.BaseY(), fromSmall.BaseY());
}

class AboutDlgTest : public ::testing::Test {
protected:
    ScriptedPrompts prompts_;
    CAboutDlg dialog_{prompts_};
    DialogUnits units_{dialog_.font()};
};

TEST_F(AboutDlgTest, ShowsItsTextsWhereTheTemplatePutsThem) {
    EXPECT_EQ(dialog_.windowTitle(), QStringLiteral("About Quiltara"));
    EXPECT_EQ(dialog_.size(), units_.Size(283, 201));
    QStringList labels;
    for (QLabel* label : dialog_.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("Quiltara Version 1.2 ")));

    EXPECT_EQ(FindById<QPushButton>(&dialog_, 1)->text(), QStringLiteral("OK"));
    EXPECT_EQ(FindById<QPushButton>(&dialog_, 1024)->text(),
              QStringLiteral("Donate a few dollars using PayPal"));
    EXPECT_TRUE(FindById<QPushButton>(&dialog_, 1023)
                    ->text()
                    .endsWith(QStringLiteral("quiltara@example.org")));
    QPushButton* howTo = FindById<QPushButton>(&dialog_, 1025);
    EXPECT_EQ(howTo->text(), QStringLiteral("How to use this program"));
    EXPECT_TRUE(howTo->isDefault());
    EXPECT_EQ(howTo->geometry(), units_.Rect(147, 168, 129, 26));
    EXPECT_EQ(FindById<QPlainTextEdit>(&dialog_, 1018)->geometry(), units_.Rect(7, 54, 269, 108));
}

TEST_F(AboutDlgTest, OnlyTheTwoLinksAreBlue) {
    const QColor blue(0, 0, 255);
    for (int id : {1023, 1024}) {
        EXPECT_EQ(FindById<QPushButton>(&dialog_, id)->palette().color(QPalette::ButtonText), blue)
            << id;
    }
    for (int id : {1, 1025}) {
        EXPECT_NE(FindById<QPushButton>(&dialog_, id)->palette().color(QPalette::ButtonText), blue)
            << id;
    }
}

TEST_F(AboutDlgTest, TheAboutTextIsFourReadOnlyParagraphsThatScroll) {
    const std::string text = AboutText();
    EXPECT_EQ(Count(text, "\r\n\r\n"), 3u);
    EXPECT_EQ(Count(text, "\n"), 6u); // no line breaks but the separators
    EXPECT_NE(text.front(), '\r');
    EXPECT_NE(text.back(), '\n');

    QPlainTextEdit* edit = FindById<QPlainTextEdit>(&dialog_, 1018);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(edit->toPlainText().contains(QLatin1Char('\r')));
    EXPECT_EQ(edit->document()->blockCount(), 7); // four paragraphs, three blank lines
    dialog_.show();
    EXPECT_GT(edit->verticalScrollBar()->maximum(), 0); // more text than the box shows
    QTest::keyClicks(edit, QStringLiteral("typed"));
    EXPECT_EQ(edit->toPlainText().toStdString().find("typed"), std::string::npos);
}

TEST_F(AboutDlgTest, TheLinksOpenTheMailAddressAndTheDonationPage) {
    test::OpenedUrls opened({QStringLiteral("mailto"), QStringLiteral("https")});
    QTest::mouseClick(FindById<QPushButton>(&dialog_, 1023), Qt::LeftButton);
    QTest::mouseClick(FindById<QPushButton>(&dialog_, 1024), Qt::LeftButton);
    ASSERT_EQ(opened.Urls().size(), 2u);
    EXPECT_EQ(opened.Urls()[0], QUrl(QStringLiteral("mailto:quiltara@example.org")));
    EXPECT_EQ(opened.Urls()[1], QUrl(QString::fromUtf8(kDonationUrl)));
    EXPECT_TRUE(prompts_.Messages().empty());
}

TEST_F(AboutDlgTest, HowToShowsTheNumberedStepsInAnOkBox) {
    QTest::mouseClick(FindById<QPushButton>(&dialog_, 1025), Qt::LeftButton);
    ASSERT_EQ(prompts_.Messages().size(), 1u);
    const ScriptedPrompts::Shown& shown = prompts_.Messages()[0];
    EXPECT_EQ(shown.buttons, MessageButtons::Ok);
    EXPECT_EQ(shown.text.rfind("Please following the numbered steps to get going with this "
                               "software:\n\n1. ",
                               0),
              0u);
    EXPECT_EQ(Count(shown.text, "\n\n"), 4u);
    EXPECT_EQ(Count(shown.text, "\r"), 0u);
    for (const char* step :
         {"\n\n2. Press \"2. Select Area\"", "\n\n3. ", "\n\n4. Press \"4. Create Map Image\""}) {
        EXPECT_NE(shown.text.find(step), std::string::npos) << step;
    }
}

TEST_F(AboutDlgTest, OkClosesTheDialog) {
    test::WhenModalOpens([](QWidget* modal) { FindById<QPushButton>(modal, 1)->click(); });
    EXPECT_EQ(dialog_.DoModal(), 1);
}

const std::string kZoomPrompt =
    "Please input the new maximum zoom level.  Be aware that, if the images do not exist within "
    "google, errors will be received when you download your images.";

// Runs the dialog modally, types the text and presses the button with that id.
std::pair<int, std::string> RunNumberInput(const std::string& prompt, const QString& typed,
                                           int buttonId) {
    CNumberInputDlg dialog(prompt);
    test::WhenModalOpens([&](QWidget* modal) {
        QTest::keyClicks(FindById<QLineEdit>(modal, 1028), typed);
        FindById<QPushButton>(modal, buttonId)->click();
    });
    const int result = dialog.DoModal();
    return {result, dialog.EnteredText()};
}

TEST(NumberInputDlgTest, OkReturnsTheTextAsTypedAndCancelReturnsNothing) {
    EXPECT_EQ(RunNumberInput(kZoomPrompt, QStringLiteral("12abc"), 1),
              std::make_pair(1, std::string("12abc")));
    EXPECT_EQ(RunNumberInput(kZoomPrompt, QString(), 1), std::make_pair(1, std::string()));
    EXPECT_EQ(RunNumberInput(kZoomPrompt, QStringLiteral("17"), 2),
              std::make_pair(2, std::string()));
    const QString longText(300, QLatin1Char('9'));
    EXPECT_EQ(RunNumberInput(kZoomPrompt, longText, 1), std::make_pair(1, longText.toStdString()));
}

TEST(NumberInputDlgTest, EnterPressesOk) {
    CNumberInputDlg dialog(kZoomPrompt);
    test::WhenModalOpens([](QWidget* modal) {
        QLineEdit* input = FindById<QLineEdit>(modal, 1028);
        QTest::keyClicks(input, QStringLiteral("8"));
        QTest::keyClick(input, Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(dialog.EnteredText(), "8");
}

TEST(NumberInputDlgTest, KeepsItsSizeAndCaptionWhateverThePrompt) {
    CNumberInputDlg shortPrompt("Zoom?");
    CNumberInputDlg longPrompt(kZoomPrompt + kZoomPrompt + kZoomPrompt);
    const DialogUnits units(shortPrompt.font());
    EXPECT_EQ(shortPrompt.size(), units.Size(291, 52));
    EXPECT_EQ(longPrompt.size(), shortPrompt.size());
    EXPECT_EQ(longPrompt.windowTitle(), QStringLiteral("Dialog"));
    EXPECT_EQ(FindById<QLabel>(&longPrompt, 1027)->text().toStdString(),
              kZoomPrompt + kZoomPrompt + kZoomPrompt);
    EXPECT_EQ(FindById<QLabel>(&longPrompt, 1027)->geometry(), units.Rect(7, 7, 217, 25));
    EXPECT_EQ(FindById<QLineEdit>(&longPrompt, 1028)->geometry(), units.Rect(7, 33, 218, 12));
}

TEST(NumberInputDlgTest, ThePromptIsShownAsGivenNeverAsMarkup) {
    CNumberInputDlg dialog("Zoom <b>up</b> to 19");
    QLabel* prompt = FindById<QLabel>(&dialog, 1027);
    EXPECT_EQ(prompt->textFormat(), Qt::PlainText);
    EXPECT_EQ(prompt->text(), QStringLiteral("Zoom <b>up</b> to 19"));
}

} // namespace
} // namespace quiltara
