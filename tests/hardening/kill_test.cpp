// quendrix-batch killed with SIGKILL at random moments: every source stays byte-identical, the settings file
// stays as it was, under each target name there is nothing, the old file, or the whole new file (the
// bytes an uninterrupted run writes), and a temporary file is left only by a kill in the moment a
// replacement is renamed, and then removed by the next batch. QX_KILL_ROUNDS sets the number of runs per
// signal and thread mode (default 10).
// And a process interrupted while it writes the settings file leaves the old or the new file and no other.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

#include "engine/termination.h"
#include "hardening_support.h"
#include "settings/profile_store.h"

namespace qx::test {
namespace {

struct Snapshot {
    std::map<std::string, std::string> files;  // relative name -> bytes, regular files only
};

Snapshot Take(const std::string& folder) {
    Snapshot snapshot;
    for (const std::string& name : Tree(folder)) {
        if (std::filesystem::is_regular_file(folder + "/" + name))
            snapshot.files[name] = ReadBytes(folder + "/" + name);
    }
    return snapshot;
}

int Rounds() {
    const char* value = std::getenv("QX_KILL_ROUNDS");
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : 10;
}

class KillTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDir(dir / "in");
        MakeDir(dir / "in/sub");
        // Large enough that a batch runs for a while; the names sort in the order the batch takes them.
        for (int i = 0; i < 10; ++i) WriteImage(dir / ("in/p" + std::to_string(i) + ".jpg"), 1600, 1200);
        WriteImage(dir / "in/sub/q.png", 900, 700, "png");
        WriteImage(dir / "in/sub/r.bmp", 900, 700, "bmp");
        settings = dir / "quendrix.ini";
        WriteBytes(settings,
                   "[Allg]\r\nRate=85\r\nBildsize=1\r\nBreite=1024\r\nHoehe=768\r\n"
                   "[Parameter]\r\nAusgabeTyp=0\r\n");
    }

    std::vector<std::string> Args(const std::string& target, int threads) const {
        return {"--target-folder", target, "--threads", std::to_string(threads), "--", dir / "in"};
    }

    // The target folder as it stands before each run: some targets already hold an older file.
    void ResetTarget(const std::string& target) {
        std::error_code ignored;
        std::filesystem::remove_all(target, ignored);
        MakeDir(target);
        for (const auto& [name, bytes] : old.files) WriteBytes(target + "/" + name, bytes);
    }

    ScratchDir dir;
    std::string settings;
    Snapshot old;
    int leftovers = 0;  // temporary files found after all runs

    // The bytes of an uninterrupted run, and how long it takes: made once per thread mode, for every signal.
    struct Reference {
        Snapshot files;
        std::chrono::microseconds duration{};
    };
    std::map<int, Reference> references;

    const Reference& ReferenceRun(int threads) {
        if (const auto found = references.find(threads); found != references.end()) return found->second;
        const std::string folder = dir / ("reference" + std::to_string(threads));
        ResetTarget(folder);
        const auto start = std::chrono::steady_clock::now();
        const RunResult whole = RunBatchProgram(settings, Args(folder, threads));
        Reference& reference = references[threads];
        reference.duration =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_TRUE(whole.Exited(0)) << Describe(whole);
        reference.files = Take(folder);
        EXPECT_EQ(reference.files.files.size(), 12u);
        EXPECT_TRUE(TemporaryFiles(folder).empty());
        return reference;
    }

    // Runs the batch `Rounds()` times per thread mode, each ended by `signal` at a random moment within its
    // uninterrupted duration, and checks every file afterwards. Returns how many runs the signal ended.
    int InterruptRepeatedly(int signal) {
        old.files = {{"p1.jpg", "an older p1"}, {"p6.jpg", "an older p6"}, {"r.jpg", "an older r"}};
        const Snapshot sources = Take(dir / "in");
        const std::string settingsBytes = ReadBytes(settings);
        std::mt19937 random(std::random_device{}());
        int ended = 0;
        for (int threads : {4, 0}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            const Reference& reference = ReferenceRun(threads);
            const Snapshot& expected = reference.files;
            std::uniform_int_distribution<int64_t> moment(0, reference.duration.count() * 11 / 10);
            const std::string target = dir / "out";
            for (int round = 0; round < Rounds(); ++round) {
                ResetTarget(target);
                RunOptions options;
                options.killAfter = std::chrono::microseconds(moment(random));
                options.killSignal = signal;
                options.timeoutSeconds = 60;
                const RunResult run = RunBatchProgram(settings, Args(target, threads), options);
                SCOPED_TRACE("signal " + std::to_string(signal) + " after " +
                             std::to_string(options.killAfter->count()) + " us");
                if (run.signal == signal && !run.timedOut)
                    ++ended;
                else if (!run.Exited(0))
                    ADD_FAILURE() << Describe(run);

                // A file has no name until it is whole. Only a kill between naming a replacement and renaming
                // it over the old file leaves a temporary name behind, and the next batch removes it.
                const std::vector<std::string> temporaries = TemporaryFiles(target);
                leftovers += static_cast<int>(temporaries.size());
                for (const auto& [name, bytes] : Take(target).files) {
                    if (std::count(temporaries.begin(), temporaries.end(), name) != 0) continue;
                    const bool isNew = expected.files.count(name) != 0 && expected.files.at(name) == bytes;
                    const bool isOld = old.files.count(name) != 0 && old.files.at(name) == bytes;
                    EXPECT_TRUE(isNew || isOld)
                        << name << " is neither the old nor the whole new file (" << bytes.size() << " bytes)";
                }
                if (!(Take(dir / "in").files == sources.files)) {
                    ADD_FAILURE() << "a source changed";
                    return ended;
                }
                if (ReadBytes(settings) != settingsBytes) {
                    ADD_FAILURE() << "the settings file changed";
                    return ended;
                }
                if (!temporaries.empty()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // older than the next batch
                    EXPECT_TRUE(RunBatchProgram(settings, Args(target, threads)).Exited(0));
                    EXPECT_EQ(TemporaryFiles(target), std::vector<std::string>{});
                }
            }
        }
        return ended;
    }

