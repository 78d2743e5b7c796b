// The main window with its real widgets: opening, enabling, saving, the device-path placeholder, browsing,
// tooltips and the menu entries.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <fstream>
#include <sstream>

#include "app/main_app.h"
#include "res/strings.h"
#include "settings/settings.h"
#include "ui/file_list_ctrl.h"
#include "ui/folder_chooser.h"
#include "ui/main_dialog.h"
#include "ui/tooltips.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class MainDialogTest : public WindowTest {
protected:
    QString Text(CMainDialog& d, int id) { return d.ControlAs<QLineEdit>(id)->text(); }
    void SetText(CMainDialog& d, int id, const QString& text) { d.ControlAs<QLineEdit>(id)->setText(text); }
    bool Enabled(CMainDialog& d, int id) { return d.Control(id)->isEnabled(); }
    void Click(CMainDialog& d, int id) { d.ControlAs<QAbstractButton>(id)->click(); }
    bool Checked(CMainDialog& d, int id) { return d.ControlAs<QAbstractButton>(id)->isChecked(); }
    // The enabled states of the percent, width and height edits.
    std::string SizeEnabling(CMainDialog& d) {
        return std::string(Enabled(d, res::kMainPercent) ? "P" : "-") + (Enabled(d, res::kMainWidth) ? "B" : "-") +
               (Enabled(d, res::kMainHeight) ? "H" : "-");
    }
};

TEST_F(MainDialogTest, FirstStartShowsTheDefaultsWithTheSizeAndTargetControlsDisabled) {
    CMainDialog dialog(store);
    EXPECT_EQ(dialog.windowTitle(), "Quendrix");
    EXPECT_EQ(Text(dialog, res::kMainRate), "80");
    EXPECT_EQ(Text(dialog, res::kMainTargetFolder).toStdString(), settings::DefaultVerz());
    EXPECT_TRUE(Checked(dialog, res::kMainSizeLikeSource));
    EXPECT_FALSE(Checked(dialog, res::kMainSizePercent) || Checked(dialog, res::kMainSizeBox));
    EXPECT_EQ(Text(dialog, res::kMainPercent), "100");
    EXPECT_EQ(Text(dialog, res::kMainWidth), "640");
    EXPECT_EQ(Text(dialog, res::kMainHeight), "480");
    EXPECT_TRUE(Checked(dialog, res::kMainTargetLikeSource));
    EXPECT_FALSE(Checked(dialog, res::kMainTargetOwnFolder));
    EXPECT_FALSE(Checked(dialog, res::kMainNoEnlarge));
    EXPECT_EQ(SizeEnabling(dialog), "---");
    EXPECT_FALSE(Enabled(dialog, res::kMainTargetFolder));
    EXPECT_FALSE(Enabled(dialog, res::kMainBrowse));
    EXPECT_TRUE(recorder.messages().empty());

    // The list, the default button, the label colour, the icon, a fixed size.
    CFileListCtrl* list = dialog.FileList();
    ASSERT_EQ(list->columnCount(), 3);
    EXPECT_EQ(list->horizontalHeaderItem(0)->text(), "Dateiname");
    EXPECT_EQ(list->horizontalHeaderItem(1)->text(), "Bildgröße (Breite * Hoehe)");
    EXPECT_EQ(list->horizontalHeaderItem(2)->text(), "Dateigröße");
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_TRUE(dialog.CompressButton()->isDefault());
    EXPECT_EQ(dialog.CompressButton()->text(), "Komprimieren");
    EXPECT_EQ(dialog.ControlAs<QLabel>(res::kMainQualityNote)->palette().color(QPalette::WindowText),
              QColor(0, 0, 250));
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_EQ(dialog.MainIcon().availableSizes().value(0), QSize(32, 32));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(MainDialogTest, MenuHoldsTheTwoEntriesWithTheirSeparators) {
    CMainDialog dialog(store);
    const QList<QAction*> actions = dialog.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 4);  // the entries that add files follow (see the menu test of the choosers)
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), "Parameter...");
    EXPECT_EQ(actions[1]->data().toUInt(), kIdmParameter);
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(actions[3]->text(), "Inf&o über Quendrix...");
    EXPECT_EQ(actions[3]->data().toUInt(), kIdmAboutBox);
    EXPECT_EQ(dialog.SystemMenu()->title(), "&Quendrix");  // Alt+Q opens it

    // Both entries open their dialog modally; close whichever comes up.
    for (QAction* entry : {actions[1], actions[3]}) {
        QString seen;
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seen = modal->windowTitle();
                static_cast<QDialog*>(modal)->reject();
            }
        });
        entry->trigger();
        EXPECT_EQ(seen, entry == actions[1] ? "Parameter" : "Info über Quendrix");
    }
}

