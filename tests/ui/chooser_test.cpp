// The ways into the list besides a drop: the command line and the two menu entries with their choosers;
// Qt's own texts in German.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <filesystem>

#include "app/command_line.h"
#include "support/images.h"
#include "ui/file_chooser.h"
#include "ui/file_list_ctrl.h"
#include "ui/folder_chooser.h"
#include "ui/main_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

namespace fs = std::filesystem;

class ChooserTest : public WindowTest {
protected:
    void SetUp() override {
        fs::create_directories(dir / "Bilder/Urlaub");
        test::WriteImage(dir / "Bilder/a.jpg", 32, 24);
        test::WriteImage(dir / "Bilder/Urlaub/b.png", 20, 10, "png");
        test::WriteImage(dir / "einzeln.bmp", 8, 6, "bmp");
        test::WriteBytes(dir / "Bilder/liesmich.txt", "kein Bild");
        test::WriteBytes(dir / "kaputt.jpg", "kein Bild");
    }
    ~ChooserTest() override {
        SetFilesPicker({});
        SetFolderPicker({});
    }
    static std::vector<std::string> Rows(CMainDialog& dialog) {
        std::vector<std::string> rows;
        for (int i = 0; i < dialog.FileList()->rowCount(); ++i) rows.push_back(dialog.FileList()->RowPath(i));
        return rows;
    }
};

TEST_F(ChooserTest, PathsOfTheCommandLineAreTakenLikeADropOnceTheWindowIsUp) {
    const std::string folder = dir.path();
    // Named files are judged by their content, whatever their names end in.
    fs::copy_file(dir / "Bilder/a.jpg", dir / "foto.jpe");
    fs::copy_file(dir / "einzeln.bmp", dir / "ohne_endung");
    const std::vector<const char*> argv = {"quendrix",  "Bilder",   "einzeln.bmp", "kaputt.jpg", "Bilder/liesmich.txt",
                                           "fehlt.jpg", "foto.jpe", "ohne_endung"};
    CMainDialog dialog(store);
    dialog.AddPathsWhenShown(CommandLinePaths(int(argv.size()), argv.data(), folder));
    EXPECT_EQ(dialog.FileList()->rowCount(), 0);  // not before the window has opened
    dialog.show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.FileList()->rowCount() == 5; }));
    EXPECT_EQ(Rows(dialog),
              (std::vector<std::string>{folder + "/Bilder/Urlaub/b.png", folder + "/Bilder/a.jpg",
                                        folder + "/einzeln.bmp", folder + "/foto.jpe", folder + "/ohne_endung"}));
    EXPECT_EQ(dialog.FileList()->CellText(2, 1), "8 * 6");
    // The named files not taken are said in one message, each with its reason; the folder's are passed over.
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{"Diese Dateien wurden nicht in die Liste übernommen:\n\n" +
                                                            folder + "/kaputt.jpg: unbekanntes Dateiformat\n" + folder +
                                                            "/Bilder/liesmich.txt: unbekanntes Dateiformat\n" + folder +
                                                            "/fehlt.jpg: Datei nicht gefunden"});
    recorder.Clear();

    // The input types of the settings apply as to a drop; no arguments, nothing added.
    store.WriteProfileInt("Parameter", "EingabeTyp", 4);
    CMainDialog png(store);
    png.AddPathsWhenShown({folder + "/Bilder", folder + "/einzeln.bmp"});
    png.AddPathsWhenShown({});
    png.show();
    QTest::qWait(20);
    EXPECT_EQ(Rows(png), std::vector<std::string>{folder + "/Bilder/Urlaub/b.png"});
    EXPECT_EQ(recorder.messages(),
              std::vector<std::string>{"Diese Dateien wurden nicht in die Liste übernommen:\n\n" + folder +
                                       "/einzeln.bmp: Eingabedateityp BMP nicht angenommen"});
}

