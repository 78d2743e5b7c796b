#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <optional>

#include "settings/profile_store.h"
#include "support/child_process.h"

namespace qx::test {
namespace {

TEST(ProfileStore, MissingFileGivesDefaultsAndWritesCreateIt) {
    test::ScratchDir dir;
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", "Pic"), "Pic");

    store.WriteProfileInt("Allg", "Rate", 55);
    store.WriteProfileStringA("Allg", "Verz", "/home/u/Quendrix");
    store.WriteProfileInt("Parameter", "ThreadAnzahl", -1);
    EXPECT_EQ(test::ReadBytes(dir / "q.ini"), "[Allg]\nRate=55\nVerz=/home/u/Quendrix\n[Parameter]\nThreadAnzahl=-1\n");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 55);
    EXPECT_EQ(store.GetProfileIntA("Parameter", "ThreadAnzahl", 10), -1);
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "/home/u/Quendrix");
}

TEST(ProfileStore, KeepsForeignLinesAndMatchesWithoutCase) {
    test::ScratchDir dir;
    const std::string original =
        "; a comment\r\n[other]\r\nx=1\r\n\r\n[ALLG]\r\nrate=10\r\nunknown=keep me\r\n[Parameter]\r\nPrefix=\r\n";
    test::WriteBytes(dir / "q.ini", original);
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 10);
    EXPECT_EQ(store.GetProfileStringA("parameter", "PREFIX", "Pic"), "");  // empty value, not the default
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Missing", "dflt"), "dflt");

    store.WriteProfileInt("Allg", "Rate", 90);
    store.WriteProfileInt("Allg", "Hoehe", 480);
    EXPECT_EQ(test::ReadBytes(dir / "q.ini"),
              "; a comment\r\n[other]\r\nx=1\r\n\r\n[ALLG]\r\nrate=90\r\nunknown=keep me\r\nHoehe=480\r\n"
              "[Parameter]\r\nPrefix=\r\n");
}

TEST(ProfileStore, IntegersReadLikeTheWindowsProfileFunctions) {
    EXPECT_EQ(ParseProfileInt("  42"), 42);
    EXPECT_EQ(ParseProfileInt("\t-7"), -7);
    EXPECT_EQ(ParseProfileInt("+5"), 5);
    EXPECT_EQ(ParseProfileInt("12abc"), 12);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    EXPECT_EQ(ParseProfileInt("- 3"), 0);
    EXPECT_EQ(ParseProfileInt("4294967295"), -1);  // wraps like a 32-bit value
    EXPECT_EQ(ParseProfileInt("99999999999"), static_cast<int>(99999999999LL & 0xFFFFFFFF));
    EXPECT_EQ(ParseProfileInt("0x1F"), 31);
    EXPECT_EQ(ParseProfileInt("-0x10"), -16);
    EXPECT_EQ(ParseProfileInt("0o17"), 15);
    EXPECT_EQ(ParseProfileInt("0b101"), 5);
    EXPECT_EQ(ParseProfileInt("0X1F"), 0);  // only the lower-case prefixes count
    EXPECT_EQ(ParseProfileInt("08"), 8);    // a leading zero alone is still decimal
    EXPECT_EQ(ParseProfileInt("0x"), 0);
    EXPECT_EQ(ParseProfileInt("1.5"), 1);

    test::ScratchDir dir;
    test::WriteBytes(dir / "q.ini", "[Allg]\nRate=\nProzent=   \nHoehe=\"\"\nBreite= 640 px\nZielPath=x\n");
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 80);  // empty text gives the default
    EXPECT_EQ(store.GetProfileIntA("Allg", "Prozent", 100), 100);
    EXPECT_EQ(store.GetProfileIntA("Allg", "Hoehe", 480), 480);
    EXPECT_EQ(store.GetProfileIntA("Allg", "Breite", 1), 640);
    EXPECT_EQ(store.GetProfileIntA("Allg", "ZielPath", 1), 0);  // text without digits is 0
    store.WriteProfileInt("Allg", "ZielPath", INT_MIN);
    EXPECT_EQ(store.GetProfileIntA("Allg", "ZielPath", 1), INT_MIN);
}

