// The report of the last batch in the window: its entry, its table after a real batch, sorting, saving as
// CSV; the failure box that silences the rest of a batch.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "engine/report.h"
#include "res/strings.h"
#include "support/images.h"
#include "ui/file_chooser.h"
#include "ui/file_list_ctrl.h"
#include "ui/main_dialog.h"
#include "ui/report_dialog.h"
#include "ui_test_support.h"

namespace qx::test {
namespace {

class ReportWindowTest : public WindowTest {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "quelle");
        store.WriteProfileInt("Allg", "Bildsize", 1);
        store.WriteProfileInt("Allg", "Breite", 100);
        store.WriteProfileInt("Allg", "Hoehe", 100);
        store.WriteProfileInt("Allg", "NichtVergroessern", 1);
        store.WriteProfileInt("Allg", "ZielPath", 1);
        store.WriteProfileStringA("Allg", "Verz", dir / "ziel");
        store.WriteProfileInt("Parameter", "ThreadAnzahl", 1);  // one at a time: boxes in list order
    }
    ~ReportWindowTest() override { SetSavePicker({}); }
    // a and e written, b left alone, c and d do not decode.
    void MixedFiles() {
        test::WriteImage(dir / "quelle/a.jpg", 400, 300);
        test::WriteImage(dir / "quelle/b.png", 40, 30, "png");
        test::WriteBytes(dir / "quelle/c.png", test::PngWithBrokenPixels(800, 600));
        test::WriteBytes(dir / "quelle/d.png", test::PngWithBrokenPixels(900, 600));
        test::WriteImage(dir / "quelle/e.png", 150, 300, "png");
    }
    // Opens the report through its menu entry and hands the window to `look` while it is up.
    void OpenReport(CMainDialog& main, const std::function<void(CReportDialog&)>& look) {
        QAction* entry = main.SystemMenu()->actions().back();
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* report = qobject_cast<CReportDialog*>(QApplication::activeModalWidget());
            if (!report) return;
            seen = true;
            look(*report);
            report->reject();
        });
        entry->trigger();
        EXPECT_TRUE(seen) << "the report window opened modally";
    }
    std::string Text(QTableWidget* table, int row, int column) {
        return table->item(row, column)->text().toStdString();
    }
};

TEST_F(ReportWindowTest, TheLastEntryOpensAnEmptyReportBeforeAnyBatch) {
    CMainDialog main(store);
    const QList<QAction*> actions = main.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), "Bericht der letzten Komprimierung...");
    EXPECT_EQ(actions.back()->data().toUInt(), kIdmReport);
    OpenReport(main, [&](CReportDialog& report) {
        EXPECT_EQ(report.windowTitle(), "Bericht der letzten Komprimierung");
        EXPECT_EQ(report.Table()->rowCount(), 0);
        EXPECT_EQ(report.Table()->columnCount(), 11);
        EXPECT_EQ(report.TotalsLabel()->text().toStdString(), res::LoadString(res::IDS_REPORT_NONE));
        EXPECT_FALSE(report.ControlAs<QPushButton>(res::kReportSave)->isEnabled());
    });
    EXPECT_TRUE(recorder.messages().empty()) << "nothing opens by itself";
}

