// The batch run with real files, real folders and real worker threads.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "engine/batch.h"
#include "engine/batch_testing.h"
#include "engine/file_io_testing.h"
#include "engine/imaging/imaging.h"
#include "engine/output_ledger.h"
#include "engine_test_support.h"
#include "intake/intake.h"
#include "res/strings.h"
#include "support/batch_support.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::AppendPath;
using test::DecodedSize;
using test::Exists;
using test::ReadBytes;
using test::WriteImage;
using Size = std::pair<uint32_t, uint32_t>;
using Calls = std::vector<std::string>;

// Records every call in order; checks that each comes on the thread that runs the batch.
class RecordingHost : public test::QuietHost {
public:
    bool valid = true;
    std::thread::id batchThread = std::this_thread::get_id();
    std::atomic<bool> callFromOtherThread{false};
    int keepAlives = 0;
    std::function<bool()> stop;  // the user's wish to stop, asked before each file
    Calls calls;

    bool ExchangeAndValidate() override { return Record("validate"), valid; }
    ParameterSettings ReadParameterSettings() override { return Record("read parameters"), parameters; }
    void SetProgressRange(int lower, int upper) override {
        Record("range " + std::to_string(lower) + ".." + std::to_string(upper));
    }
    void SetProgressPos(int position) override { Record("pos " + std::to_string(position)); }
    void EnableCompressButton(bool enable) override { Record(enable ? "button on" : "button off"); }
    void BeginWaitCursor() override { Record("cursor wait"); }
    void EndWaitCursor() override { Record("cursor normal"); }
    void KeepAlive() override {
        CheckThread();
        ++keepAlives;
    }
    bool StopRequested() override {
        CheckThread();
        return stop && stop();
    }
    void ShowMessage(const std::string& text) override {
        Record("message");
        QuietHost::ShowMessage(text);
    }

private:
    void CheckThread() {
        if (std::this_thread::get_id() != batchThread) callFromOtherThread = true;
    }
    void Record(const std::string& call) {
        CheckThread();
        calls.push_back(call);
    }
};

// Counts the workers that run at once, by wrapping every thread the batch starts.
class WorkerCounter {
public:
    explicit WorkerCounter(std::chrono::milliseconds hold = std::chrono::milliseconds(0), int failAt = -1) {
        testing::SetThreadStarter([this, hold, failAt](std::function<void()> body) {
            if (started_++ == failAt)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread([this, hold, body = std::move(body)] {
                int now = ++running_;
                int seen = most_.load();
                while (now > seen && !most_.compare_exchange_weak(seen, now)) {}
                std::this_thread::sleep_for(hold);
                body();
                --running_;
            });
        });
    }
    ~WorkerCounter() { testing::SetThreadStarter({}); }
    int most() const { return most_.load(); }
    int started() const { return started_.load(); }

private:
    std::atomic<int> started_{0};
    std::atomic<int> running_{0};
    std::atomic<int> most_{0};
};

class BatchTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    RecordingHost host;
    RowList rows;

    void SetUp() override {
        host.main.Bildsize = 1;
        host.main.Breite = 64;
        host.main.Hoehe = 64;
        host.main.ZielPath = 1;
        host.main.Verz = dir / "out";
        host.parameters.ThreadAnzahl = 0;
    }
    std::string AddImage(const std::string& name, uint32_t w = 120, uint32_t h = 90) {
        const std::string path = dir / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteImage(path, w, h, "png");
        AppendPath(rows, path);
        return path;
    }
    std::string AddNonImage(const std::string& name) {
        const std::string path = dir / name;
        test::WriteBytes(path, "not an image");
        AppendPath(rows, path);
        return path;
    }
    BatchResult Run() { return RunBatch(host, rows); }
};