TEST(ProfileStore, BlanksAndQuotesAroundValues) {
    test::ScratchDir dir;
    // Hand-typed blanks around "=" and quotes around a value are not part of the text.
    test::WriteBytes(dir / "q.ini", "[Allg]\n  Verz = /home/u/Bilder  \nRate = \"55\"\n[Parameter]\nPrefix='x y'\n");
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "/home/u/Bilder");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 55);
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), "x y");

    // Every text written comes back unchanged; quotes are added only where reading would change it.
    for (const std::string text : {" Pic ", "Pic ", "\t", "\"a\"", "'b'", "\"", "'", "\"c", "a \"q\" b", "x=y", ""}) {
        store.WriteProfileStringA("Parameter", "Prefix", text);
        EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", "dflt"), text) << text;
    }
    store.WriteProfileStringA("Parameter", "Prefix", " Pic ");
    store.WriteProfileStringA("Allg", "Verz", "/plain/path");
    EXPECT_EQ(test::ReadBytes(dir / "q.ini"),
              "[Allg]\nVerz=/plain/path\nRate = \"55\"\n[Parameter]\nPrefix=\" Pic \"\n");

    // A line break or a NUL cannot be stored inside one value: the text ends there.
    store.WriteProfileStringA("Parameter", "Prefix", "a\nb=c");
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), "a");
    EXPECT_EQ(store.GetProfileStringA("Parameter", "b", "none"), "none");
    store.WriteProfileStringA("Parameter", "Prefix", std::string("d\0e", 3));
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), "d");
}

TEST(ProfileStore, LineEndsAndAMissingFinalLineEndAreKept) {
    test::ScratchDir dir;
    // Mixed line ends stay as they are; added lines take the file's first line end.
    test::WriteBytes(dir / "q.ini", "[Allg]\r\nRate=1\nx\r\n[Parameter]\r\nLfdNr=5");
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Parameter", "LfdNr", 1), 5);
    store.WriteProfileInt("Allg", "Rate", 2);
    EXPECT_EQ(test::ReadBytes(dir / "q.ini"), "[Allg]\r\nRate=2\nx\r\n[Parameter]\r\nLfdNr=5");
    store.WriteProfileInt("Parameter", "Stellen", 4);  // after the last line, which then needs an end
    EXPECT_EQ(test::ReadBytes(dir / "q.ini"), "[Allg]\r\nRate=2\nx\r\n[Parameter]\r\nLfdNr=5\r\nStellen=4\r\n");

    test::WriteBytes(dir / "n.ini", "; only a comment");
    ProfileStore other(dir / "n.ini");
    other.WriteProfileInt("Allg", "Rate", 3);
    EXPECT_EQ(test::ReadBytes(dir / "n.ini"), "; only a comment\n[Allg]\nRate=3\n");

    // The first section and the first key of a name count; the later ones stay untouched.
    test::WriteBytes(dir / "d.ini", "[allg]\nRATE=1\nRate=2\n[Allg]\nRate=3\n");
    ProfileStore dup(dir / "d.ini");
    EXPECT_EQ(dup.GetProfileIntA("Allg", "Rate", 80), 1);
    dup.WriteProfileInt("Allg", "Rate", 9);
    EXPECT_EQ(test::ReadBytes(dir / "d.ini"), "[allg]\nRATE=9\nRate=2\n[Allg]\nRate=3\n");
}