TEST_F(ChooserTest, TheMenuEntriesFeedTheListThroughTheIntake) {
    CMainDialog dialog(store);
    const QList<QAction*> actions = dialog.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 7);            // groups added later come after these
    EXPECT_TRUE(actions[4]->isSeparator());  // after the entries the window always had
    EXPECT_EQ(actions[5]->text(), "&Dateien hinzufügen...");
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(actions[6]->text(), "O&rdner hinzufügen...");
    EXPECT_EQ(actions[6]->shortcut(), QKeySequence("Ctrl+Shift+O"));

    QString title, startFolder;
    QStringList filters;
    QStringList toChoose;
    SetFilesPicker([&](QWidget*, const QString& t, const QString& folder, const QStringList& f, QStringList& chosen) {
        title = t;
        startFolder = folder;
        filters = f;
        chosen = toChoose;
        return !chosen.isEmpty();
    });
    store.WriteProfileInt("Parameter", "EingabeTyp", 6);  // JPG and PNG
    toChoose = {QString::fromStdString(dir / "Bilder/a.jpg"), QString::fromStdString(dir / "einzeln.bmp"),
                QString::fromStdString(dir / "kaputt.jpg")};
    actions[5]->trigger();
    EXPECT_EQ(title, "Bilddateien hinzufügen");
    // WeitereEingabeTypen is not in the file: HEIC, WebP, AVIF and JPEG XL are taken.
    EXPECT_EQ(filters, (QStringList{"Bilddateien (*.jpg *.jpeg *.png *.webp *.avif *.heic *.heif *.hif *.jxl)",
                                    "Alle Dateien (*)"}));
    EXPECT_EQ(Rows(dialog), std::vector<std::string>{dir / "Bilder/a.jpg"});  // BMP is off, kaputt.jpg no image
    EXPECT_EQ(recorder.messages(),
              std::vector<std::string>{"Diese Dateien wurden nicht in die Liste übernommen:\n\n" +
                                       dir / "einzeln.bmp: Eingabedateityp BMP nicht angenommen\n" +
                                       dir / "kaputt.jpg: unbekanntes Dateiformat"});
    recorder.Clear();
    toChoose.clear();  // cancelled
    actions[5]->trigger();
    EXPECT_EQ(startFolder.toStdString(), dir / "Bilder");  // where the last files came from
    EXPECT_EQ(dialog.FileList()->rowCount(), 1);

    std::string folderTitle;
    bool choose = true;
    SetFolderPicker([&](QWidget*, const QString& t, const QString&, QString& chosen) {
        folderTitle = t.toStdString();
        if (choose) chosen = QString::fromStdString(dir / "Bilder");
        return choose;
    });
    actions[6]->trigger();
    EXPECT_EQ(folderTitle, "Ordner mit Bildern hinzufügen");
    EXPECT_EQ(Rows(dialog),
              (std::vector<std::string>{dir / "Bilder/a.jpg", dir / "Bilder/Urlaub/b.png", dir / "Bilder/a.jpg"}));
    choose = false;
    actions[6]->trigger();
    EXPECT_EQ(dialog.FileList()->rowCount(), 3);

    // From the keyboard: the shortcuts.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    choose = true;
    QTest::keyClick(dialog.Control(res::kMainRate), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dialog.FileList()->rowCount(), 5);
    toChoose = {QString::fromStdString(dir / "Bilder/Urlaub/b.png")};
    QTest::keyClick(dialog.Control(res::kMainRate), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(dialog.FileList()->rowCount(), 6);
    EXPECT_TRUE(recorder.messages().empty());

    EXPECT_EQ(ImageNameFilters(InputTypeFlags::Only(0)).front(),
              "Bilddateien (*.jpg *.jpeg *.bmp *.png *.webp *.avif *.heic *.heif *.hif *.jxl)");
    EXPECT_EQ(ImageNameFilters(InputTypeFlags::Only(0b110)).front(), "Bilddateien (*.jpg *.jpeg *.png)");
    EXPECT_EQ(ImageNameFilters(InputTypeFlags::Only(0b101010)).front(),
              "Bilddateien (*.jpg *.jpeg *.avif *.heic *.heif *.hif)");
}

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
    std::string path = dir.path();
    BrowseForFolder(nullptr, "Bitte Zielverzeichnis auswählen", path);
    QCoreApplication::removeTranslator(german);
    delete german;

    EXPECT_EQ(title, "Bitte Zielverzeichnis auswählen");
    EXPECT_EQ(path, dir.path());  // cancelled
    EXPECT_TRUE(buttons.contains("&Auswählen")) << buttons.join('|').toStdString();
    EXPECT_TRUE(buttons.contains("Abbrechen")) << buttons.join('|').toStdString();
    EXPECT_TRUE(labels.contains("Suchen in:")) << labels.join('|').toStdString();
    EXPECT_FALSE(buttons.contains("Cancel") || labels.contains("Look in:"));
}

}  // namespace
}  // namespace qx::test