TEST_F(BatchTest, PatternNamesAcrossDigitGrowthInEitherFolderForm) {
    for (const char* verz : {"out", "out/"}) {
        SCOPED_TRACE(verz);
        rows.Clear();
        for (int i = 0; i < 3; ++i) AddImage("src/" + std::to_string(i) + ".png");
        host.main.Verz = dir / verz;
        host.parameters.AusgabeDateiTyp = 1;
        host.parameters.LfdNr = 998;
        BatchResult result = Run();
        EXPECT_EQ(result.Written, 3);
        EXPECT_EQ(test::FolderEntries(dir / "out"),
                  (std::vector<std::string>{"Pic1000.jpg", "Pic998.jpg", "Pic999.jpg"}));
        EXPECT_EQ(DecodedSize(dir / "out/Pic998.jpg"), Size(64, 48));
        std::filesystem::remove_all(dir / "out");
    }
    // Into the sources' own folder: pattern names get no "_c".
    host.main.ZielPath = 0;
    host.parameters.LfdNr = 1;
    rows = test::RowsOf({dir / "src/0.png"});
    EXPECT_EQ(Run().Written, 1);
    EXPECT_TRUE(Exists(dir / "src/Pic001.jpg"));
}

TEST_F(BatchTest, NamesLikeTheSourcesGetCOnlyInTheirOwnFolder) {
    AddImage("bilder/urlaub.png");
    host.main.ZielPath = 0;
    host.parameters.AusgabeTyp = 2;
    EXPECT_EQ(Run().Written, 1);
    EXPECT_EQ(DecodedSize(dir / "bilder/urlaub_c.png"), Size(64, 48));
    host.main.ZielPath = 1;
    host.parameters.AusgabeTyp = 1;
    EXPECT_EQ(Run().Written, 1);
    EXPECT_EQ(DecodedSize(dir / "out/urlaub.bmp"), Size(64, 48));
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(BatchTest, TwoBatchesBothStartAtLfdNr) {
    AddImage("a.png");
    AddImage("b.png");
    host.parameters.AusgabeDateiTyp = 1;
    host.parameters.LfdNr = 7;
    host.parameters.Stellen = 2;
    Run();
    std::filesystem::remove_all(dir / "out");
    Run();
    EXPECT_EQ(test::FolderEntries(dir / "out"), (std::vector<std::string>{"Pic07.jpg", "Pic08.jpg"}));
}

TEST_F(BatchTest, WithoutThreadsTheFirstFailureEndsTheBatch) {
    AddImage("1.png");
    AddImage("2.png");
    const std::string bad = AddNonImage("3.png");
    AddImage("4.png");
    AddImage("5.png");
    BatchResult result = Run();
    EXPECT_EQ(host.calls, (Calls{"validate", "pos 0", "read parameters", "button off", "cursor wait", "range 0..5",
                                 "pos 1", "pos 2", "message", "range 0..0", "pos 0", "button on", "cursor normal"}));
    EXPECT_EQ(host.messages, Calls{res::FormatString(res::IDS_NOT_AN_IMAGE, bad)});
    EXPECT_EQ(test::FolderEntries(dir / "out"), (std::vector<std::string>{"1.jpg", "2.jpg"}));
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(result.Written, 2);
    EXPECT_TRUE(result.Started);
}

TEST_F(BatchTest, AStopStartsNoFurtherFileAndRunsTheClosingSteps) {
    for (int i = 1; i <= 5; ++i) AddImage(std::to_string(i) + ".png", 40, 30);  // skipped: smaller than 64 x 64
    host.main.NichtVergroessern = 1;
    host.stop = [&] { return host.calls.back() == "pos 2"; };  // the user said "Ja" after the second file
    BatchResult result = Run();
    // The bar stays where the work stopped, and the rows never reached are listed as not done.
    EXPECT_EQ(host.calls, (Calls{"validate", "pos 0", "read parameters", "button off", "cursor wait", "range 0..5",
                                 "pos 1", "pos 2", "pos 2", "button on", "message", "cursor normal"}));
    EXPECT_EQ(host.messages, Calls{res::FormatString(res::IDS_SKIPPED_REPORT, 2)});
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(result.SkippedCount, 2);
    ASSERT_EQ(result.Report.rows.size(), 5u);
    EXPECT_EQ(result.Report.rows[2].result, FileResult::NotDone);
    EXPECT_EQ(result.Report.rows[4].sourcePath, rows.RowPath(4));
    EXPECT_EQ(result.Report.Totals().notDone, 3);

    host.calls.clear();
    host.messages.clear();
    host.stop = nullptr;
    EXPECT_FALSE(Run().Stopped);
    EXPECT_EQ(host.messages, Calls{res::FormatString(res::IDS_SKIPPED_REPORT, 5)});
}

TEST_F(BatchTest, AStopWithWorkersLetsTheRunningFilesFinish) {
    for (int i = 0; i < 8; ++i) AddImage(std::to_string(i) + ".png");
    host.parameters.ThreadAnzahl = 2;
    WorkerCounter counter(std::chrono::milliseconds(40));
    int asked = 0;
    host.stop = [&] { return ++asked > 6; };  // asked before and after each wait for a free place
    BatchResult result = Run();
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(counter.started(), 3);
    EXPECT_EQ(result.Written, 3);  // every started file was finished and collected
    EXPECT_EQ(test::FolderEntries(dir / "out").size(), 3u);
    EXPECT_EQ(Calls(host.calls.end() - 2, host.calls.end()), (Calls{"button on", "cursor normal"}));
}

TEST_F(BatchTest, ANegativeThreadCountRunsOnTheCallingThread) {
    AddNonImage("1.png");
    AddImage("2.png");
    host.parameters.ThreadAnzahl = -4;
    WorkerCounter counter;
    BatchResult result = Run();
    EXPECT_EQ(counter.started(), 0);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(result.Written, 0);  // ended at the first failure, as with 0
}

TEST_F(BatchTest, AFailureOnAWorkerDoesNotStopTheBatch) {
    AddImage("1.png");
    AddImage("2.png");
    const std::string bad = AddNonImage("3.png");
    AddImage("4.png");
    AddImage("5.png");
    host.parameters.ThreadAnzahl = 2;
    BatchResult result = Run();
    EXPECT_EQ(result.Written, 4);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(host.messages, Calls{res::FormatString(res::IDS_NOT_AN_IMAGE, bad)});
    EXPECT_FALSE(host.callFromOtherThread.load());  // the worker's message came through the batch thread
    EXPECT_EQ(test::FolderEntries(dir / "out"), (std::vector<std::string>{"1.jpg", "2.jpg", "4.jpg", "5.jpg"}));
    EXPECT_EQ(host.calls.back(), "cursor normal");
}

TEST_F(BatchTest, OneThreadKeepsListOrder) {
    // Every file fails, so the order of the messages is the order in which the files ran.
    Calls expected;
    for (int i = 0; i < 6; ++i)
        expected.push_back(res::FormatString(res::IDS_NOT_AN_IMAGE, AddNonImage(std::to_string(5 - i) + ".png")));
    host.parameters.ThreadAnzahl = 1;
    WorkerCounter counter(std::chrono::milliseconds(5));
    Run();
    EXPECT_EQ(host.messages, expected);
    EXPECT_EQ(counter.most(), 1);
}

TEST_F(BatchTest, AtMostThreadAnzahlWorkersRunAtOnce) {
    for (int i = 0; i < 12; ++i) AddImage(std::to_string(i) + ".png", 200, 150);
    host.parameters.ThreadAnzahl = 3;
    WorkerCounter counter(std::chrono::milliseconds(30));
    BatchResult result = Run();
    EXPECT_EQ(result.Written, 12);
    EXPECT_EQ(counter.started(), 12);
    EXPECT_EQ(counter.most(), 3);
    EXPECT_GT(host.keepAlives, 0);
    EXPECT_FALSE(host.callFromOtherThread.load());
}

TEST_F(BatchTest, ProgressWithThreadsCountsHandedOutThenCollected) {
    for (int i = 0; i < 3; ++i) AddImage(std::to_string(i) + ".png");
    host.parameters.ThreadAnzahl = 10;
    WorkerCounter counter(std::chrono::milliseconds(100));  // all three are still running when handed out
    Run();
    EXPECT_EQ(counter.most(), 3);
    const Calls start = {"validate", "pos 0", "read parameters", "button off", "cursor wait", "range 0..3",
                         "pos 1",    "pos 2", "pos 3",           "range 0..3", "pos 0"};
    ASSERT_GE(host.calls.size(), start.size() + 3);
    EXPECT_EQ(Calls(host.calls.begin(), host.calls.begin() + static_cast<long>(start.size())), start);
    const Calls end = {"pos 3", "button on", "cursor normal"};
    EXPECT_EQ(Calls(host.calls.end() - 3, host.calls.end()), end);
    int last = 0;
    for (size_t i = start.size(); i + 2 < host.calls.size(); ++i) {
        ASSERT_EQ(host.calls[i].rfind("pos ", 0), 0u) << host.calls[i];
        int position = std::stoi(host.calls[i].substr(4));
        EXPECT_GE(position, last);
        last = position;
    }
}

TEST_F(BatchTest, SkippedImagesAreReported) {
    for (int i = 0; i < 10; ++i) AddImage(std::to_string(i) + ".png", 40, 30);
    host.main.NichtVergroessern = 1;
    host.parameters.ThreadAnzahl = 4;
    BatchResult result = Run();
    EXPECT_EQ(result.SkippedCount, 10);
    EXPECT_EQ(host.messages, Calls{"10 Bilder wurden nicht komprimiert.\n\nMögliche Gründe:\nBildgröße zu klein."});
    // The report comes after the button is enabled and before the cursor is restored.
    EXPECT_EQ(Calls(host.calls.end() - 3, host.calls.end()), (Calls{"button on", "message", "cursor normal"}));
    host.messages.clear();
    host.main.NichtVergroessern = 0;
    EXPECT_EQ(Run().SkippedCount, 0);
    EXPECT_TRUE(host.messages.empty());
}

// Another process replacing an output the moment it is written does not change this batch's sizes.
TEST_F(BatchTest, AnOutputsSizeIsTheBytesWrittenNotWhatTheFolderHoldsLater) {
    AddImage("a.png");
    AddImage("b.png");
    testing::AfterEachReplacement([](const std::string& path) { test::WriteBytes(path, "x"); });
    const BatchResult result = Run();
    testing::AfterEachReplacement({});
    ASSERT_EQ(result.Report.rows.size(), 2u);
    for (const FileOutcome& row : result.Report.rows) EXPECT_GT(row.bytesAfter, 100);
}

// The box names the reason that applied, each with its own count, and one image in the singular.
TEST_F(BatchTest, TheSkippedBoxNamesEachReasonThatApplied) {
    AddImage("klein.png", 40, 30);         // no larger than the box
    WriteImage(dir / "fein.jpg", 70, 50);  // as a BMP of 64 x 46 more than twice as large
    AppendPath(rows, dir / "fein.jpg");
    host.main.NichtVergroessern = 1;
    host.parameters.AusgabeTyp = 1;
    host.advanced.NurWennKleiner = 1;
    const std::string one = "1 Bild wurde nicht komprimiert.\n\nMögliche Gründe:\nBildgröße zu klein.";
    const std::string oneNotSmaller =
        "1 Bild wurde nicht gespeichert.\n\nGrund:\nDie Zieldatei wäre nicht kleiner als die Quelldatei.";
    EXPECT_EQ(Run().SkippedCount, 2);
    EXPECT_EQ(host.messages, Calls{one + "\n\n" + oneNotSmaller});
}

// A dropped folder's tree is kept below the target folder; files dropped on their own go straight into it.
TEST_F(BatchTest, TheKeptTreeFollowsTheDroppedFolderInEveryNamingAndThreadForm) {
    for (const char* file : {"Urlaub/2024/Mai/a.png", "Urlaub/2024/b.png", "Urlaub/c.png", "einzeln.png"}) {
        std::filesystem::create_directories(std::filesystem::path(dir / file).parent_path());
        WriteImage(dir / file, 20, 10, "png");
    }
    OnDropFiles({dir / "Urlaub", dir / "einzeln.png"}, {}, rows.Appender());
    host.parameters.AusgabeTyp = kOutputTypePng;
    host.advanced.OrdnerstrukturBeibehalten = 1;
    struct Case {
        int32_t naming;
        int32_t threads;
        std::vector<std::string> tree;
    };
    const Case cases[] = {
        {kNamingLikeSources,
         0,
         {"Urlaub", "Urlaub/2024", "Urlaub/2024/Mai", "Urlaub/2024/Mai/a.png", "Urlaub/2024/b.png", "Urlaub/c.png",
          "einzeln.png"}},
        {kNamingPattern,
         3,
         {"Pic004.png", "Urlaub", "Urlaub/2024", "Urlaub/2024/Mai", "Urlaub/2024/Mai/Pic001.png",
          "Urlaub/2024/Pic002.png", "Urlaub/Pic003.png"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir / "out");
        host.parameters.AusgabeDateiTyp = c.naming;
        host.parameters.ThreadAnzahl = c.threads;
        EXPECT_EQ(Run().Written, 4);
        EXPECT_EQ(test::Tree(dir / "out"), c.tree);
    }
    // Without the option every output lands in the target folder itself, as before.
    std::filesystem::remove_all(dir / "out");
    host.advanced.OrdnerstrukturBeibehalten = 0;
    host.parameters.AusgabeDateiTyp = kNamingLikeSources;
    Run();
    EXPECT_EQ(test::Tree(dir / "out"), (Calls{"a.png", "b.png", "c.png", "einzeln.png"}));
}

TEST_F(BatchTest, AKeptTreeNeverLeadsOutOfTheTargetFolder) {
    std::filesystem::create_directories(dir / "Urlaub/Mai");
    WriteImage(dir / "Urlaub/Mai/a.png", 20, 10, "png");
    OnDropFiles({dir / "Urlaub"}, {}, rows.Appender());
    FileRow climbing = rows.Row(0);
    climbing.subfolder = "Urlaub/../../";
    rows.Append(climbing);
    // An earlier run's folder replaced by a link to elsewhere.
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directories(dir / "anderswo");
    std::filesystem::create_directory_symlink(dir / "anderswo", dir / "out/Urlaub");
    host.advanced.OrdnerstrukturBeibehalten = 1;
    host.parameters.ThreadAnzahl = 2;
    const BatchResult result = Run();
    EXPECT_EQ(result.Failed, 2);
    EXPECT_EQ(result.Written, 0);
    for (const FileOutcome& row : result.Report.rows)
        EXPECT_EQ(row.reason, "Unterordner führt aus dem Zielverzeichnis hinaus") << row.targetPath;
    EXPECT_TRUE(test::Tree(dir / "anderswo").empty());
    EXPECT_EQ(test::FolderEntries(dir.path()), (Calls{"Urlaub", "anderswo", "out"}));
}

// A second run skips what the first one did; a source changed since is done again.
TEST_F(BatchTest, ASecondRunSkipsTargetsThatAreThereAndCurrent) {
    const std::string a = AddImage("a.png");
    AddImage("b.png");
    AddImage("c.png");
    host.parameters.ThreadAnzahl = 2;
    host.advanced.VorhandeneUeberspringen = 1;
    EXPECT_EQ(Run().Written, 3);
    const std::string firstB = ReadBytes(dir / "out/b.jpg");
    // a.png is newer than its output; c's output was lost.
    ::utimensat(AT_FDCWD, (dir / "out/a.jpg").c_str(), nullptr, 0);
    const timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 60, 0}};
    ::utimensat(AT_FDCWD, a.c_str(), later, 0);
    std::filesystem::remove(dir / "out/c.jpg");
    host.messages.clear();
    const BatchResult second = Run();
    EXPECT_EQ(second.Written, 2);
    EXPECT_EQ(second.SkippedCount, 1);
    ASSERT_EQ(second.Report.rows.size(), 3u);
    EXPECT_EQ(second.Report.rows[1].result, FileResult::Skipped);
    EXPECT_EQ(second.Report.rows[1].reason, "Ziel bereits vorhanden");
    EXPECT_EQ(ReadBytes(dir / "out/b.jpg"), firstB);
    EXPECT_EQ(host.messages, Calls{"1 Bild wurde übersprungen.\n\nGrund:\nDie Zieldatei ist bereits vorhanden und "
                                   "nicht älter als die Quelldatei."});
    // Outputs that took their sources' date count as current; without the option every target is made anew.
    host.advanced.DatumUebernehmen = 1;
    EXPECT_EQ(Run().Written, 1) << "a.png is still newer than its output";
    EXPECT_EQ(Run().SkippedCount, 3);
    host.advanced.VorhandeneUeberspringen = 0;
    EXPECT_EQ(Run().Written, 3);
}

