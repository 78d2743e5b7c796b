// From a drop onto the main window through "Komprimieren" to files on disk; the list control itself.
#include <QAbstractButton>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <set>

#include "intake/intake.h"
#include "res/strings.h"
#include "settings/settings.h"
#include "ui/file_list_ctrl.h"
#include "ui/info_dialog.h"
#include "ui/main_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

namespace fs = std::filesystem;

const std::string kCorpus = QUENDRIX_CORPUS;

// A drop as a file manager sends it: a text/uri-list with percent-encoded bytes.
void Drop(CMainDialog& dialog, const std::vector<std::string>& paths) {
    QByteArray list;
    for (const std::string& path : paths)
        list += "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
    QMimeData data;
    data.setData("text/uri-list", list);
    const QPoint at = dialog.FileList()->geometry().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
}

class BatchTest : public WindowTest {
protected:
    void SetUp() override {
        source = dir / "quelle";
        target = dir / "ziel";
        fs::create_directories(source + "/unter");
        fs::copy_file(kCorpus + "/libjpeg-turbo/testorig.jpg", source + "/foto.jpg");
        fs::copy_file(kCorpus + "/pngsuite/basn2c08.png", source + "/unter/klein.png");    // 32 x 32
        fs::copy_file(kCorpus + "/libjpeg-turbo/testorig.jpg", source + "/bild\xff.jpg");  // not UTF-8
        // Fit into 100 x 100 without enlarging, into the folder "ziel".
        store.WriteProfileInt("Allg", "Bildsize", 1);
        store.WriteProfileInt("Allg", "Breite", 100);
        store.WriteProfileInt("Allg", "Hoehe", 100);
        store.WriteProfileInt("Allg", "NichtVergroessern", 1);
        store.WriteProfileInt("Allg", "ZielPath", 1);
        store.WriteProfileStringA("Allg", "Verz", target);
    }
    void RunFromTheButton(int threads) {
        store.WriteProfileInt("Parameter", "ThreadAnzahl", threads);
        CMainDialog dialog(store);
        dialog.show();
        Drop(dialog, {source});
        CFileListCtrl* list = dialog.FileList();
        ASSERT_EQ(list->rowCount(), 3);
        EXPECT_EQ(list->RowPath(0), source + "/bild\xff.jpg");  // sorted bytewise: 'b' < 'f' < 'u'
        EXPECT_EQ(list->RowPath(1), source + "/foto.jpg");
        EXPECT_EQ(list->RowPath(2), source + "/unter/klein.png");
        EXPECT_EQ(list->CellText(1, 1), "227 * 149");
        EXPECT_TRUE(list->CellText(1, 2).endsWith(" KB"));

        // The bar moves while the batch runs, the button stays off meanwhile.
        std::set<int> positions;
        bool buttonWasOff = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            positions.insert(dialog.ProgressBar()->value());
            buttonWasOff = buttonWasOff || !dialog.CompressButton()->isEnabled();
        });
        watch.start(0);
        QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
        watch.stop();
        EXPECT_TRUE(buttonWasOff);
        if (threads == 0) {
            EXPECT_TRUE(positions.count(1) && positions.count(2)) << positions.size();
        }
        EXPECT_EQ(recorder.messages(), std::vector<std::string>{res::LoadString(res::IDS_SKIPPED_ONE)});
        EXPECT_EQ(dialog.SkippedCount(), 1);
        EXPECT_TRUE(dialog.CompressButton()->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(list->rowCount(), 3);  // the batch leaves the list as it is
        uint32_t width = 0, height = 0;
        ASSERT_TRUE(ProbeImageSize(target + "/foto.jpg", width, height));
        EXPECT_EQ(width, 100u);
        EXPECT_LE(height, 100u);
        EXPECT_TRUE(fs::exists(target + "/bild\xff.jpg"));
        EXPECT_FALSE(fs::exists(target + "/klein.jpg"));
        EXPECT_TRUE(fs::exists(source + "/foto.jpg"));
    }
    std::string source, target;
};

