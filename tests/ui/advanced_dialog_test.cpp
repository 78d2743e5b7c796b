// The "Erweiterte Einstellungen" dialog with its real widgets, a real settings file and the main window's menu.
#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "res/strings.h"
#include "settings/settings.h"
#include "ui/advanced_dialog.h"
#include "ui/main_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class AdvancedDialogTest : public WindowTest {
protected:
    static QLineEdit* Edit(CAdvancedDialog& d, int id) { return d.ControlAs<QLineEdit>(id); }
    static void Click(CAdvancedDialog& d, int id) { d.ControlAs<QAbstractButton>(id)->click(); }
    static bool Checked(CAdvancedDialog& d, int id) { return d.ControlAs<QAbstractButton>(id)->isChecked(); }
};

TEST_F(AdvancedDialogTest, DefaultsAndNoSectionUntilOK) {
    {
        CAdvancedDialog dialog(store);
        EXPECT_EQ(dialog.windowTitle(), "Erweiterte Einstellungen");
        for (int id : {res::kAdvancedKeepMetadata, res::kAdvancedOnlySmaller, res::kAdvancedMaxKBOn,
                       res::kAdvancedKeepDate, res::kAdvancedKeepTree, res::kAdvancedSkipExisting,
                       res::kAdvancedJpegLossless, res::kAdvancedJpegBaseline})
            EXPECT_FALSE(Checked(dialog, id)) << id;
        EXPECT_TRUE(Checked(dialog, res::kAdvancedDropGps));
        EXPECT_FALSE(dialog.Control(res::kAdvancedDropGps)->isEnabled());  // counts only with metadata kept
        EXPECT_FALSE(dialog.Control(res::kAdvancedMaxKB)->isEnabled());
        EXPECT_EQ(Edit(dialog, res::kAdvancedMaxKB)->text(), "500");
        for (int id : {res::kAdvancedKeepMetadata, res::kAdvancedDropGps, res::kAdvancedOnlySmaller,
                       res::kAdvancedMaxKBOn, res::kAdvancedMaxKB, res::kAdvancedKeepDate, res::kAdvancedKeepTree,
                       res::kAdvancedSkipExisting, res::kAdvancedJpegLossless, res::kAdvancedJpegBaseline})
            EXPECT_FALSE(dialog.Control(id)->toolTip().isEmpty()) << id;
        // A tip is cut after 255 bytes of its string: every one here must end within them.
        for (int id : {res::kAdvancedSkipOwnOutputs, res::kAdvancedJpegLossless, res::kAdvancedJpegBaseline})
            EXPECT_TRUE(dialog.Control(id)->toolTip().simplified().endsWith('.')) << id;
        // The size limit's texts name the formats as the codec table has them.
        EXPECT_EQ(dialog.ControlAs<QLabel>(res::kAdvancedMaxKBNote)->text(),
                  "(nur für JPG-, WebP-, AVIF- und JPEG-XL-Ausgabedateien)");
        const QString tip = dialog.Control(res::kAdvancedMaxKBOn)->toolTip().simplified();
        EXPECT_TRUE(tip.contains("jeder JPG-, WebP-, AVIF- und JPEG-XL-Ausgabedatei") &&
                    tip.contains("(BMP und PNG bleiben"))
            << tip.toStdString();
        Click(dialog, res::kAdvancedKeepMetadata);
        Click(dialog, res::kCancelButton);  // Abbrechen writes nothing
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir / "quendrix.ini")));

    CAdvancedDialog dialog(store);
    Click(dialog, res::kAdvancedMaxKBOn);
    EXPECT_TRUE(dialog.Control(res::kAdvancedMaxKB)->isEnabled());
    Click(dialog, res::kAdvancedKeepMetadata);
    EXPECT_TRUE(dialog.Control(res::kAdvancedDropGps)->isEnabled());
    Edit(dialog, res::kAdvancedMaxKB)->setText("300");
    Click(dialog, res::kAdvancedSkipExisting);
    Click(dialog, res::kAdvancedJpegLossless);
    Click(dialog, res::kAdvancedJpegBaseline);
    Click(dialog, res::kOkButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const AdvancedSettings saved = settings::ReadAdvancedSettings(store);
    EXPECT_EQ(saved.MetadatenUebernehmen, 1);
    EXPECT_EQ(saved.GpsEntfernen, 1);
    EXPECT_EQ(saved.MaxKBAktiv, 1);
    EXPECT_EQ(saved.MaxKB, 300);
    EXPECT_EQ(saved.NurWennKleiner, 0);
    EXPECT_EQ(saved.DatumUebernehmen, 0);
    EXPECT_EQ(saved.OrdnerstrukturBeibehalten, 0);
    EXPECT_EQ(saved.VorhandeneUeberspringen, 1);
    EXPECT_EQ(saved.JpegBaseline, 1);
    EXPECT_EQ(saved.WeitereEingabeTypen, 15);
}