// A second run over a folder that now holds the first run's outputs: they are known by their folder's ledger
// (BMP included, which carries no marks), passed over, and replaced by the originals' new outputs.
TEST_F(BatchTest, OutputsListedInTheirFolderAreNoSourcesOfALaterRun) {
    host.main.ZielPath = kTargetSourceFolder;
    host.parameters.ThreadAnzahl = 2;
    const std::string ledger = dir / ".quendrix-ausgaben";
    const std::string a = AddImage("a.png");
    Run();
    EXPECT_FALSE(Exists(ledger)) << "without the option nothing but the output is written";
    host.advanced.EigeneAusgabenUeberspringen = 1;
    for (const char* type : {"jpg", "bmp", "png"}) {
        SCOPED_TRACE(type);
        host.parameters.AusgabeTyp = imaging::FindCodecByName(type)->outputType;
        rows = test::RowsOf({a});
        ASSERT_EQ(Run().Written, 1);
        const std::string output = dir / (std::string("a_c.") + type);
        test::WriteBytes(ledger, "kaputt\n12 zz\n" + ReadBytes(ledger) + "99");  // a hand's or a killed run's lines
        AppendPath(rows, output);
        const BatchResult again = Run();
        EXPECT_EQ(again.Written, 1);
        EXPECT_EQ(again.Failed, 0) << "the original may replace its old output";
        ASSERT_EQ(again.Report.rows.size(), 2u);
        EXPECT_EQ(again.Report.rows[1].reason, "Ausgabedatei von Quendrix");
        EXPECT_FALSE(Exists(dir / (std::string("a_c_c.") + type)));
    }
    // Another image of the same size is still a source.
    test::WriteBytes(dir / "gleich.jpg", std::string(static_cast<size_t>(test::SizeOnDisk(dir / "a_c.png")), 'x'));
    OutputLedgers ledgers;
    EXPECT_TRUE(ledgers.IsListedOutput(dir / "a_c.png"));
    EXPECT_FALSE(ledgers.IsListedOutput(dir / "gleich.jpg"));
    EXPECT_FALSE(ledgers.IsListedOutput(a));
}

