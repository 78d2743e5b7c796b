// Faults of the file system during a batch: each gives its message, the batch goes on with workers or ends
// without them, and nothing partial stays under a target name (no temporary file either).
#include <sys/stat.h>

#include <functional>
#include <future>
#include <sstream>

#include "engine/batch.h"
#include "hardening_support.h"
#include "intake/intake.h"
#include "res/strings.h"
#include "support/batch_support.h"

namespace qx::test {
namespace {

std::string NotAnImage(const std::string& source) { return res::FormatString(res::IDS_NOT_AN_IMAGE, source); }
std::string SaveFailed(const std::string& target) { return res::FormatString(res::IDS_SAVE_FAILED, target); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// A folder "in" of four photos (a..d.jpg), world-readable so that an unprivileged child can read it.
class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(dir.path().c_str(), 0755);
        MakeDir(dir / "in");
        for (const char* name : {"a", "b", "c", "d"}) WriteImage(dir / "in/" + name + ".jpg", 400, 300);
        settings = dir / "quendrix.ini";
        WriteBytes(settings, "[Allg]\nRate=90\nBildsize=2\n");
        ::chmod(settings.c_str(), 0644);
    }

    std::vector<std::string> Sources() const {
        return {dir / "in/a.jpg", dir / "in/b.jpg", dir / "in/c.jpg", dir / "in/d.jpg"};
    }

    RunResult Run(const std::string& target, const std::string& threads, RunOptions options = {}) {
        std::vector<std::string> args = {"--target-folder", target, "--threads", threads, "--"};
        for (const std::string& s : Sources()) args.push_back(s);
        return RunBatchProgram(settings, args, options);
    }

    ScratchDir dir;
    std::string settings;
};

TEST_F(FaultTest, ReadOnlyTargetFolder) {
    MakeDir(dir / "ro", 0755);
    WriteBytes(dir / "ro/b.jpg", "old file");
    ::chmod((dir / "ro").c_str(), 0555);
    const std::string ro = dir / "ro";
    RunOptions options;
    options.asNobody = true;  // root would write anyway

    const RunResult withThreads = Run(ro, "3", options);
    EXPECT_TRUE(withThreads.Exited(1)) << Describe(withThreads);
    std::vector<std::string> messages = Lines(withThreads.err);
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{SaveFailed(ro + "/a.jpg"), SaveFailed(ro + "/b.jpg"),
                                                  SaveFailed(ro + "/c.jpg"), SaveFailed(ro + "/d.jpg")}));

    const RunResult withoutThreads = Run(ro, "0", options);
    EXPECT_TRUE(withoutThreads.Exited(1)) << Describe(withoutThreads);
    EXPECT_EQ(Lines(withoutThreads.err), std::vector<std::string>{SaveFailed(ro + "/a.jpg")});

    EXPECT_EQ(Tree(ro), std::vector<std::string>{"b.jpg"});
    EXPECT_EQ(ReadBytes(ro + "/b.jpg"), "old file");
}

TEST_F(FaultTest, TargetFolderThatCannotBeCreated) {
    WriteBytes(dir / "file", "a file where a folder should be");
    const std::string target = dir / "file/sub/deeper";
    const RunResult withThreads = Run(target, "4");
    EXPECT_TRUE(withThreads.Exited(1)) << Describe(withThreads);
    std::vector<std::string> messages = Lines(withThreads.err);
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages, (std::vector<std::string>{SaveFailed(target + "/a.jpg"), SaveFailed(target + "/b.jpg"),
                                                  SaveFailed(target + "/c.jpg"), SaveFailed(target + "/d.jpg")}));

    const RunResult withoutThreads = Run(target, "0");
    EXPECT_TRUE(withoutThreads.Exited(1)) << Describe(withoutThreads);
    EXPECT_EQ(Lines(withoutThreads.err), std::vector<std::string>{SaveFailed(target + "/a.jpg")});
    EXPECT_EQ(ReadBytes(dir / "file"), "a file where a folder should be");
    EXPECT_EQ(Tree(dir.path()).size(), 7u);  // in, its four photos, file, the settings
}