TEST_F(MainDialogTest, ControlsSitInTemplateOrderAboveTheirGroupBoxes) {
    CMainDialog dialog(store);
    QWidget* client = dialog.Client();
    for (int id : {res::kMainTargetLikeSource, res::kMainTargetOwnFolder, res::kMainTargetFolder, res::kMainBrowse,
                   res::kMainSizePercent, res::kMainSizeBox, res::kMainSizeLikeSource, res::kMainPercent,
                   res::kMainWidth, res::kMainHeight, res::kMainRate, res::kMainNoEnlarge}) {
        QWidget* hit = client->childAt(dialog.Control(id)->geometry().center());
        while (hit && hit->parentWidget() != client) hit = hit->parentWidget();
        EXPECT_EQ(hit, dialog.Control(id)) << id;  // the frame around it does not take the click
    }
    // The focus chain follows the template.
    std::vector<int> order;
    QWidget* w = dialog.Control(res::kMainTargetLikeSource);
    do {
        for (const auto& c : dialog.Controls())
            if (c.widget == w && (w->focusPolicy() & Qt::TabFocus)) order.push_back(c.row->id);
        w = w->nextInFocusChain();
    } while (w != dialog.Control(res::kMainTargetLikeSource));
    EXPECT_EQ(order, (std::vector<int>{res::kMainTargetLikeSource, res::kMainTargetOwnFolder, res::kMainTargetFolder,
                                       res::kMainBrowse, res::kMainSizePercent, res::kMainPercent, res::kMainSizeBox,
                                       res::kMainWidth, res::kMainHeight, res::kMainSizeLikeSource, res::kMainRate,
                                       res::kMainNoEnlarge, res::kMainFileList, res::kOkButton, res::kMainClearList,
                                       res::kCancelButton}));
}

TEST_F(MainDialogTest, F1OpensTheInfoBox) {
    CMainDialog dialog(store);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QString seen;
    QTimer::singleShot(0, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            seen = modal->windowTitle();
            static_cast<QDialog*>(modal)->reject();
        }
    });
    QTest::keyClick(dialog.Control(res::kMainRate), Qt::Key_F1);
    EXPECT_EQ(seen, "Info über Quendrix");
}

