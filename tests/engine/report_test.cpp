// What a batch reports of each file: the events its host gets, the report's rows against the files on disk,
// the summary line and the two file formats.
#include <gtest/gtest.h>

#include "engine/batch.h"
#include "engine/report.h"
#include "engine_test_support.h"
#include "res/strings.h"
#include "support/batch_support.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::SizeOnDisk;
using test::WriteImage;

// Records the file events and the messages in the order they come, and the thread they come on.
class EventHost : public test::QuietHost {
public:
    std::vector<std::string> events;
    std::vector<FileOutcome> outcomes;
    bool otherThread = false;
    const std::thread::id batchThread = std::this_thread::get_id();

    void ShowMessage(const std::string& text) override { Note("message " + text); }
    void OnFileStarted(const FileStart& file) override { Note("start " + std::to_string(file.row)); }
    void OnFileDone(const FileOutcome& outcome) override {
        Note("done " + std::to_string(outcome.row));
        outcomes.push_back(outcome);
    }

private:
    void Note(const std::string& event) {
        if (std::this_thread::get_id() != batchThread) otherThread = true;
        events.push_back(event);
    }
};

class ReportTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    EventHost host;
    RowList rows;

    void SetUp() override {
        host.main.Bildsize = kSizeBox;
        host.main.Breite = 64;
        host.main.Hoehe = 64;
        host.main.NichtVergroessern = 1;
        host.main.ZielPath = kTargetVerz;
        host.main.Verz = dir / "out";
    }
    // Rows 0 and 3 are written, 1 is left alone (no larger than the box), 2 does not decode.
    void MixedRows() {
        WriteImage(dir / "a.png", 160, 120, "png");
        WriteImage(dir / "b.png", 40, 30, "png");
        test::WriteBytes(dir / "c.png", test::PngWithBrokenPixels(80, 60));
        WriteImage(dir / "d.jpg", 90, 120);
        rows = test::RowsOf({dir / "a.png", dir / "b.png", dir / "c.png", dir / "d.jpg"});
    }
};