TEST_F(BatchTest, StopsBeforeTheBatch) {
    host.valid = false;
    AddImage("a.png");
    EXPECT_FALSE(Run().Started);
    EXPECT_EQ(host.calls, Calls{"validate"});

    host.valid = true;
    host.calls.clear();
    host.main.Verz = "";
    EXPECT_FALSE(Run().Started);
    EXPECT_EQ(host.calls, (Calls{"validate", "pos 0", "message"}));
    EXPECT_EQ(host.messages, Calls{"Das Zielverzeichnis ist leer"});

    host.calls.clear();
    host.messages.clear();
    rows.Clear();
    host.main.Verz = dir / "neu/tief";
    EXPECT_FALSE(Run().Started);
    EXPECT_EQ(host.calls, (Calls{"validate", "pos 0", "message"}));
    EXPECT_EQ(host.messages, Calls{"Erst Bilder mit Drag and Drop in die Liste ziehen."});
    EXPECT_TRUE(std::filesystem::is_directory(dir / "neu/tief"));  // created even for an empty list
}

TEST_F(BatchTest, AThreadThatCannotStartFailsItsFileAndTheBatchGoesOn) {
    for (int i = 0; i < 4; ++i) AddImage(std::to_string(i) + ".png");
    host.parameters.ThreadAnzahl = 2;
    WorkerCounter counter(std::chrono::milliseconds(0), 1);
    BatchResult result = Run();
    EXPECT_EQ(result.Failed, 1);
    EXPECT_EQ(result.Written, 3);
    EXPECT_EQ(host.messages, Calls{res::FormatString(res::IDS_SAVE_FAILED, dir / "out/1.jpg")});
    EXPECT_EQ(host.calls.back(), "cursor normal");
}