TEST_F(BatchTest, DropThenCompressOnTheWindowThread) { RunFromTheButton(0); }
TEST_F(BatchTest, DropThenCompressOnWorkers) { RunFromTheButton(10); }

TEST_F(BatchTest, EnterStartsTheBatchAndAnEmptyListIsReported) {
    CMainDialog dialog(store);
    dialog.show();
    QTest::keyClick(dialog.Control(res::kMainWidth), Qt::Key_Return);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{res::LoadString(res::IDS_LIST_EMPTY)});
    EXPECT_TRUE(dialog.isVisible());  // the batch leaves the window open
}

TEST_F(BatchTest, ASizeLimitOutOfRangeInTheSettingsFileStopsTheBatch) {
    CMainDialog dialog(store);
    dialog.show();
    Drop(dialog, {source});
    store.WriteProfileInt("Erweitert", "MaxKBAktiv", 1);
    for (const char* stored : {"0", "-5", "2000000", "abc"}) {
        store.WriteProfileStringA("Erweitert", "MaxKB", stored);
        recorder.Clear();
        QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
        const std::string shown = std::string(stored) == "abc" ? "0" : stored;  // read as every number is
        EXPECT_EQ(recorder.messages(),
                  std::vector<std::string>{"Einstellungsdatei MaxKB=" + shown +
                                           ": Bitte geben Sie eine ganze Zahl zwischen 1 und 1000000 ein."})
            << stored;
        EXPECT_FALSE(fs::exists(target)) << stored;
        EXPECT_TRUE(dialog.CompressButton()->isEnabled());
        EXPECT_EQ(dialog.FileList()->rowCount(), 3);
    }
    // Set right, the batch runs.
    store.WriteProfileInt("Erweitert", "MaxKB", 1000000);
    recorder.Clear();
    QTest::mouseClick(dialog.CompressButton(), Qt::LeftButton);
    EXPECT_EQ(recorder.messages(), std::vector<std::string>{res::LoadString(res::IDS_SKIPPED_ONE)});
    EXPECT_TRUE(fs::exists(target + "/foto.jpg"));
}

TEST_F(BatchTest, DropTakesTheInputTypesFromTheSettingsAtEveryDrop) {
    CMainDialog dialog(store);
    store.WriteProfileInt("Parameter", "EingabeTyp", 4);  // PNG only
    Drop(dialog, {source});
    ASSERT_EQ(dialog.FileList()->rowCount(), 1);
    EXPECT_EQ(dialog.FileList()->RowPath(0), source + "/unter/klein.png");
    store.WriteProfileInt("Parameter", "EingabeTyp", 2);  // JPG only; the same file twice is listed twice
    Drop(dialog, {source + "/foto.jpg", source + "/foto.jpg", source + "/unter/klein.png"});
    ASSERT_EQ(dialog.FileList()->rowCount(), 3);
    EXPECT_EQ(dialog.FileList()->RowPath(2), source + "/foto.jpg");
    QTest::mouseClick(dialog.ControlAs<QPushButton>(res::kMainClearList), Qt::LeftButton);
    EXPECT_EQ(dialog.FileList()->rowCount(), 0);
    EXPECT_TRUE(fs::exists(source + "/foto.jpg"));
}

TEST_F(BatchTest, WindowKeepsRunningItsEventsWhileAFolderIsWalked) {
    const std::string many = dir / "viele";
    fs::create_directories(many);
    for (int i = 0; i < 40; ++i)
        fs::copy_file(kCorpus + "/pngsuite/basn2c08.png", many + "/b" + std::to_string(100 + i) + ".png");
    CMainDialog dialog(store);
    dialog.show();
    int rowsWhenTheTimerRan = -1;
    QTimer::singleShot(0, &dialog, [&] { rowsWhenTheTimerRan = dialog.FileList()->rowCount(); });
    Drop(dialog, {many});
    EXPECT_EQ(dialog.FileList()->rowCount(), 40);
    EXPECT_GT(rowsWhenTheTimerRan, 0);  // events ran in the middle of the walk
    EXPECT_LT(rowsWhenTheTimerRan, 40);
}