    // A run that ends before its kill does not count. Where the load changes (sanitizer shards beside each
    // other), the reference may have run slower than the runs after it: one more try, timed afresh, comes
    // before no ended run is called a fault.
    int InterruptWithRetry(int signal) {
        const int ended = InterruptRepeatedly(signal);
        if (ended > 0) return ended;
        references.clear();
        return InterruptRepeatedly(signal);
    }
};

TEST_F(KillTest, EveryFileIsWholeOldOrAbsentAfterAKill) {
    const int kills = InterruptWithRetry(SIGKILL);
    std::printf("SIGKILL ended %d of %d runs, %d temporary files left\n", kills, 2 * Rounds(), leftovers);
    EXPECT_GT(kills, 0);
}

// Asked to end (Ctrl-C, a terminal that closes, a shutdown), the program removes its temporary files and
// ends by the same signal.
TEST_F(KillTest, TerminationSignalsLeaveNoTemporaryFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal this test was started with ignored (nohup, a background job) would stay ignored in the
        // program too, as it should.
        std::signal(signal, SIG_DFL);
        const int ended = InterruptWithRetry(signal);
        std::printf("signal %d ended %d of %d runs\n", signal, ended, 2 * Rounds());
        EXPECT_GT(ended, 0);
    }
}

// True when process `pid` has a new file open in `folder`: a temporary with or without a name.
bool WritesInto(pid_t pid, const std::string& folder) {
    std::error_code ignored;
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (auto it = std::filesystem::directory_iterator(fds, ignored); it != std::filesystem::directory_iterator();
         it.increment(ignored)) {
        const std::string target = std::filesystem::read_symlink(it->path(), ignored).string();
        if (target.rfind(folder + "/", 0) == 0 && target.find("quendrix.ini") == std::string::npos) return true;
    }
    return false;
}

// Ctrl-C while the settings file is written: the signal ends the process only after the temporary file is
// gone, and the settings file is the old or the new one, whole.
TEST(SettingsKillTest, CtrlCDuringASettingsWriteLeavesNoTemporaryFile) {
    ScratchDir dir;
    const std::string path = dir / "quendrix.ini";
    // Values large enough that a write takes a while, so that many signals come in the middle of one, and
    // small enough for a settings file.
    const std::string first(900 << 10, 'a'), second(900 << 10, 'b');
    const std::string old = "[Allg]\nVerz=" + first + "\n";
    const std::string updated = "[Allg]\nVerz=" + second + "\n";
    int whileWriting = 0;
    for (int round = 0; round < 3 * Rounds(); ++round) {
        WriteBytes(path, old);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            EndCleanlyOnTerminationSignals();
            ProfileStore store(path);
            for (bool flip = true;; flip = !flip) store.WriteProfileStringA("Allg", "Verz", flip ? second : first);
        }
        // The moment a new file is being written, or after a while when none is seen.
        const auto start = std::chrono::steady_clock::now();
        bool seen = false;
        while (!seen && std::chrono::steady_clock::now() - start < std::chrono::seconds(2)) {
            seen = WritesInto(pid, dir.path());
        }
        ::kill(pid, SIGINT);
        whileWriting += seen ? 1 : 0;
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), SIGINT);
        EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<std::string>{}) << "round " << round;
        EXPECT_EQ(Tree(dir.path()), std::vector<std::string>{"quendrix.ini"});
        const std::string bytes = ReadBytes(path);
        EXPECT_TRUE(bytes == old || bytes == updated) << "round " << round << ": " << bytes.size() << " bytes";
    }
    std::printf("SIGINT came while a settings file was being written in %d of %d runs\n", whileWriting, 3 * Rounds());
    EXPECT_GT(whileWriting, 0);
}

}  // namespace
}  // namespace qx::test
