// quendrix-batch --report and the summary line: the rows read back from the file against the files on disk.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "engine/report.h"
#include "res/strings.h"
#include "support/child_process.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::Exists;
using test::MakeDir;
using test::ReadBytes;
using test::RunChild;
using test::RunResult;
using test::ScratchDir;
using test::SizeOnDisk;
using test::WriteBytes;
using test::WriteImage;
using Record = std::map<std::string, std::string>;

// A CSV cell's bytes: \xNN is a byte that is no UTF-8, \\ a backslash.
std::string CellBytes(std::string cell) {
    for (size_t at = 0; (at = cell.find('\\', at)) != std::string::npos; ++at) {
        const bool hex = cell[at + 1] == 'x';
        cell.replace(at, hex ? 4 : 2,
                     hex ? std::string(1, char(std::stoi(cell.substr(at + 2, 2), nullptr, 16))) : "\\");
    }
    return cell;
}

// RFC 4180 with ";" after a byte order mark; the German result words read back as the JSON Lines codes.
std::vector<Record> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (size_t i = 3; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = records.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ';') {
            records.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            records.emplace_back(1);
        } else {
            field += c;
        }
    }
    records.pop_back();  // after the last CR LF
    const std::vector<std::string> keys = {
        "source",      "target",       "result",  "bytes_before", "bytes_after", "width_before", "height_before",
        "width_after", "height_after", "message", "reason",       "quality",     "distance"};
    const std::map<std::string, std::string> results = {
        {"geschrieben", "written"}, {"übersprungen", "skipped"}, {"fehlgeschlagen", "failed"}};
    std::vector<Record> rows;
    for (size_t r = 1; r < records.size(); ++r) {
        EXPECT_EQ(records[r].size(), records[0].size());
        Record row;
        for (size_t f = 0; f < records[0].size() && f < records[r].size(); ++f)
            row[keys.at(f)] = CellBytes(records[r][f]);
        row["result"] = results.at(row["result"]);
        rows.push_back(row);
    }
    return rows;
}

// Each line one JSON object; numbers and null as text, paths as their exact bytes.
std::vector<Record> ParseJsonLines(const std::string& text) {
    std::vector<Record> rows;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        Record row;
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QJsonValue value = it.value();
            row[it.key().toStdString()] = value.isNull()     ? ""
                                          : value.isDouble() ? std::to_string(value.toInteger())
                                                             : value.toString().toStdString();
        }
        for (const char* path : {"source", "target"}) {
            const auto bytes = row.find(std::string(path) + "_bytes");
            if (bytes != row.end())
                row[path] = QByteArray::fromPercentEncoding(QByteArray::fromStdString(bytes->second)).toStdString();
        }
        rows.push_back(row);
    }
    return rows;
}

class ReportCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDir(dir / "fotos");
        WriteImage(dir / "fotos/a.jpg", 800, 600);
        WriteImage(dir / "fotos/b\xff.png", 40, 30, "png");  // left alone, and a name that is not UTF-8
        WriteBytes(dir / "fotos/c.png", test::PngWithBrokenPixels(800, 600));  // larger than the box: decoded
        WriteImage(dir / "fotos/d.png", 300, 400, "png");
        WriteBytes(dir / "quendrix.ini", "[Parameter]\nThreadAnzahl=2\n");
    }
    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--settings", dir / "quendrix.ini", "--no-enlarge", "--size", "box:200x200",
                                   "--target-folder", dir / "aus"});
        args.push_back(dir / "fotos");
        return RunChild(test::kBatchProgram, {.args = args});
    }
    void ExpectRowsMatchTheDisk(const std::vector<Record>& rows) {
        ASSERT_EQ(rows.size(), 4u);
        const std::vector<std::string> names = {"a.jpg", "b\xff.png", "c.png", "d.png"};
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].at("source"), dir / "fotos/" + names[i]);
            EXPECT_EQ(rows[i].at("bytes_before"), std::to_string(SizeOnDisk(dir / "fotos/" + names[i])));
        }
        EXPECT_EQ(rows[0].at("result"), "written");
        EXPECT_EQ(rows[0].at("target"), dir / "aus/a.jpg");
        EXPECT_EQ(rows[0].at("bytes_after"), std::to_string(SizeOnDisk(dir / "aus/a.jpg")));
        EXPECT_EQ(rows[0].at("width_after") + "x" + rows[0].at("height_after"), "200x150");
        EXPECT_EQ(rows[1].at("result"), "skipped");
        EXPECT_EQ(rows[1].at("target"), dir / "aus/b\xff.jpg");
        EXPECT_EQ(rows[1].at("bytes_after"), "");
        EXPECT_EQ(rows[1].at("reason"), res::LoadString(res::IDS_SKIPPED_NO_ENLARGE));
        EXPECT_EQ(rows[1].at("width_before") + "x" + rows[1].at("height_before"), "40x30");
        EXPECT_EQ(rows[2].at("result"), "failed");
        EXPECT_EQ(rows[2].at("message"), res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "fotos/c.png"));
        EXPECT_EQ(rows[2].at("reason").rfind(res::LoadString(res::IDS_REASON_BROKEN_DATA), 0), 0u);
        EXPECT_EQ(rows[3].at("result"), "written");
        EXPECT_EQ(rows[3].at("width_after") + "x" + rows[3].at("height_after"), "150x200");
    }
    ScratchDir dir;
};

