// Opening regular files without waiting, and replacing files atomically, on real folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "engine/file_io.h"
#include "engine/file_io_testing.h"
#include "support/test_support.h"

namespace qx::test {
namespace {

using namespace files;

using Names = std::vector<std::string>;

bool Replace(const std::string& path, const std::string& bytes, const ReplaceOptions& options = {}) {
    return ReplaceFileAtomically(
        path, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }, options);
}

TEST(OpenRegularFile, OnlyRegularFilesAndNeverWaits) {
    ScratchDir dir;
    WriteBytes(dir / "a", "abc");
    struct stat status {};
    const int fd = OpenRegularFile(dir / "a", status);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(status.st_size, 3);
    char buffer[8];
    EXPECT_EQ(::read(fd, buffer, sizeof buffer), 3);
    ::close(fd);

    // A pipe without a writer would block a plain open; a folder is no file either.
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(OpenRegularFile(dir / "pipe", status), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(OpenRegularFile(dir.path(), status), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(OpenRegularFile(dir / "missing", status), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(OpenRegularFile(dir / "a/below", status), -1);
    EXPECT_EQ(errno, ENOTDIR);
}

TEST(ReplaceFileAtomically, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    ScratchDir dir;
    const std::string path = dir / "t.bin";
    WriteBytes(path, "old");
    EXPECT_FALSE(ReplaceFileAtomically(path, [](int fd) { return WriteAll(fd, "half", 4) && false; }));
    EXPECT_FALSE(ReplaceFileAtomically(path, [](int) -> bool { throw std::runtime_error("encoder"); }));
    EXPECT_EQ(ReadBytes(path), "old");
    EXPECT_EQ(FolderEntries(dir.path()), Names{"t.bin"});

    EXPECT_TRUE(Replace(path, "new"));
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_TRUE(Replace(dir / "fresh", "x"));
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"fresh", "t.bin"}));

    // No folder, a name that is a folder, a path ending in a separator: nothing to replace into.
    EXPECT_FALSE(Replace(dir / "none/t.bin", "x"));
    EXPECT_FALSE(Replace(dir / "t.bin/", "x"));
    EXPECT_FALSE(Replace("", "x"));
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(Replace(dir / "sub", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "sub"));
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"fresh", "sub", "t.bin"}));
}

TEST(ReplaceFileAtomically, LinksAndModesByOption) {
    ScratchDir dir;
    WriteBytes(dir / "real", "1");
    ::chmod((dir / "real").c_str(), 0600);
    std::filesystem::create_symlink(dir / "real", dir / "link");

    // Image outputs: the name itself is replaced, with a new file's mode.
    const mode_t mask = ::umask(022);
    EXPECT_TRUE(Replace(dir / "link", "2"));
    ::umask(mask);
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(ReadBytes(dir / "real"), "1");
    struct stat status {};
    ASSERT_EQ(::stat((dir / "link").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);

    // The settings file: through the link, keeping the file's mode.
    std::filesystem::remove(dir / "link");
    std::filesystem::create_symlink(dir / "real", dir / "link");
    ReplaceOptions settings;
    settings.throughLinks = true;
    settings.keepModeAndOwner = true;
    settings.refuseUnwritable = true;
    EXPECT_TRUE(Replace(dir / "link", "3", settings));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
    EXPECT_EQ(ReadBytes(dir / "real"), "3");
    ASSERT_EQ(::stat((dir / "real").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    // Read-only through the link: refused for the settings file, whoever runs this.
    ::chmod((dir / "real").c_str(), 0444);
    EXPECT_FALSE(Replace(dir / "link", "4", settings));
    EXPECT_EQ(ReadBytes(dir / "real"), "3");
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"link", "real"}));
}

// While it is written, an output has no name in the folder: a killed process leaves nothing behind. Where
// the file system cannot make such a file, the named temporary is the fallback.
TEST(ReplaceFileAtomically, TheTemporaryHasANameOnlyWhereItMust) {
    ScratchDir dir;
    for (bool namedOnly : {false, true}) {
        testing::UseNamedTemporariesOnly(namedOnly);
        Names duringWrite;
        EXPECT_TRUE(ReplaceFileAtomically(dir / "t.bin", [&](int fd) {
            duringWrite = FolderEntries(dir.path());
            return WriteAll(fd, "new", 3);
        }));
        const auto temporaries = std::count_if(duringWrite.begin(), duringWrite.end(),
                                               [](const std::string& name) { return name.rfind(".qx-", 0) == 0; });
        EXPECT_EQ(temporaries, namedOnly ? 1 : 0);
        EXPECT_EQ(ReadBytes(dir / "t.bin"), "new");
        EXPECT_EQ(FolderEntries(dir.path()), Names{"t.bin"});
    }
    testing::UseNamedTemporariesOnly(false);
}

// The first replacement in a folder removes the temporaries killed runs left there, and nothing else: not
// a newer one, not one whose writer still holds it, not another program's or a folder of that name.
TEST(ReplaceFileAtomically, StaleTemporariesOfKilledRunsAreSwept) {
    for (bool namedOnly : {false, true}) {
        testing::UseNamedTemporariesOnly(namedOnly);
        ScratchDir dir;
        const Names kept = {".qx-1111111111111111.tmp",
                            ".qx-2222222222222222.tmp.jpg",
                            ".qx-3333333333333333.tmp",
                            ".qx-4444444444444444.tmp",
                            ".qx-notours.tmp",
                            "out.jpg",
                            "photo.jpg"};
        std::filesystem::create_directory(dir / kept[2]);
        for (const std::string& name : Names{".qx-0123456789abcdef.tmp", kept[0], kept[1], kept[4], kept[6], kept[2]}) {
            if (name != kept[2]) WriteBytes(dir / name, "x");
            const timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            ::utimensat(AT_FDCWD, (dir / name).c_str(), anHourAgo, 0);
        }
        WriteBytes(dir / kept[3], "a newer one");
        const int held = ::open((dir / kept[0]).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        EXPECT_TRUE(Replace(dir / "out.jpg", "new"));
        EXPECT_EQ(FolderEntries(dir.path()), kept);
        ::close(held);
    }
    testing::UseNamedTemporariesOnly(false);
}

}  // namespace
}  // namespace qx::test
