// The shared test helpers that other tests lean on: a scratch folder that always goes, a child run that
// always ends.
#include <signal.h>

#include "support/child_process.h"

namespace qx::test {
namespace {

using test::Exists;
using test::MakeDir;
using test::RunChild;
using test::RunResult;
using test::ScratchDir;

TEST(ScratchDir, GoesWithLockedFoldersInside) {
    std::string kept;
    {
        ScratchDir dir;
        kept = dir.path();
        MakeDir(dir / "zu");
        MakeDir(dir / "zu/innen");
        test::WriteBytes(dir / "zu/innen/datei", "x");
        ASSERT_EQ(::chmod((dir / "zu/innen").c_str(), 0500), 0);
        ASSERT_EQ(::chmod((dir / "zu").c_str(), 0), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    }
    EXPECT_FALSE(Exists(kept));
}

TEST(RunChild, CapturesStreamsExitCodeAndEnvironment) {
    const test::ScopedEnv appData("APPDATA", "/von/aussen");
    const test::ScopedEnv gone("QX_WEG", "da");
    const RunResult r = RunChild("/bin/sh", {.args = {"-c",
                                                      "echo \"$1|${APPDATA-frei}|${QX_WEG-weg}|$QX_NEU|$HOME\"; "
                                                      "echo fehler >&2; exit 3",
                                                      "sh", "ein Wort"},
                                             .env = {{"QX_WEG", ""}, {"QX_NEU", "neu"}, {"HOME", "/heim"}}});
    EXPECT_TRUE(r.Exited(3)) << test::Describe(r);
    EXPECT_EQ(r.out, "ein Wort|frei|weg|neu|/heim\n") << "settings variables removed, an empty value removes";
    EXPECT_EQ(r.err, "fehler\n");
}

TEST(RunChild, ReportsASignalAndEndsAChildThatHangs) {
    const RunResult killed = RunChild("/bin/sh", {.args = {"-c", "kill -TERM $$"}});
    EXPECT_EQ(killed.exitCode, -1);
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_FALSE(killed.Exited(0));

    const RunResult hung = RunChild("/bin/sleep", {.args = {"60"}, .timeoutSeconds = 1});
    EXPECT_TRUE(hung.timedOut);
    EXPECT_EQ(hung.signal, SIGKILL);
}

}  // namespace
}  // namespace qx::test