TEST_F(ReportCliTest, CsvAndJsonLinesHoldEveryFileAndTheSummaryLineTheTotals) {
    const RunResult csv = Run({"--report", dir / "bericht.csv"});
    EXPECT_EQ(csv.exitCode, 1) << csv.err;  // one file failed
    ExpectRowsMatchTheDisk(ParseCsv(ReadBytes(dir / "bericht.csv")));

    const int64_t before = SizeOnDisk(dir / "fotos/a.jpg") + SizeOnDisk(dir / "fotos/d.png");
    const int64_t after = SizeOnDisk(dir / "aus/a.jpg") + SizeOnDisk(dir / "aus/d.jpg");
    const std::string summary = FormatSummaryLine({2, 1, 1, before, after});
    EXPECT_EQ(summary.rfind("2 Bilder geschrieben, 1 übersprungen, 1 fehlgeschlagen: ", 0), 0u) << summary;
    ASSERT_GE(csv.err.size(), summary.size() + 1);
    EXPECT_EQ(csv.err.substr(csv.err.size() - summary.size() - 1), summary + "\n") << "the last line: " << csv.err;

    const RunResult jsonl = Run({"--quiet", "--report", dir / "bericht.jsonl"});
    EXPECT_EQ(jsonl.exitCode, 1);
    EXPECT_EQ(jsonl.err, res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "fotos/c.png") + "\n" +
                             res::LoadString(res::IDS_SKIPPED_ONE) + "\n")
        << "--quiet: no summary";
    ExpectRowsMatchTheDisk(ParseJsonLines(ReadBytes(dir / "bericht.jsonl")));
}

TEST_F(ReportCliTest, AReportThatCannotBeWrittenStopsBeforeAnyFileIsTouched) {
    for (const std::string& report :
         {dir / "bericht.txt", dir / "bericht", dir / "fehlt/bericht.csv", dir / "fotos/a.jpg"}) {
        const RunResult r = Run({"--report", report});
        EXPECT_EQ(r.exitCode, 2) << report;
        EXPECT_NE(r.err.find("quendrix-batch: --report \"" + report + "\": "), std::string::npos) << r.err;
        EXPECT_FALSE(Exists(dir / "aus")) << report;
    }
    EXPECT_FALSE(Exists(dir / "bericht.txt"));
    MakeDir(dir / "ordner.csv");
    EXPECT_EQ(Run({"--report", dir / "ordner.csv"}).exitCode, 2) << "a folder is no report file";
    EXPECT_FALSE(Exists(dir / "aus"));
}

TEST_F(ReportCliTest, AnEarlierReportIsReplacedWhole) {
    WriteBytes(dir / "bericht.csv", std::string(100000, 'x'));
    Run({"--quiet", "--report", dir / "bericht.csv"});
    const std::string text = ReadBytes(dir / "bericht.csv");
    EXPECT_EQ(text.find('x' + std::string(100, 'x')), std::string::npos);
    EXPECT_EQ(ParseCsv(text).size(), 4u);
    EXPECT_EQ(test::FolderEntries(dir.path()),
              (std::vector<std::string>{"aus", "bericht.csv", "fotos", "quendrix.ini"}))
        << "no temporary file left";
}

}  // namespace
}  // namespace qx::test