TEST_F(BatchTest, AnOutputTypeOutsideTheTableFailsEveryFileAsASave) {
    AddImage("a.png");
    AddImage("b.png");
    host.parameters.AusgabeTyp = static_cast<int32_t>(imaging::Codecs().size());  // the next free type
    host.parameters.ThreadAnzahl = 2;
    BatchResult result = Run();
    EXPECT_EQ(result.Failed, 2);
    std::set<std::string> got(host.messages.begin(), host.messages.end());
    EXPECT_EQ(got, (std::set<std::string>{res::FormatString(res::IDS_SAVE_FAILED, dir / "out/a"),
                                          res::FormatString(res::IDS_SAVE_FAILED, dir / "out/b")}));
    EXPECT_TRUE(test::FolderEntries(dir / "out").empty());
}

TEST_F(BatchTest, TargetsThatMeetGiveOneWholeFile) {
    // Two sources with one title, and one target folder.
    for (int i = 0; i < 6; ++i) AddImage("s" + std::to_string(i) + "/bild.png", 100 + 10 * i, 90);
    host.parameters.ThreadAnzahl = 6;
    BatchResult result = Run();
    EXPECT_EQ(result.Written, 6);
    EXPECT_EQ(test::FolderEntries(dir / "out"), Calls{"bild.jpg"});  // no temporary file left
    auto size = DecodedSize(dir / "out/bild.jpg");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->first, 64u);
}