TEST_F(MainDialogTest, EnablingFollowsTheSizeAndTargetChoices) {
    CMainDialog dialog(store);
    Click(dialog, res::kMainSizeBox);
    EXPECT_EQ(SizeEnabling(dialog), "-BH");
    Click(dialog, res::kMainSizePercent);
    EXPECT_EQ(SizeEnabling(dialog), "P--");
    Click(dialog, res::kMainSizeLikeSource);
    EXPECT_EQ(SizeEnabling(dialog), "---");
    Click(dialog, res::kMainTargetOwnFolder);
    EXPECT_TRUE(Enabled(dialog, res::kMainTargetFolder) && Enabled(dialog, res::kMainBrowse));
    Click(dialog, res::kMainTargetLikeSource);
    EXPECT_FALSE(Enabled(dialog, res::kMainTargetFolder) || Enabled(dialog, res::kMainBrowse));
    EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(MainDialogTest, InvalidQualityStopsEveryEnablingUpdate) {
    CMainDialog dialog(store);
    dialog.show();
    SetText(dialog, res::kMainRate, "abc");
    for (int id : {res::kMainSizePercent, res::kMainSizeBox, res::kMainSizeLikeSource, res::kMainTargetOwnFolder,
                   res::kMainTargetLikeSource}) {
        recorder.Clear();
        Click(dialog, id);
        EXPECT_TRUE(Checked(dialog, id)) << id;  // the button changes ...
        ASSERT_EQ(recorder.messages().size(), 1u) << id;
        EXPECT_EQ(recorder.messages()[0], res::LoadString(res::IDS_PARSE_INT));
        EXPECT_EQ(SizeEnabling(dialog), "---") << id;  // ... the enabling does not
        EXPECT_FALSE(Enabled(dialog, res::kMainTargetFolder)) << id;
    }
    EXPECT_EQ(dialog.focusWidget(), dialog.Control(res::kMainRate));
}

TEST_F(MainDialogTest, StoredOutOfRangeAndUnknownValues) {
    store.WriteProfileInt("Allg", "Rate", 150);
    {
        CMainDialog dialog(store);
        EXPECT_EQ(Text(dialog, res::kMainRate), "150");
        // Both enabling updates at opening report it; the template state (all enabled) stays.
        ASSERT_EQ(recorder.messages().size(), 2u);
        EXPECT_EQ(recorder.messages()[0], "Bitte geben Sie eine ganze Zahl zwischen 0 und 100 ein.");
        EXPECT_EQ(SizeEnabling(dialog), "PBH");
        EXPECT_TRUE(Enabled(dialog, res::kMainTargetFolder));
        SetText(dialog, res::kMainRate, " 75\t");  // blanks and tabs around the number are fine
    }
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", -1), 75);

    store.WriteProfileInt("Allg", "Bildsize", 5);
    recorder.Clear();
    {
        CMainDialog dialog(store);
        EXPECT_FALSE(Checked(dialog, res::kMainSizePercent) || Checked(dialog, res::kMainSizeBox) ||
                     Checked(dialog, res::kMainSizeLikeSource));
        EXPECT_EQ(SizeEnabling(dialog), "PBH");
    }
    EXPECT_EQ(store.GetProfileIntA("Allg", "Bildsize", 0), -1);
    EXPECT_TRUE(recorder.messages().empty());
}

TEST_F(MainDialogTest, ClosingSavesAllEightKeysButNothingWhenAValueIsInvalid) {
    {
        CMainDialog dialog(store);
        Click(dialog, res::kMainSizeBox);
        SetText(dialog, res::kMainWidth, "800");
        SetText(dialog, res::kMainHeight, "600");
        Click(dialog, res::kMainTargetOwnFolder);
        SetText(dialog, res::kMainTargetFolder, "/tmp/ziel");
        dialog.ControlAs<QCheckBox>(res::kMainNoEnlarge)->setChecked(true);
        QTest::keyClick(&dialog, Qt::Key_Escape);  // Escape closes and saves
        EXPECT_TRUE(dialog.isHidden());
    }
    const MainSettings saved = settings::ReadMainSettings(store, "unused");
    EXPECT_EQ(saved.Rate, 80u);
    EXPECT_EQ(saved.Verz, "/tmp/ziel");
    EXPECT_EQ(saved.Bildsize, 1);
    EXPECT_EQ(saved.Prozent, 100u);
    EXPECT_EQ(saved.Breite, 800u);
    EXPECT_EQ(saved.Hoehe, 600u);
    EXPECT_EQ(saved.ZielPath, 1);
    EXPECT_EQ(saved.NichtVergroessern, 1);

    const std::string before = ReadBytes(store.Path());
    {
        CMainDialog dialog(store);
        SetText(dialog, res::kMainRate, "90");
        SetText(dialog, res::kMainWidth, "0");
        dialog.reject();
        ASSERT_EQ(recorder.messages().size(), 1u);
        EXPECT_EQ(recorder.messages()[0], "Bitte geben Sie eine ganze Zahl zwischen 1 und 10000 ein.");
    }
    EXPECT_EQ(ReadBytes(store.Path()), before);
}

// A file too large to be a settings file is announced, gives the defaults and stays untouched on close.
TEST_F(MainDialogTest, ATooLargeSettingsFileIsAnnouncedAndLeftAlone) {
    WriteBytes(store.Path(), "[Allg]\nRate=55\n");
    std::filesystem::resize_file(store.Path(), kMaxProfileFileBytes + 1);
    const std::string large = ReadBytes(store.Path());
    WarnWhenSettingsFileIsRefused(store.Path());
    WarnWhenSettingsFileIsRefused(dir / "missing.ini");
    ASSERT_EQ(recorder.messages().size(), 1u);
    EXPECT_EQ(recorder.messages()[0],
              "Die Einstellungsdatei \"" + store.Path() +
                  "\" ist größer als 1 MB und wird nicht gelesen. Es gelten die "
                  "Standardeinstellungen; Änderungen werden nicht in dieser Datei gespeichert.");
    CMainDialog dialog(store);
    EXPECT_EQ(Text(dialog, res::kMainRate), "80");
    SetText(dialog, res::kMainRate, "60");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(ReadBytes(store.Path()), large);
}

TEST_F(MainDialogTest, NumbersRefuseSignsAndEmptyText) {
    CMainDialog dialog(store);
    for (const char* text : {"", "-5", "+5", "5 5", "1e2"}) {
        recorder.Clear();
        SetText(dialog, res::kMainRate, text);
        EXPECT_FALSE(dialog.ExchangeAndValidate()) << text;
        EXPECT_EQ(recorder.messages(), std::vector<std::string>{res::LoadString(res::IDS_PARSE_INT)}) << text;
    }
    // Earlier rows already hold their new values, later ones are not read.
    SetText(dialog, res::kMainRate, "33");
    SetText(dialog, res::kMainWidth, "99999");
    SetText(dialog, res::kMainHeight, "77");
    EXPECT_FALSE(dialog.ExchangeAndValidate());
    EXPECT_EQ(dialog.Values().Rate, 33u);
    EXPECT_EQ(dialog.Values().Hoehe, 480u);
}

TEST_F(MainDialogTest, DevicePathPlaceholderIsReplacedBothWays) {
    test::ScopedEnv device("U3_DEVICE_PATH", "e:");
    store.WriteProfileStringA("Allg", "Verz", "%U3_DEVICE_PATH%/Bilder");
    {
        CMainDialog dialog(store);
        EXPECT_EQ(dialog.DevicePathUpper(), "E:");
        EXPECT_EQ(dialog.DevicePathLower(), "e:");
        EXPECT_EQ(Text(dialog, res::kMainTargetFolder), "e:/Bilder");  // the device path as given: case counts here
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "%U3_DEVICE_PATH%/Bilder");
    {
        CMainDialog dialog(store);
        SetText(dialog, res::kMainTargetFolder, "e:/Bilder und E:/mehr");
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "%U3_DEVICE_PATH%/Bilder und %U3_DEVICE_PATH%/mehr");
    {
        CMainDialog dialog(store);
        SetText(dialog, res::kMainTargetFolder, "E:/Bilder");
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "%U3_DEVICE_PATH%/Bilder");

    // Without a device path the placeholder is shown, used and stored as it stands.
    test::ScopedEnv unset("U3_DEVICE_PATH", nullptr);
    {
        CMainDialog dialog(store);
        EXPECT_EQ(Text(dialog, res::kMainTargetFolder), "%U3_DEVICE_PATH%/Bilder");
        EXPECT_EQ(dialog.DevicePathUpper(), "");
    }
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "%U3_DEVICE_PATH%/Bilder");
}