TEST(DroppedPaths, UriListKeepsTheExactBytes) {
    QMimeData data;
    data.setData("text/uri-list",
                 "# comment\r\nfile:///tmp/a%20b/bild%FF.jpg\r\nfile:///tmp/gr%C3%B6%C3%9Fe.png\r\n"
                 "http://example.org/x.jpg\r\n");
    EXPECT_EQ(DroppedPaths(data), (std::vector<std::string>{"/tmp/a b/bild\xff.jpg",
                                                            "/tmp/gr\xc3\xb6\xc3\x9f"
                                                            "e.png"}));
}

class FileListTest : public WindowTest {};

TEST_F(FileListTest, ColumnsRowsAndWidthsThatOnlyGrow) {
    CFileListCtrl list;
    list.SetReportStyle();
    EXPECT_TRUE(list.showGrid());
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(list.horizontalHeader()->sectionsMovable());
    list.SetColumns({"x", "y"});
    list.AppendRow({"1", "2"}, 0);
    list.SetColumns({"Dateiname", "Bildgröße (Breite * Hoehe)", "Dateigröße"});
    ASSERT_EQ(list.columnCount(), 3);
    EXPECT_EQ(list.rowCount(), 0);
    EXPECT_EQ(list.columnWidth(0), list.PaddedWidth("Dateiname"));
    EXPECT_EQ(list.PaddedWidth("Dateiname"), list.fontMetrics().horizontalAdvance("Dateiname") + 12);

    EXPECT_EQ(list.AppendRow({"/kurz", "1 * 1", "0,01 KB"}, 0), 0);
    EXPECT_EQ(list.columnWidth(0), list.PaddedWidth("Dateiname"));  // narrower: unchanged
    const QString longPath = "/ein/sehr/langer/Pfad/zu/einem/Bild/mit/vielen/Ordnern.jpg";
    EXPECT_EQ(list.AppendRow({longPath, "1 * 1", "0,01 KB"}, 0), 1);
    EXPECT_EQ(list.columnWidth(0), list.PaddedWidth(longPath));
    EXPECT_EQ(list.AppendRow({}, 0), 2);  // nothing inserted
    EXPECT_EQ(list.rowCount(), 2);

    list.ClearList();
    EXPECT_EQ(list.rowCount(), 0);
    list.AppendRow({"/k", "1 * 1", "0,01 KB"}, 0);
    EXPECT_EQ(list.columnWidth(0), list.PaddedWidth(longPath));
    // Moving a header changes the display only: column 0 still holds the path.
    list.horizontalHeader()->moveSection(0, 2);
    EXPECT_EQ(list.CellText(0, 0), "/k");
    EXPECT_EQ(list.RowPath(0), "/k");
}

TEST_F(FileListTest, InfoBoxShowsTheProgramFilesVersion) {
    CInfoDialog info(nullptr, std::string(QUENDRIX_BINARY_DIR) + "/quendrix");
    EXPECT_EQ(info.windowTitle(), "Info über Quendrix");
    EXPECT_EQ(info.VersionText(), "1,0,0,6");
    EXPECT_EQ(info.ControlAs<QLabel>(res::kInfoVersion)->text(), "1,0,0,6");
    // A file without a record: the field stays empty.
    const std::string plain = dir / "ohne";
    QFile file(QString::fromStdString(plain));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("kein Programm");
    file.close();
    CInfoDialog without(nullptr, plain);
    EXPECT_EQ(without.ControlAs<QLabel>(res::kInfoVersion)->text(), "");
}

TEST_F(FileListTest, MainWindowUpDownsKeepTheDefaultRangeSoUpLowers) {
    CMainDialog dialog(store);
    auto* rate = dialog.ControlAs<QLineEdit>(res::kMainRate);
    auto* spin = dialog.ControlAs<CUpDown>(res::kMainRateSpin);
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->Buddy(), rate);
    EXPECT_EQ(spin->geometry().left(), rate->geometry().right() + 1);  // at the partner's right edge
    spin->Step(+1);
    EXPECT_EQ(rate->text(), "79");
    rate->setText("100");
    spin->Step(-1);
    EXPECT_EQ(rate->text(), "100");
}

}  // namespace
}  // namespace qx::test