TEST_F(BatchTest, ANamingModeWithoutANamingRuleFailsEveryFileAsASave) {
    // A hand-edited AusgabeDateiTyp gives no name: rather than every output replacing one hidden file
    // "<folder>/.jpg", every file fails naming that path, and nothing is written.
    AddImage("a.png");
    AddImage("b.png");
    std::filesystem::create_directories(dir / "out");
    WriteImage(dir / "out/.jpg", 30, 20);
    const std::string old = ReadBytes(dir / "out/.jpg");
    const std::string message = res::FormatString(res::IDS_SAVE_FAILED, dir / "out/.jpg");
    for (int32_t naming : {2, -1}) {
        for (int32_t threads : {0, 2}) {
            host.parameters.AusgabeDateiTyp = naming;
            host.parameters.ThreadAnzahl = threads;
            host.messages.clear();
            BatchResult result = Run();
            EXPECT_TRUE(result.Started);
            EXPECT_EQ(result.Written, 0);
            // Without threads the first failure ends the batch, as any failed save does.
            EXPECT_EQ(host.messages, (threads == 0 ? Calls{message} : Calls{message, message}));
            EXPECT_EQ(test::FolderEntries(dir / "out"), Calls{".jpg"});
            EXPECT_EQ(ReadBytes(dir / "out/.jpg"), old);
        }
    }
}