TEST_F(MainDialogTest, DefaultTargetFollowsTheDeviceDocumentPath) {
    test::ScopedEnv documents("U3_DEVICE_DOCUMENT_PATH", "/media/stick/Dokumente");
    CMainDialog dialog(store);
    EXPECT_EQ(Text(dialog, res::kMainTargetFolder), "/media/stick/Dokumente/Quendrix");
}

TEST_F(MainDialogTest, BrowseChangesTheTargetOnlyWhenAFolderWasChosen) {
    store.WriteProfileStringA("Allg", "Verz", "/tmp/bilder/");
    CMainDialog dialog(store);
    QString preselected, title;
    bool choose = false;
    SetFolderPicker([&](QWidget*, const QString& t, const QString& pre, QString& chosen) {
        title = t;
        preselected = pre;
        if (choose) chosen = "/srv/ausgabe";
        return choose;
    });
    dialog.OnBrowse();
    EXPECT_EQ(title, "Bitte Zielverzeichnis auswählen");
    EXPECT_EQ(preselected, "/tmp/bilder");
    EXPECT_EQ(Text(dialog, res::kMainTargetFolder), "/tmp/bilder/");  // cancelled: the trailing "/" stays
    choose = true;
    dialog.OnBrowse();
    EXPECT_EQ(Text(dialog, res::kMainTargetFolder), "/srv/ausgabe");
    EXPECT_EQ(dialog.Values().Verz, "/srv/ausgabe");
    SetFolderPicker({});
}