// A full disk, as a file-size limit: writes past it fail with EFBIG (SIGXFSZ is ignored).
TEST_F(FaultTest, FullDisk) {
    WriteImage(dir / "in/a.jpg", 2000, 1500);  // its output is far above the limit
    WriteImage(dir / "in/c.jpg", 1600, 1200);
    WriteImage(dir / "in/b.jpg", 40, 30);  // these fit
    WriteImage(dir / "in/d.jpg", 40, 30);
    MakeDir(dir / "out");
    WriteBytes(dir / "out/a.jpg", "old a");
    const std::string settingsBefore = ReadBytes(settings);
    RunOptions options;
    options.fileSizeLimit = 16 * 1024;

    for (const char* threads : {"4", "0"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        const RunResult run = Run(dir / "out", threads, options);
        EXPECT_TRUE(run.Exited(1)) << Describe(run);
        std::vector<std::string> messages = Lines(run.err);
        std::sort(messages.begin(), messages.end());
        if (std::string(threads) == "4") {
            EXPECT_EQ(messages,
                      (std::vector<std::string>{SaveFailed(dir / "out/a.jpg"), SaveFailed(dir / "out/c.jpg")}));
            ASSERT_TRUE(DecodedSize(dir / "out/b.jpg"));
            ASSERT_TRUE(DecodedSize(dir / "out/d.jpg"));
            EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"a.jpg", "b.jpg", "d.jpg"}));
            ::unlink((dir / "out/b.jpg").c_str());
            ::unlink((dir / "out/d.jpg").c_str());
        } else {
            EXPECT_EQ(messages, std::vector<std::string>{SaveFailed(dir / "out/a.jpg")});  // the first ends it
            EXPECT_EQ(Tree(dir / "out"), std::vector<std::string>{"a.jpg"});
        }
        EXPECT_EQ(ReadBytes(dir / "out/a.jpg"), "old a");
    }
    EXPECT_EQ(ReadBytes(settings), settingsBefore);
}

// The system's words for a full disk reach the reason line; without --verbose nothing but the message shows.
TEST_F(FaultTest, FullDiskReasonUnderVerbose) {
    WriteImage(dir / "in/a.jpg", 2000, 1500);
    MakeDir(dir / "out");
    RunOptions options;
    options.fileSizeLimit = 16 * 1024;
    const std::string reason = "  Grund: " + res::LoadString(res::IDS_REASON_WRITE_FAILED) + ": File too large";
    for (const char* type : {"jpg", "bmp", "png"}) {
        SCOPED_TRACE(type);
        const std::string target = dir / (std::string("out/a.") + type);
        const std::vector<std::string> args = {"--target-folder", dir / "out", "--threads", "0",
                                               "--type",          type,        "--size",    "source"};
        std::vector<std::string> verboseArgs = args;
        verboseArgs.push_back("--verbose");
        verboseArgs.push_back("--");
        verboseArgs.push_back(dir / "in/a.jpg");
        const RunResult verbose = RunBatchProgram(settings, verboseArgs, options);
        EXPECT_TRUE(verbose.Exited(1)) << Describe(verbose);
        EXPECT_EQ(Lines(verbose.err), (std::vector<std::string>{SaveFailed(target), reason}));

        std::vector<std::string> plainArgs = args;
        plainArgs.push_back("--");
        plainArgs.push_back(dir / "in/a.jpg");
        const RunResult plain = RunBatchProgram(settings, plainArgs, options);
        EXPECT_TRUE(plain.Exited(1)) << Describe(plain);
        EXPECT_EQ(Lines(plain.err), std::vector<std::string>{SaveFailed(target)});
        EXPECT_TRUE(TemporaryFiles(dir / "out").empty());
    }
    EXPECT_TRUE(Tree(dir / "out").empty());
}