TEST_F(BatchTest, ASourceIsNeverReplacedByAnOutput) {
    // Outputs into the sources' folder with their names: a.jpg is its own target, and a.png's target is
    // a.jpg, another source of the list.
    const std::string jpg = dir / "a.jpg";
    WriteImage(jpg, 120, 90, "jpg");
    AppendPath(rows, jpg);
    const std::string png = AddImage("a.png");
    const std::string jpgBytes = ReadBytes(jpg), pngBytes = ReadBytes(png);
    host.main.Verz = dir.path();
    const std::string message = res::FormatString(res::IDS_SAVE_FAILED, jpg);
    for (int threads : {0, 3}) {
        host.parameters.ThreadAnzahl = threads;
        host.messages.clear();
        BatchResult result = Run();
        EXPECT_EQ(result.Written, 0);
        EXPECT_EQ(host.messages, (threads == 0 ? Calls{message} : Calls{message, message}));
        EXPECT_EQ(ReadBytes(jpg), jpgBytes);
        EXPECT_EQ(ReadBytes(png), pngBytes);
    }
    EXPECT_EQ(test::FolderEntries(dir.path()), (Calls{"a.jpg", "a.png"}));
}

TEST_F(BatchTest, NonUtf8SourceNames) {
    AddImage(
        "\xff\xfe"
        "bild.png");
    host.main.ZielPath = 0;
    host.parameters.ThreadAnzahl = 1;
    EXPECT_EQ(Run().Written, 1);
    EXPECT_EQ(DecodedSize(dir / "\xff\xfe"
                                "bild_c.jpg"),
              Size(64, 48));
}