TEST(FolderChooserRules, Preselection) {
    EXPECT_EQ(TrimForPreselection(""), "");
    EXPECT_EQ(TrimForPreselection("/a/b//"), "/a/b/");
    EXPECT_EQ(TrimForPreselection("/a/b"), "/a/b");
    EXPECT_EQ(TrimForPreselection("/"), "/");
}

TEST_F(MainDialogTest, TheQualityNoteNamesTheOutputTypesFamilyReadablyOnAnyPalette) {
    const QPalette before = QApplication::palette();
    for (const auto& [type, window] : {std::pair{2, QColor("#efefef")}, {3, QColor("#353535")}, {0, QColor("#000")}}) {
        store.WriteProfileInt(settings::kParameter, "AusgabeTyp", type);
        QApplication::setPalette(QPalette(QColor("#808080"), window));
        CMainDialog dialog(store);
        auto* note = dialog.ControlAs<QLabel>(res::kMainQualityNote);
        EXPECT_EQ(note->text().toStdString(),
                  type < 3 ? "Nur für JPG-Ausgabedateien" : "Für JPG-, WebP-, AVIF- und JPEG-XL-Ausgabedateien");
        EXPECT_LE(note->heightForWidth(note->width()), note->height()) << "all of it in view";
        const QColor shown = note->palette().color(QPalette::WindowText);
        EXPECT_TRUE(window.lightness() < 128 || shown == QColor(0, 0, 250)) << "the blue as it is on light grey";
        EXPECT_GE(ContrastRatio(shown, window), 4.5) << type;
    }
    QApplication::setPalette(before);
    // The note follows a type chosen in the Parameter dialog.
    CMainDialog dialog(store);
    QTimer::singleShot(0, [] {
        auto* parameter = qobject_cast<CTemplateDialog*>(QApplication::activeModalWidget());
        parameter->ControlAs<QAbstractButton>(res::kParameterOutputWebp)->click();
        parameter->ControlAs<QAbstractButton>(res::kOkButton)->click();
    });
    dialog.OnSysCommand(kIdmParameter);
    EXPECT_EQ(dialog.ControlAs<QLabel>(res::kMainQualityNote)->text().toStdString(),
              "Für JPG-, WebP-, AVIF- und JPEG-XL-Ausgabedateien");
}

TEST_F(MainDialogTest, TheWindowTakesTheDesktopsFontAndEveryCheckBoxShowsItsText) {
    const QFont before = QApplication::font();
    for (int points : {8, 9, 10, 12}) {
        QApplication::setFont(QFont("DejaVu Sans", points));
        CMainDialog dialog(store);
        EXPECT_EQ(dialog.font().pointSize(), points);
        for (const auto& control : dialog.Controls()) {
            if (!qobject_cast<QAbstractButton*>(control.widget) || qobject_cast<QPushButton*>(control.widget)) continue;
            const QStyle* style = control.widget->style();
            EXPECT_LE(style->pixelMetric(QStyle::PM_IndicatorWidth) +
                          style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing) +
                          control.widget->fontMetrics().horizontalAdvance(QString::fromUtf8(control.row->text)),
                      control.widget->width())
                << points << " pt " << control.row->text;
        }
    }
    QApplication::setFont(before);
}