// Windows editors put a UTF-8 byte-order mark before the first section: it is read past and kept.
TEST(ProfileStore, AByteOrderMarkIsReadPastAndKept) {
    test::ScratchDir dir;
    const std::string bom = "\xEF\xBB\xBF";
    const struct {
        std::string before;
        int read;
        std::string after;
    } cases[] = {
        {bom + "[Allg]\r\nRate=5\r\n", 5, bom + "[Allg]\r\nRate=6\r\n"},
        {bom + "  [allg]\nRATE = 5", 5, bom + "  [allg]\nRATE=6"},
        {bom, 80, bom + "[Allg]\nRate=6\n"},
        {bom + "Rate=5\n", 80, bom + "Rate=5\n[Allg]\nRate=6\n"},  // a key before any section is in none
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        test::WriteBytes(dir / "b.ini", c.before);
        ProfileStore store(dir / "b.ini");
        EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), c.read);
        EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 6));
        EXPECT_EQ(test::ReadBytes(dir / "b.ini"), c.after);
    }
}

TEST(ProfileStore, GarbageAndHugeFilesGiveDefaultsWithoutCrashing) {
    test::ScratchDir dir;
    std::string garbage;
    for (int i = 0; i < 200000; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    test::WriteBytes(dir / "g.ini", garbage);
    ProfileStore g(dir / "g.ini");
    EXPECT_EQ(g.GetProfileIntA("Allg", "Rate", 80), 80);

    const size_t longest = kMaxProfileFileBytes - 64;  // a line as long as a settings file may be
    test::WriteBytes(dir / "long.ini", "[Allg]\nVerz=" + std::string(longest, 'x') + "\nRate=33");
    ProfileStore longLines(dir / "long.ini");
    EXPECT_EQ(longLines.GetProfileStringA("Allg", "Verz", "").size(), longest);
    EXPECT_EQ(longLines.GetProfileIntA("Allg", "Rate", 80), 33);
    longLines.WriteProfileInt("Allg", "Rate", 34);  // file without a final line end
    EXPECT_EQ(longLines.GetProfileIntA("Allg", "Rate", 80), 34);

    std::filesystem::create_directory(dir / "folder.ini");  // cannot be read as a file
    ProfileStore folder(dir / "folder.ini");
    EXPECT_EQ(folder.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_FALSE(folder.WriteProfileInt("Allg", "Rate", 1));

    // A pipe in the file's place must not block the program.
    ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    ProfileStore fifo(dir / "fifo.ini");
    EXPECT_EQ(fifo.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_FALSE(fifo.WriteProfileInt("Allg", "Rate", 1));

    // A file too large to be ours is neither read nor replaced (a sparse file costs no disk).
    const std::string big = dir / "big.ini";
    test::WriteBytes(big, "[Allg]\nRate=5\n");
    std::filesystem::resize_file(big, kMaxProfileFileBytes);
    EXPECT_EQ(CheckProfileFile(big), ProfileFileState::Usable);
    std::filesystem::resize_file(big, kMaxProfileFileBytes + 1);
    EXPECT_EQ(CheckProfileFile(big), ProfileFileState::TooLarge);
    EXPECT_EQ(CheckProfileFile(dir / "fifo.ini"), ProfileFileState::Unreadable);
    EXPECT_EQ(CheckProfileFile(dir / "none.ini"), ProfileFileState::Missing);
    ProfileStore huge(big);
    EXPECT_EQ(huge.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_FALSE(huge.WriteProfileInt("Allg", "Rate", 1));
    EXPECT_EQ(std::filesystem::file_size(big), kMaxProfileFileBytes + 1);
}

TEST(ProfileStore, ANameAsLongAsTheFileSystemAllows) {
    test::ScratchDir dir;
    const std::string path = dir / (std::string(251, 'q') + ".ini");
    ProfileStore store(path);
    EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 7));
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 7);
}

TEST(ProfileStore, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    test::ScratchDir dir;
    std::filesystem::create_directory(dir / "cfg");
    const std::string path = dir / "cfg/q.ini";
    test::WriteBytes(path, "[Allg]\nRate=10\n");
    ProfileStore store(path);

    // A folder where no new file can be made (as root, permissions do not stop us: use a missing folder).
    ProfileStore missing(dir / "nowhere/q.ini");
    EXPECT_FALSE(missing.WriteProfileInt("Allg", "Rate", 1));
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));

    if (geteuid() != 0) {
        chmod((dir / "cfg").c_str(), 0555);
        EXPECT_FALSE(store.WriteProfileInt("Allg", "Rate", 20));
        chmod((dir / "cfg").c_str(), 0755);
    }
    EXPECT_EQ(test::ReadBytes(path), "[Allg]\nRate=10\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);

    {
        // A disk that fills up while the new file is written (a file-size limit stops root as well).
        struct rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
        const bool written = store.WriteProfileStringA("Allg", "Verz", std::string(1000, 'v'));
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(written);
    }
    EXPECT_EQ(test::ReadBytes(path), "[Allg]\nRate=10\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);

    chmod(path.c_str(), 0640);
    EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 20));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // the file keeps its permissions
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);
}

