#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include <fstream>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "TestPaths.h"
#include "gui/QtPrompts.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara {
namespace {

struct Seen {
    QString caption;
    QString text;
    QStringList buttons;
};

// Shows a box, notes what it showed and answers it: by the button with that
// text, or by Escape when none is given.
MessageAnswer Answer(MessageButtons buttons, const QString& press, Seen* seen) {
    test::WhenModalOpens([press, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            ADD_FAILURE() << "not a message box";
            modal->close();
            return;
        }
        seen->caption = box->windowTitle();
        seen->text = box->text();
        for (QAbstractButton* button : box->buttons()) {
            seen->buttons << button->text().remove(QLatin1Char('&'));
        }
        if (press.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        for (QAbstractButton* button : box->buttons()) {
            if (button->text().remove(QLatin1Char('&')) == press) {
                button->click();
            }
        }
    });
    QtPrompts prompts;
    return prompts.ShowMessage("Line one\n\nLine <b>two</b>", buttons);
}

TEST(QtPromptsTest, MessageBoxesCarryTheCaptionTheTextAndTheButtons) {
    Seen seen;
    EXPECT_EQ(Answer(MessageButtons::Ok, QStringLiteral("OK"), &seen), MessageAnswer::Ok);
    EXPECT_EQ(seen.caption, QStringLiteral("Quiltara"));
    EXPECT_EQ(seen.text, QStringLiteral("Line one\n\nLine <b>two</b>"));
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});

    Seen yesNo;
    EXPECT_EQ(Answer(MessageButtons::YesNo, QStringLiteral("Yes"), &yesNo), MessageAnswer::Yes);
    yesNo.buttons.sort();
    EXPECT_EQ(yesNo.buttons, (QStringList{QStringLiteral("No"), QStringLiteral("Yes")}));

    Seen three;
    EXPECT_EQ(Answer(MessageButtons::YesNoCancel, QStringLiteral("No"), &three), MessageAnswer::No);
    EXPECT_EQ(three.buttons.size(), 3);
}

TEST(QtPromptsTest, EscapeAnswersNoOrCancel) {
    Seen seen;
    EXPECT_EQ(Answer(MessageButtons::YesNo, QString(), &seen), MessageAnswer::No);
    EXPECT_EQ(Answer(MessageButtons::YesNoCancel, QString(), &seen), MessageAnswer::Cancel);
    EXPECT_EQ(Answer(MessageButtons::Ok, QString(), &seen), MessageAnswer::Ok);
}

TEST(QtPromptsTest, SaveFiltersBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("png (*.png)|*.png|All Files (*.*)|*.*||"),
              (QStringList{QStringLiteral("png (*.png)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(QtNameFilters("Images|*.png;*.jpg||"),
              QStringList{QStringLiteral("Images (*.png *.jpg)")});
    EXPECT_TRUE(QtNameFilters("").isEmpty());
}

SaveDialogOptions MapOptions() {
    SaveDialogOptions options;
    options.defaultExtension = "png";
    options.filter = "png (*.png)|*.png|All Files (*.*)|*.*||";
    return options;
}

// Types the name into the save dialog and accepts it; when an overwrite
// answer is given, answers the overwrite question with that button.
void SaveAs(const QString& path, const QString& overwriteAnswer, bool* askedOverwrite) {
    test::WhenModalOpens([=](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            ADD_FAILURE() << "not the save dialog";
            modal->close();
            return;
        }
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->nameFilters(),
                  (QStringList{QStringLiteral("png (*.png)"), QStringLiteral("All Files (*)")}));
        if (!overwriteAnswer.isEmpty()) {
            test::WhenModalOpens(
                [=](QWidget* question) {
                    *askedOverwrite = true;
                    for (QAbstractButton* button : question->findChildren<QAbstractButton*>()) {
                        if (button->text().remove(QLatin1Char('&')) == overwriteAnswer) {
                            button->click();
                            return;
                        }
                    }
                },
                5000, [](QWidget* shown) { return qobject_cast<QMessageBox*>(shown) != nullptr; });
        }
        // Typed as a user would: the folder, then the name in the name box.
        const QFileInfo file(path);
        dialog->setDirectory(file.absolutePath());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name == nullptr) {
            ADD_FAILURE() << "the save dialog has no name box";
            dialog->reject();
            return;
        }
        name->setText(file.fileName());
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

TEST(QtPromptsTest, TheSaveDialogAddsTheDefaultExtensionAndAsksBeforeOverwriting) {
    test::TempDir dir;
    QtPrompts prompts;
    bool asked = false;

    SaveAs(QString::fromStdString((dir / "map").string()), QString(), &asked);
    EXPECT_EQ(prompts.AskSavePath(MapOptions()), (dir / "map.png").string());
    EXPECT_FALSE(asked);

    std::ofstream((dir / "old.png").string()) << "x";
    SaveAs(QString::fromStdString((dir / "old.png").string()), QStringLiteral("Yes"), &asked);
    EXPECT_EQ(prompts.AskSavePath(MapOptions()), (dir / "old.png").string());
    EXPECT_TRUE(asked);

    test::WhenModalOpens([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(prompts.AskSavePath(MapOptions()), std::nullopt);
}

TEST(QtPromptsTest, TheTypePickedInTheSaveDialogComesBackWithItsExtension) {
    test::TempDir dir;
    QtPrompts prompts;
    SaveDialogOptions options = MapOptions();
    options.filter = "PNG image (*.png)|*.png|GeoTIFF (*.tif)|*.tif||";
    for (const bool second : {false, true}) {
        test::WhenModalOpens([&dir, second](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            auto* types = modal->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (dialog == nullptr || types == nullptr || name == nullptr) {
                ADD_FAILURE() << "not the save dialog with its type list and name box";
                modal->close();
                return;
            }
            if (second) {
                QTest::keyClick(types, Qt::Key_Down); // as a user picks the next type
            }
            dialog->setDirectory(QString::fromStdString(dir.Path().string()));
            name->setText(QStringLiteral("map"));
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const std::optional<SaveChoice> choice = prompts.AskSaveFile(options);
        ASSERT_TRUE(choice.has_value()) << second;
        EXPECT_EQ(choice->filterIndex, second ? 1 : 0);
        EXPECT_EQ(choice->path, (dir / (second ? "map.tif" : "map.png")).string());
    }
}

TEST(QtPromptsTest, TheSaveDialogOpensOnTheTypeAskedForWithItsExtension) {
    test::TempDir dir;
    QtPrompts prompts;
    SaveDialogOptions options = MapOptions();
    options.filter = kStreamedMapFileFilter;
    options.filterIndex = 3;
    test::WhenModalOpens([&dir](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        auto* name = modal->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (dialog == nullptr || name == nullptr) {
            ADD_FAILURE() << "not the save dialog with its name box";
            modal->close();
            return;
        }
        EXPECT_EQ(dialog->selectedNameFilter(), QStringLiteral("GeoPackage (*.gpkg)"));
        dialog->setDirectory(QString::fromStdString(dir.Path().string()));
        name->setText(QStringLiteral("map"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    const std::optional<SaveChoice> choice = prompts.AskSaveFile(options);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->filterIndex, 3);
    EXPECT_EQ(choice->path, (dir / "map.gpkg").string());
}

} // namespace
} // namespace quiltara