TEST_F(ReportTest, RowsMatchTheFilesOnDiskWithAndWithoutWorkers) {
    MixedRows();
    for (int32_t threads : {0, 3}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        host.parameters.ThreadAnzahl = threads;
        host.events.clear();
        host.outcomes.clear();
        std::filesystem::remove_all(dir / "out");
        // Without workers the failure of row 2 ends the batch: row 3 is never started, and listed as not done.
        const BatchResult result = RunBatch(host, rows);
        const size_t started = threads == 0 ? 3 : 4;
        ASSERT_EQ(result.Report.rows.size(), 4u);
        EXPECT_EQ(result.Report.rows[3].result, threads == 0 ? FileResult::NotDone : FileResult::Written);
        EXPECT_EQ(result.Report.rows[3].sourcePath, rows.RowPath(3));
        EXPECT_EQ(result.Report.Totals().notDone, threads == 0 ? 1 : 0);
        EXPECT_FALSE(host.otherThread) << "every event on the batch's thread";
        for (size_t i = 0; i < started; ++i) {
            const FileOutcome& row = result.Report.rows[i];
            EXPECT_EQ(row.row, static_cast<int>(i)) << "list order";
            EXPECT_EQ(row.sourcePath, rows.RowPath(static_cast<int>(i)));
            EXPECT_EQ(row.bytesBefore, SizeOnDisk(rows.RowPath(static_cast<int>(i))));
        }
        const FileOutcome& a = result.Report.rows[0];
        EXPECT_EQ(a.result, FileResult::Written);
        EXPECT_EQ(a.targetPath, dir / "out/a.jpg");
        EXPECT_EQ(a.bytesAfter, SizeOnDisk(dir / "out/a.jpg"));
        EXPECT_EQ(std::make_pair(a.widthBefore, a.heightBefore), std::make_pair(160u, 120u));
        EXPECT_EQ(test::DecodedSize(dir / "out/a.jpg"), std::make_pair(a.widthAfter, a.heightAfter));
        EXPECT_EQ(std::make_pair(a.widthAfter, a.heightAfter), std::make_pair(64u, 48u));

        const FileOutcome& b = result.Report.rows[1];
        EXPECT_EQ(b.result, FileResult::Skipped);
        EXPECT_EQ(b.bytesAfter, -1);
        EXPECT_EQ(std::make_pair(b.widthBefore, b.heightBefore), std::make_pair(40u, 30u));
        EXPECT_EQ(b.widthAfter, 0u);
        EXPECT_FALSE(test::Exists(dir / "out/b.jpg"));

        const FileOutcome& c = result.Report.rows[2];
        EXPECT_EQ(c.result, FileResult::Failed);
        EXPECT_EQ(c.message, res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "c.png"));
        EXPECT_EQ(c.failure, imaging::Failure::BrokenData);
        EXPECT_EQ(c.reason.rfind(res::LoadString(res::IDS_REASON_BROKEN_DATA), 0), 0u) << c.reason;
        EXPECT_EQ(std::make_pair(c.widthBefore, c.heightBefore), std::make_pair(80u, 60u));
        EXPECT_EQ(c.bytesAfter, -1);

        // Per file: started, its message, done; the events' outcomes are the report's rows.
        for (size_t i = 0; i < started; ++i) {
            const auto at = [&](const std::string& event) {
                return std::find(host.events.begin(), host.events.end(), event) - host.events.begin();
            };
            const std::string row = std::to_string(i);
            EXPECT_LT(at("start " + row), at("done " + row));
            if (i == 2) {
                const auto message = at("message " + c.message);
                EXPECT_LT(at("start 2"), message);
                EXPECT_LT(message, at("done 2"));
            }
        }
        ASSERT_EQ(host.outcomes.size(), started);

        const ReportTotals totals = result.Report.Totals();
        EXPECT_EQ(totals.written, threads == 0 ? 1 : 2);
        EXPECT_EQ(totals.skipped, 1);
        EXPECT_EQ(totals.failed, 1);
        int64_t before = SizeOnDisk(dir / "a.png"), after = SizeOnDisk(dir / "out/a.jpg");
        if (threads != 0) before += SizeOnDisk(dir / "d.jpg"), after += SizeOnDisk(dir / "out/d.jpg");
        EXPECT_EQ(totals.bytesBefore, before) << "written files only";
        EXPECT_EQ(totals.bytesAfter, after);
    }
}

TEST(ReportText, SummaryLineInGermanNumbers) {
    ReportTotals totals{40, 2, 1, 118699622, 1363149};  // 113,2 MB and 1,3 MB
    EXPECT_EQ(FormatSummaryLine(totals),
              "40 Bilder geschrieben, 2 übersprungen, 1 fehlgeschlagen: 113,2 MB \u2192 1,3 MB (\u221298,9 %)");
    EXPECT_EQ(FormatSummaryLine({1, 0, 0, 1000, 1120}),
              "1 Bild geschrieben, 0 übersprungen, 0 fehlgeschlagen: 1000 Bytes \u2192 1,1 KB (+12,0 %)");
    EXPECT_EQ(FormatSummaryLine({0, 4, 0, 0, 0}), "0 Bilder geschrieben, 4 übersprungen, 0 fehlgeschlagen");
    EXPECT_EQ(FormatSummaryLine({2, 0, 0, 0, 10}),
              "2 Bilder geschrieben, 0 übersprungen, 0 fehlgeschlagen: 0 Bytes \u2192 10 Bytes")
        << "no change in per cent of nothing";
    EXPECT_EQ(FormatChange(1000, 1000), "0,0 %");
    EXPECT_EQ(FormatChange(100000, 99999), "0,0 %") << "a change that rounds to nothing has no sign";
    EXPECT_EQ(FormatByteSize(1023), "1023 Bytes");
    EXPECT_EQ(FormatByteSize(1024), "1,0 KB");
    EXPECT_EQ(FormatByteSize(1048575), "1,0 MB") << "rounded before the unit is chosen";
    EXPECT_EQ(FormatByteSize(int64_t{5} << 40), "5120,0 GB");
}