TEST_F(BatchTest, ManyThreadsWithFailuresFinish) {
    // Every message is answered on the batch thread while up to a thousand workers wait for theirs.
    for (int i = 0; i < 40; ++i) {
        if (i % 4 == 0)
            AddNonImage(std::to_string(i) + ".png");
        else
            AddImage(std::to_string(i) + ".png", 30, 20);
    }
    host.parameters.ThreadAnzahl = 5000;  // taken as 1000
    BatchResult result = Run();
    EXPECT_EQ(result.Failed, 10);
    EXPECT_EQ(result.Written, 30);
    EXPECT_EQ(host.messages.size(), 10u);
    EXPECT_FALSE(host.callFromOtherThread.load());
}

}  // namespace
}  // namespace qx::test

namespace qx::test {
namespace {

class ThrowingHost : public RecordingHost {
public:
    void ShowMessage(const std::string& text) override {
        RecordingHost::ShowMessage(text);
        throw std::runtime_error("host gave up");
    }
};

TEST(BatchHostFailure, AHostThatThrowsLeavesNoWorkerBehind) {
    test::ScratchDir dir;
    ThrowingHost host;
    host.main.Bildsize = 1;
    host.main.Breite = host.main.Hoehe = 32;
    host.main.Verz = dir / "out";
    host.main.ZielPath = 1;
    host.parameters.ThreadAnzahl = 4;
    RowList rows;
    for (int i = 0; i < 8; ++i) {
        const std::string path = dir / (std::to_string(i) + ".png");
        AppendPath(rows, path);
        if (i == 1)
            test::WriteBytes(path, "kaputt");
        else
            WriteImage(path, 60, 40, "png");
    }
    EXPECT_THROW(RunBatch(host, rows), std::runtime_error);
    EXPECT_GE(host.messages.size(), 1u);
}

}  // namespace
}  // namespace qx::test

namespace qx::test {
namespace {

TEST_F(BatchTest, AMemoryBudgetHoldsWorkersBackWithoutStoppingThem) {
    for (int i = 0; i < 8; ++i) AddImage(std::to_string(i) + ".png", 300, 200);
    host.main.Bildsize = 2;
    host.parameters.ThreadAnzahl = 8;
    MemoryBudget tiny(1);  // every image needs more than all of it: each runs alone
    testing::SetBatchMemoryBudget(&tiny);
    WorkerCounter counter;
    BatchResult result = Run();
    testing::SetBatchMemoryBudget(nullptr);
    EXPECT_EQ(result.Written, 8);
    EXPECT_EQ(tiny.InUse(), 0u);
    // One image's decode and encode at a time, never two.
    EXPECT_GE(tiny.PeakInUse(), 300u * 200u * 3u);
    EXPECT_LT(tiny.PeakInUse(), 2u * 300u * 200u * (4u + 6u));
}

}  // namespace
}  // namespace qx::test