TEST_F(ReportWindowTest, TableAfterARealBatchSortsByNumberAndSavesAsCsv) {
    MixedFiles();
    CMainDialog main(store);
    main.show();
    main.OnDropFiles({dir / "quelle"});
    ASSERT_EQ(main.FileList()->rowCount(), 5);
    main.CompressButton()->click();
    ASSERT_NE(main.LastReport(), nullptr);
    EXPECT_EQ(recorder.messages().size(), 3u) << "two failure boxes and the skipped count";

    const std::string saved = dir / "gespeichert";
    SetSavePicker([&](QWidget*, const QString& title, const QString&, const QStringList& filters, QString& chosen) {
        EXPECT_EQ(title, "Bericht speichern");
        EXPECT_TRUE(filters.front().endsWith("(*.csv)"));
        chosen = QString::fromStdString(saved);  // no extension: ".csv" is added
        return true;
    });
    OpenReport(main, [&](CReportDialog& report) {
        QTableWidget* table = report.Table();
        ASSERT_EQ(table->rowCount(), 5);
        // The reason is in view at the window's width, after the result.
        EXPECT_EQ(table->horizontalHeaderItem(3)->text(), "Grund");
        EXPECT_LE(table->columnViewportPosition(3) + table->columnWidth(3), table->viewport()->width());
        const char* names[] = {"a.jpg", "b.png", "c.png", "d.png", "e.png"};
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(Text(table, r, 0), dir / "quelle/" + names[r]) << "list order before any sorting";
            EXPECT_EQ(Text(table, r, 4), FormatByteSize(SizeOnDisk(dir / "quelle/" + names[r])));
        }
        EXPECT_EQ(Text(table, 0, 1), dir / "ziel/a.jpg");
        EXPECT_EQ(Text(table, 0, 2), "geschrieben");
        EXPECT_EQ(Text(table, 0, 5), FormatByteSize(SizeOnDisk(dir / "ziel/a.jpg")));
        EXPECT_EQ(Text(table, 0, 6), *FormatChange(SizeOnDisk(dir / "quelle/a.jpg"), SizeOnDisk(dir / "ziel/a.jpg")));
        EXPECT_EQ(Text(table, 0, 7), "400 * 300");
        EXPECT_EQ(Text(table, 0, 8), "100 * 75");
        EXPECT_EQ(Text(table, 1, 2), "übersprungen");
        EXPECT_EQ(Text(table, 1, 5), "");
        EXPECT_EQ(Text(table, 1, 3), res::LoadString(res::IDS_SKIPPED_NO_ENLARGE)) << "every skip says why";
        EXPECT_EQ(Text(table, 2, 2), "fehlgeschlagen");
        EXPECT_EQ(Text(table, 2, 3).rfind(res::LoadString(res::IDS_REASON_BROKEN_DATA), 0), 0u);
        EXPECT_EQ(Text(table, 4, 8), "50 * 100");
        const ReportTotals totals = main.LastReport()->Totals();
        EXPECT_EQ(totals.written, 2);
        EXPECT_EQ(totals.bytesBefore, SizeOnDisk(dir / "quelle/a.jpg") + SizeOnDisk(dir / "quelle/e.png"));
        EXPECT_EQ(totals.bytesAfter, SizeOnDisk(dir / "ziel/a.jpg") + SizeOnDisk(dir / "ziel/e.jpg"));
        EXPECT_EQ(report.TotalsLabel()->text().toStdString(), FormatSummaryLine(totals));

        // Sizes sort as numbers, not as their texts ("9,5 KB" after "10,1 KB").
        for (int column : {4, 7}) {
            table->sortByColumn(column, Qt::AscendingOrder);
            std::vector<int64_t> keys;
            for (int r = 0; r < 5; ++r) keys.push_back(table->item(r, column)->data(Qt::UserRole).toLongLong());
            EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << column;
        }
        table->sortByColumn(7, Qt::DescendingOrder);
        EXPECT_EQ(Text(table, 0, 0), dir / "quelle/d.png") << "900 * 600, the most pixels";
        table->sortByColumn(0, Qt::AscendingOrder);
        EXPECT_EQ(Text(table, 4, 0), dir / "quelle/e.png");
        EXPECT_TRUE(table->horizontalHeader()->isSortIndicatorShown());
        EXPECT_EQ(table->horizontalHeader()->sortIndicatorSection(), 0);

        report.ControlAs<QPushButton>(res::kReportSave)->click();
    });
    const std::string csv = test::ReadBytes(saved + ".csv");
    EXPECT_EQ(csv, ReportCsv(*main.LastReport())) << "the rows in list order, whatever the table's order";
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 6);
}

TEST_F(ReportWindowTest, NoFurtherFailureBoxesOnceAskedButTheSkippedCountAndTheNextBatchStillShow) {
    test::WriteImage(dir / "quelle/a.png", 40, 30, "png");  // left alone
    for (char c = 'b'; c <= 'f'; ++c)
        test::WriteBytes(dir / "quelle/" + c + std::string(".png"), test::PngWithBrokenPixels(800, 600));
    CMainDialog main(store);
    main.show();
    main.OnDropFiles({dir / "quelle"});
    recorder.quietAtFailure = 1;  // the second box is left with its check box checked
    main.CompressButton()->click();
    const auto failed = [&](char c) { return res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "quelle/" + c + ".png"); };
    EXPECT_EQ(recorder.messages(),
              (std::vector<std::string>{failed('b'), failed('c'), res::LoadString(res::IDS_SKIPPED_ONE)}));
    ASSERT_NE(main.LastReport(), nullptr);
    ASSERT_EQ(main.LastReport()->rows.size(), 6u);
    for (int r = 1; r < 6; ++r) {
        EXPECT_EQ(main.LastReport()->rows[size_t(r)].result, FileResult::Failed);
        EXPECT_EQ(main.LastReport()->rows[size_t(r)].message, failed(char('a' + r))) << "in the report all the same";
    }

    // The next batch asks again from its first failure.
    recorder.Clear();
    main.CompressButton()->click();
    EXPECT_EQ(recorder.messages().size(), 6u);
}

TEST_F(ReportWindowTest, UncheckedFailureBoxesKeepTheirSequence) {
    for (char c = 'a'; c <= 'c'; ++c)
        test::WriteBytes(dir / "quelle/" + c + std::string(".png"), test::PngWithBrokenPixels(800, 600));
    CMainDialog main(store);
    main.OnDropFiles({dir / "quelle"});
    main.CompressButton()->click();
    EXPECT_EQ(recorder.failureBoxes(), 3);
    EXPECT_EQ(recorder.messages().size(), 3u);
}

}  // namespace
}  // namespace qx::test