BatchReport SampleReport() {
    BatchReport report;
    FileOutcome written{
        0, "/b/a,\"x\".png", "/z/a.jpg", FileResult::Written, "", "", imaging::Failure::None, 1000, 400, 160, 120, 64,
        48};
    FileOutcome failed{1,
                       std::string("/b/bild\xff.png"),
                       std::string("/z/bild\xff.jpg"),
                       FileResult::Failed,
                       "Keine gültige Bilddatei: /b/bild\xff.png",
                       "Bilddaten fehlerhaft: line\nbreak",
                       imaging::Failure::BrokenData,
                       77,
                       -1,
                       80,
                       60,
                       0,
                       0};
    written.quality = 62;  // chosen by distance: the decimal comma in CSV, the point in JSON
    written.distance = 1.5f;
    report.rows = {written, failed};
    return report;
}

TEST(ReportText, CsvForAGermanSpreadsheetWithTheBytesEscaped) {
    EXPECT_EQ(ReportCsv(SampleReport()),
              "\xEF\xBB\xBFQuelldatei;Zieldatei;Ergebnis;Bytes vorher;Bytes nachher;Breite vorher;Höhe vorher;"
              "Breite nachher;Höhe nachher;Meldung;Grund;Qualität;Butteraugli-Distanz\r\n"
              "\"/b/a,\"\"x\"\".png\";/z/a.jpg;geschrieben;1000;400;160;120;64;48;;;62;1,50\r\n"
              "/b/bild\\xFF.png;/z/bild\\xFF.jpg;fehlgeschlagen;77;;80;60;;;Keine gültige Bilddatei: /b/bild\\xFF.png;"
              "\"Bilddaten fehlerhaft: line\nbreak\";;\r\n");
}

TEST(ReportText, CsvCellsAreNeverFormulasAndTellTheirBytesBack) {
    const std::pair<std::string, std::string> cases[] = {
        {"=1+2.jpg", "\"'=1+2.jpg\""}, {"-x.png", "\"'-x.png\""},  {"@A1", "\"'@A1\""},        {"\tx", "\"'\tx\""},
        {"a;b.png", "\"a;b.png\""},    {"a\\x.png", "a\\\\x.png"}, {"\xff\xc3", "\\xFF\\xC3"}, {"/=b-c", "/=b-c"},
    };
    for (const auto& [path, cell] : cases) {
        BatchReport report{{FileOutcome{}}};
        report.rows[0].sourcePath = path;
        const std::string csv = ReportCsv(report);
        EXPECT_EQ(csv.substr(csv.find("\r\n") + 2, cell.size() + 1), cell + ";") << path;
    }
}

TEST(ReportText, JsonLinesAreValidUtf8WithTheExactBytesBeside) {
    EXPECT_EQ(
        ReportJsonLines(SampleReport()),
        "{\"source\":\"/b/a,\\\"x\\\".png\",\"target\":\"/z/a.jpg\",\"result\":\"written\",\"bytes_before\":1000,"
        "\"bytes_after\":400,\"width_before\":160,\"height_before\":120,\"width_after\":64,\"height_after\":48,"
        "\"message\":\"\",\"reason\":\"\",\"quality\":62,\"distance\":1.50}\n"
        "{\"source\":\"/b/bild\\ufffd.png\",\"source_bytes\":\"/b/bild%FF.png\",\"target\":\"/z/bild\\ufffd.jpg\","
        "\"target_bytes\":\"/z/bild%FF.jpg\",\"result\":\"failed\",\"bytes_before\":77,\"bytes_after\":null,"
        "\"width_before\":80,\"height_before\":60,\"width_after\":null,\"height_after\":null,"
        "\"message\":\"Keine gültige Bilddatei: /b/bild\\ufffd.png\",\"reason\":\"Bilddaten fehlerhaft: "
        "line\\u000abreak\",\"quality\":null,\"distance\":null}\n");
}

TEST(ReportText, FormatByExtension) {
    EXPECT_EQ(ReportFormatForPath("/a/b.csv"), ReportFormat::Csv);
    EXPECT_EQ(ReportFormatForPath("B.CSV"), ReportFormat::Csv);
    EXPECT_EQ(ReportFormatForPath("x.jsonl"), ReportFormat::JsonLines);
    for (const char* other : {"x.json", "x.txt", "x", "/a.csv/x", ".csv", "/a/.jsonl", "x.csv.gz"}) {
        EXPECT_FALSE(ReportFormatForPath(other)) << other;
    }
}

}  // namespace
}  // namespace qx::test
