// Opening regular files without waiting, and replacing files atomically, on real folders.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "engine/file_io.h"
#include "support/test_support.h"

namespace qx::files {
namespace {

using test::FolderEntries;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;
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

}  // namespace
}  // namespace qx::files