// Drops "in", lets `change` alter b.jpg, then runs the batch with and without workers as the main window
// does, in this process, so that a source can change after the drop. The batch runs on a thread of its own
// so that a hang shows as a failure, not as a test that never ends.
void DropChangeAndRun(FaultTest& test, const ScratchDir& dir, const std::function<void(const std::string&)>& change,
                      const std::string& expectedMessage) {
    for (int32_t threads : {3, 0}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        const std::string out = dir / ("out" + std::to_string(threads));
        RowList rows;
        OnDropFiles({dir / "in"}, InputTypeFlags{}, rows.Appender());
        ASSERT_EQ(rows.RowCount(), 4);
        change(dir / "in/b.jpg");
        QuietHost host;
        host.main.Bildsize = 2;
        host.main.ZielPath = 1;
        host.main.Verz = out;
        host.parameters.ThreadAnzahl = threads;
        auto batch = std::async(std::launch::async, [&] { return RunBatch(host, rows); });
        if (batch.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "the batch hangs on the changed source";
            // Unblock a reader waiting on a pipe so that the test can end.
            const int fd = ::open((dir / "in/b.jpg").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
            batch.wait();
            return;
        }
        const BatchResult result = batch.get();
        EXPECT_EQ(host.messages, std::vector<std::string>{expectedMessage});
        EXPECT_EQ(result.Failed, 1);
        if (threads != 0) {
            EXPECT_EQ(Tree(out), (std::vector<std::string>{"a.jpg", "c.jpg", "d.jpg"}));
        } else {
            EXPECT_EQ(Tree(out), std::vector<std::string>{"a.jpg"});  // the failure ends the batch
        }
        for (const std::string& name : Tree(out)) EXPECT_TRUE(DecodedSize(out + "/" + name)) << name;
        // Back to a photo for the next round.
        std::error_code ignored;
        std::filesystem::remove_all(dir / "in/b.jpg", ignored);
        WriteImage(dir / "in/b.jpg", 400, 300);
    }
    (void)test;
}

TEST_F(FaultTest, SourceVanishesAfterTheDrop) {
    DropChangeAndRun(
        *this, dir, [](const std::string& path) { ::unlink(path.c_str()); }, NotAnImage(dir / "in/b.jpg"));
}

TEST_F(FaultTest, SourceReplacedByANonImage) {
    DropChangeAndRun(
        *this, dir, [](const std::string& path) { WriteBytes(path, "Kein Bild, nur Text.\n"); },
        NotAnImage(dir / "in/b.jpg"));
}

// Cut inside its header segments. (A JPEG cut inside its scan still decodes, grey-filled, as libjpeg does.)
TEST_F(FaultTest, SourceCutShortAfterTheDrop) {
    DropChangeAndRun(
        *this, dir, [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 100), 0); },
        NotAnImage(dir / "in/b.jpg"));
}

// Unreadable for root too: a folder or a named pipe now stands where the file was. Opening a pipe must not
// wait for a writer.
TEST_F(FaultTest, SourceBecomesAFolderOrAPipe) {
    DropChangeAndRun(
        *this, dir,
        [](const std::string& path) {
            ::unlink(path.c_str());
            ::mkdir(path.c_str(), 0755);
        },
        NotAnImage(dir / "in/b.jpg"));
    DropChangeAndRun(
        *this, dir,
        [](const std::string& path) {
            ::unlink(path.c_str());
            ::mkfifo(path.c_str(), 0644);
        },
        NotAnImage(dir / "in/b.jpg"));
}

// A mode that forbids reading, which only counts for a user who is not root: the program runs as nobody on
// a list made by the drop of a folder whose file then loses its read permission. Through quendrix-batch
// the drop and the batch follow each other at once, so the file is unreadable from the start: the intake
// does not take it, and the others are written.
TEST_F(FaultTest, UnreadableSourceIsPassedOver) {
    ::chmod((dir / "in/b.jpg").c_str(), 0000);
    MakeDir(dir / "out", 0777);
    RunOptions options;
    options.asNobody = true;
    std::vector<std::string> args = {"--target-folder", dir / "out", "--threads", "2", dir / "in"};
    const RunResult run = RunBatchProgram(settings, args, options);
    if (!IsRoot()) GTEST_SKIP() << "needs root to drop to another user";
    EXPECT_TRUE(run.Exited(0)) << Describe(run);
    EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"a.jpg", "c.jpg", "d.jpg"}));
}

}  // namespace
}  // namespace qx::test