TEST_F(AdvancedDialogTest, FurtherInputTypesByTheirBits) {
    {
        CAdvancedDialog dialog(store);
        for (int id :
             {res::kAdvancedAcceptHeic, res::kAdvancedAcceptWebp, res::kAdvancedAcceptAvif, res::kAdvancedAcceptJxl}) {
            EXPECT_TRUE(Checked(dialog, id)) << id;
            EXPECT_FALSE(dialog.Control(id)->toolTip().isEmpty()) << id;
        }
        Click(dialog, res::kAdvancedAcceptWebp);
        Click(dialog, res::kOkButton);
    }
    EXPECT_EQ(settings::ReadAdvancedSettings(store).WeitereEingabeTypen, 0b1101);
    EXPECT_EQ(settings::ReadInputTypes(store).Bits(), 0b1101111u);
    CAdvancedDialog dialog(store);
    EXPECT_FALSE(Checked(dialog, res::kAdvancedAcceptWebp));
    EXPECT_TRUE(Checked(dialog, res::kAdvancedAcceptAvif));
}

TEST_F(AdvancedDialogTest, QualityPerImageButtonsExchangeTheStoredDistance) {
    const std::pair<int, int32_t> levels[] = {{res::kAdvancedAutoQualityLossless, 10},
                                              {res::kAdvancedAutoQualityVeryHigh, 15},
                                              {res::kAdvancedAutoQualityHigh, 20},
                                              {res::kAdvancedAutoQualityMedium, 30},
                                              {res::kAdvancedAutoQualityOff, 0}};
    for (const auto& [button, tenths] : levels) {
        {
            CAdvancedDialog dialog(store);
            Click(dialog, button);
            Click(dialog, res::kOkButton);
        }
        EXPECT_EQ(settings::ReadAdvancedSettings(store).AutoQualitaet, tenths) << button;
        CAdvancedDialog reopened(store);
        for (const auto& [other, unused] : levels) EXPECT_EQ(Checked(reopened, other), other == button) << other;
    }
    // A distance of a hand-edited file that no button stands for stays as it was.
    store.WriteProfileStringA("Erweitert", "AutoQualitaet", "25");
    CAdvancedDialog dialog(store);
    for (const auto& [button, unused] : levels) EXPECT_FALSE(Checked(dialog, button)) << button;
    Click(dialog, res::kOkButton);
    EXPECT_EQ(settings::ReadAdvancedSettings(store).AutoQualitaet, 25);
}

TEST_F(AdvancedDialogTest, SizeOutOfRangeIsRefused) {
    CAdvancedDialog dialog(store);
    dialog.show();
    Click(dialog, res::kAdvancedMaxKBOn);
    for (const char* text : {"0", "1000001"}) {
        recorder.Clear();
        Edit(dialog, res::kAdvancedMaxKB)->setText(text);
        dialog.OnOK();
        ASSERT_FALSE(recorder.messages().empty()) << text;
        EXPECT_EQ(recorder.messages().back(), "Bitte geben Sie eine ganze Zahl zwischen 1 und 1000000 ein.");
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_EQ(store.GetProfileStringA("Erweitert", "MaxKB", "<none>"), "<none>");
}

TEST_F(AdvancedDialogTest, AGreyedLimitIsNotCheckedAndKeepsItsValue) {
    store.WriteProfileStringA("Erweitert", "MaxKB", "0");  // out of range, from a hand-edited file
    CAdvancedDialog dialog(store);
    ASSERT_FALSE(dialog.Control(res::kAdvancedMaxKB)->isEnabled());
    dialog.OnOK();
    EXPECT_TRUE(recorder.messages().empty());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadAdvancedSettings(store).MaxKB, 0);
}

TEST_F(AdvancedDialogTest, TheMenuDialogsOpenOverTheMainWindow) {
    CMainDialog main(store);
    for (unsigned command : {kIdmParameter, kIdmAdvanced, kIdmAboutBox}) {
        QWidget* parent = nullptr;
        QTimer::singleShot(0, [&] {
            auto* dialog = static_cast<QDialog*>(QApplication::activeModalWidget());
            parent = dialog->parentWidget();
            dialog->reject();
        });
        main.OnSysCommand(command);
        EXPECT_EQ(parent, &main) << "centred on it: " << command;
    }
}

TEST_F(AdvancedDialogTest, MenuEntryInItsOwnGroupAfterTheOthers) {
    CMainDialog main(store);
    const QList<QAction*> actions = main.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    const qsizetype at = std::find_if(actions.begin(), actions.end(),
                                      [](QAction* a) { return a->text() == "&Erweiterte Einstellungen..."; }) -
                         actions.begin();
    ASSERT_LT(at, actions.size());
    EXPECT_TRUE(actions[at - 1]->isSeparator());
    EXPECT_EQ(actions[at - 2]->text(), QString::fromUtf8(res::LoadString(res::IDS_ADD_FOLDER_MENU)));
}

TEST_F(AdvancedDialogTest, Screenshot) {
    const QString folder = qEnvironmentVariable("QUENDRIX_SCREENSHOT_DIR");
    if (folder.isEmpty()) GTEST_SKIP() << "QUENDRIX_SCREENSHOT_DIR not set";
    QDir().mkpath(folder);
    store.WriteProfileInt("Erweitert", "MetadatenUebernehmen", 1);
    store.WriteProfileInt("Erweitert", "MaxKBAktiv", 1);
    CAdvancedDialog dialog(store);
    dialog.show();
    QApplication::processEvents();
    ASSERT_TRUE(dialog.grab().save(folder + "/advanced.png"));
}

}  // namespace
}  // namespace qx::test