TEST_F(MainDialogTest, TooltipsOfTheSixControlsAlsoWhenDisabled) {
    CMainDialog dialog(store);
    dialog.show();
    const QFontMetrics metrics(QToolTip::font());
    auto centre = [&](int id) { return dialog.Control(id)->geometry().center(); };
    ASSERT_FALSE(dialog.Control(res::kMainWidth)->isEnabled());
    for (int id : {res::kMainBrowse, res::kMainClearList, res::kMainWidth, res::kMainHeight, res::kMainTargetLikeSource,
                   res::kMainNoEnlarge}) {
        const QString tip = dialog.ToolTipAt(centre(id));
        EXPECT_FALSE(tip.isEmpty()) << id;
        EXPECT_EQ(tip, WrapToolTip(ToolTipText(id), metrics)) << id;
    }
    for (int id :
         std::initializer_list<int>{res::kOkButton, res::kCancelButton, res::kMainFileList, res::kMainQualityNote})
        EXPECT_TRUE(dialog.ToolTipAt(centre(id)).isEmpty()) << id;

    // The mouse resting on the disabled edit brings up its tip through the platform's machinery.
    QApplication::setActiveWindow(&dialog);
    QTest::mouseMove(dialog.Control(res::kMainWidth), QPoint(5, 5));
    QTest::mouseMove(dialog.Control(res::kMainWidth), QPoint(6, 6));
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 3000));
    EXPECT_EQ(QToolTip::text(), WrapToolTip(ToolTipText(res::kMainWidth), metrics));
    QToolTip::hideText();

    // Through the help event itself.
    QHelpEvent help(QEvent::ToolTip, centre(res::kMainWidth), dialog.Client()->mapToGlobal(centre(res::kMainWidth)));
    QApplication::sendEvent(dialog.Client(), &help);
    EXPECT_EQ(QToolTip::text(), WrapToolTip(ToolTipText(res::kMainWidth), metrics));
    QToolTip::hideText();
}

TEST(ToolTipTexts, FieldOneWithLineBreaksAndWrapping) {
    App();
    const std::vector<std::pair<int, size_t>> lengths = {
        {res::kMainBrowse, 48}, {res::kMainClearList, 67},         {res::kMainWidth, 73},
        {res::kMainHeight, 71}, {res::kMainTargetLikeSource, 178}, {res::kMainNoEnlarge, 157}};
    for (auto [id, length] : lengths) {
        const QString tip = QString::fromUtf8(ToolTipText(id));
        EXPECT_EQ(size_t(tip.size() - tip.count('\r')), length) << id;  // each "\r" became "\r\n"
    }
    EXPECT_EQ(ToolTipText(res::kMainBrowse), "Hier kann das Zielverzeichnis ausgewählt werden.");
    EXPECT_NE(ToolTipText(res::kMainTargetLikeSource).find("\"_C\""), std::string::npos);
    EXPECT_EQ(ToolTipText(res::kOkButton), "");
    EXPECT_EQ(ToolTipText(res::kMainFileList), "");
    EXPECT_EQ(ToolTipText(104), "");  // a string without "\n"

    const QFontMetrics metrics(QToolTip::font());
    const QStringList linesNoEnlarge = WrapToolTip(ToolTipText(res::kMainNoEnlarge), metrics).split('\n');
    const QStringList linesTargetLikeSource = WrapToolTip(ToolTipText(res::kMainTargetLikeSource), metrics).split('\n');
    EXPECT_GT(linesTargetLikeSource.size(), 1);
    for (const QStringList& lines : {linesTargetLikeSource, linesNoEnlarge})
        for (const QString& line : lines) EXPECT_LE(metrics.horizontalAdvance(line), 300) << line.toStdString();
    // The no-enlarge tip breaks after "ist," besides wrapping; the same-folder tip only wraps.
    EXPECT_TRUE(
        std::any_of(linesNoEnlarge.begin(), linesNoEnlarge.end(), [](const QString& l) { return l.endsWith("ist,"); }));
    EXPECT_TRUE(WrapToolTip(ToolTipText(res::kMainTargetLikeSource), metrics).contains("Quelldateien\"  ausgewählt") ||
                WrapToolTip(ToolTipText(res::kMainTargetLikeSource), metrics).contains("Quelldateien\"\n"));
}

}  // namespace
}  // namespace qx::test
