// The standard choosers as the user meets them: Qt's own texts in German.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

#include "ui/folder_chooser.h"
#include "ui_test_support.h"

namespace qx::testing {
namespace {

class ChooserTest : public WindowTest {};

TEST_F(ChooserTest, TheFolderChooserSpeaksGermanAndAMissingTranslationBreaksNothing) {
    EXPECT_EQ(InstallQtGermanTexts(QString::fromStdString(dir / "keine")), nullptr);
    QTranslator* german = InstallQtGermanTexts();
    ASSERT_NE(german, nullptr) << "qtbase_de.qm is missing: install qt6-translations-l10n";

    QStringList buttons, labels;
    QString title;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!chooser) return;
        title = chooser->windowTitle();
        for (QPushButton* button : chooser->findChild<QDialogButtonBox*>()->findChildren<QPushButton*>())
            buttons << button->text();
        for (QLabel* label : chooser->findChildren<QLabel*>()) labels << label->text();
        chooser->reject();
    });
    std::string path = dir.Path();
    BrowseForFolder(nullptr, "Bitte Zielverzeichnis auswählen", path, 0);
    QCoreApplication::removeTranslator(german);
    delete german;

    EXPECT_EQ(title, "Bitte Zielverzeichnis auswählen");
    EXPECT_EQ(path, dir.Path());  // cancelled
    EXPECT_TRUE(buttons.contains("&Auswählen")) << buttons.join('|').toStdString();
    EXPECT_TRUE(buttons.contains("Abbrechen")) << buttons.join('|').toStdString();
    EXPECT_TRUE(labels.contains("Suchen in:")) << labels.join('|').toStdString();
    EXPECT_FALSE(buttons.contains("Cancel") || labels.contains("Look in:"));
}

}  // namespace
}  // namespace qx::testing