constexpr uid_t kNobody = 65534;

// Writes Rate=20 into `path` in a child process that runs as nobody; true when the write succeeded.
// Nothing when the child could not drop root (or the test does not run as root).
std::optional<bool> WriteAsNobody(const std::string& path) {
    const pid_t pid = fork();
    if (pid < 0) return std::nullopt;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(3);
        ProfileStore store(path);
        _exit(store.WriteProfileInt("Allg", "Rate", 20) ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A settings file made read-only keeps its contents: the rename that would replace it needs only the
// folder's permission, and the file's own must count.
TEST(ProfileStore, AFileItsUserMayNotWriteIsNotReplaced) {
    test::ScratchDir dir;
    const std::string path = dir / "q.ini";
    const std::string old = "[Allg]\nRate=10\n";
    test::WriteBytes(path, old);
    ProfileStore store(path);

    // Mode bits decide, whoever runs this; root too, for whom the kernel checks nothing.
    chmod(path.c_str(), 0444);
    EXPECT_FALSE(store.WriteProfileInt("Allg", "Rate", 20));
    EXPECT_FALSE(store.WriteProfileStringA("Parameter", "Prefix", "x"));
    EXPECT_EQ(test::ReadBytes(path), old);
    EXPECT_EQ(ModeOf(path), 0444u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);  // no temporary left

    // Writable again: replaced, with the file's own mode.
    chmod(path.c_str(), 0604);
    EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 20));
    EXPECT_EQ(test::ReadBytes(path), "[Allg]\nRate=20\n");
    EXPECT_EQ(ModeOf(path), 0604u);

    if (geteuid() != 0) GTEST_SKIP() << "the checks as another user need root to drop to nobody";

    // Root writing another user's file leaves it theirs.
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 30));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
    EXPECT_EQ(st.st_gid, kNobody);

    // As nobody, in a folder nobody may write to: its own read-only file, and root's file that only root
    // may write, stay as they are; its own writable file is replaced and keeps its mode.
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    test::WriteBytes(path, old);
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    auto written = WriteAsNobody(path);
    ASSERT_TRUE(written) << "could not run as nobody";
    EXPECT_FALSE(*written);
    EXPECT_EQ(test::ReadBytes(path), old);

    ASSERT_EQ(chown(path.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    written = WriteAsNobody(path);
    ASSERT_TRUE(written);
    EXPECT_FALSE(*written);
    EXPECT_EQ(test::ReadBytes(path), old);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);

    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    written = WriteAsNobody(path);
    ASSERT_TRUE(written);
    EXPECT_TRUE(*written);
    EXPECT_EQ(test::ReadBytes(path), "[Allg]\nRate=20\n");
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(ProfileStore, WritesThroughASymbolicLinkAndKeepsIt) {
    test::ScratchDir dir;
    test::WriteBytes(dir / "real.ini", "[Allg]\nRate=1\n");
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    ProfileStore store(dir / "link.ini");
    store.WriteProfileInt("Allg", "Rate", 2);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(test::ReadBytes(dir / "real.ini"), "[Allg]\nRate=2\n");
}

}  // namespace
}  // namespace qx::test
