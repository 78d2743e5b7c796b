#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/profile_store.h"
#include "temp_dir.h"

namespace qx {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(ProfileStore, MissingFileGivesDefaultsAndWritesCreateIt) {
    TempDir dir;
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", "Pic"), "Pic");

    store.WriteProfileInt("Allg", "Rate", 55);
    store.WriteProfileStringA("Allg", "Verz", "/home/u/Quendrix");
    store.WriteProfileInt("Parameter", "ThreadAnzahl", -1);
    EXPECT_EQ(ReadFile(dir / "q.ini"), "[Allg]\nRate=55\nVerz=/home/u/Quendrix\n[Parameter]\nThreadAnzahl=-1\n");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 55);
    EXPECT_EQ(store.GetProfileIntA("Parameter", "ThreadAnzahl", 10), -1);
    EXPECT_EQ(store.GetProfileStringA("Allg", "Verz", ""), "/home/u/Quendrix");
}

TEST(ProfileStore, KeepsForeignLinesAndMatchesWithoutCase) {
    TempDir dir;
    const std::string original =
        "; a comment\r\n[other]\r\nx=1\r\n\r\n[ALLG]\r\nrate=10\r\nunknown=keep me\r\n[Parameter]\r\nPrefix=\r\n";
    WriteFile(dir / "q.ini", original);
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 10);
    EXPECT_EQ(store.GetProfileStringA("parameter", "PREFIX", "Pic"), "");  // empty value, not the default
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Missing", "dflt"), "dflt");

    store.WriteProfileInt("Allg", "Rate", 90);
    store.WriteProfileInt("Allg", "Hoehe", 480);
    EXPECT_EQ(ReadFile(dir / "q.ini"),
              "; a comment\r\n[other]\r\nx=1\r\n\r\n[ALLG]\r\nrate=90\r\nunknown=keep me\r\nHoehe=480\r\n"
              "[Parameter]\r\nPrefix=\r\n");
}

TEST(ProfileStore, BlanksAroundTextValuesSurviveARoundTrip) {
    TempDir dir;
    ProfileStore store(dir / "q.ini");
    store.WriteProfileStringA("Parameter", "Prefix", " Pic ");
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), " Pic ");
    // A line break cannot be stored inside one value.
    store.WriteProfileStringA("Parameter", "Prefix", "a\nb=c");
    EXPECT_EQ(store.GetProfileStringA("Parameter", "Prefix", ""), "a");
    EXPECT_EQ(store.GetProfileStringA("Parameter", "b", "none"), "none");
}

TEST(ProfileStore, IntegersReadLikeTheWindowsProfileFunctions) {
    EXPECT_EQ(ParseProfileInt("  42"), 42);
    EXPECT_EQ(ParseProfileInt("\t-7"), -7);
    EXPECT_EQ(ParseProfileInt("+5"), 5);
    EXPECT_EQ(ParseProfileInt("12abc"), 12);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    EXPECT_EQ(ParseProfileInt("4294967295"), -1);  // wraps like a 32-bit value

    TempDir dir;
    WriteFile(dir / "q.ini", "[Allg]\nRate=\nBreite= 640 px\n");
    ProfileStore store(dir / "q.ini");
    EXPECT_EQ(store.GetProfileIntA("Allg", "Rate", 80), 80);  // empty text gives the default
    EXPECT_EQ(store.GetProfileIntA("Allg", "Breite", 1), 640);
}

TEST(ProfileStore, GarbageAndHugeFilesGiveDefaultsWithoutCrashing) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 200000; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    WriteFile(dir / "g.ini", garbage);
    ProfileStore g(dir / "g.ini");
    EXPECT_EQ(g.GetProfileIntA("Allg", "Rate", 80), 80);

    WriteFile(dir / "long.ini", "[Allg]\nVerz=" + std::string(1 << 20, 'x') + "\nRate=33");
    ProfileStore longLines(dir / "long.ini");
    EXPECT_EQ(longLines.GetProfileStringA("Allg", "Verz", "").size(), size_t{1} << 20);
    EXPECT_EQ(longLines.GetProfileIntA("Allg", "Rate", 80), 33);
    longLines.WriteProfileInt("Allg", "Rate", 34);  // file without a final line end
    EXPECT_EQ(longLines.GetProfileIntA("Allg", "Rate", 80), 34);

    std::filesystem::create_directory(dir / "folder.ini");  // cannot be read as a file
    ProfileStore folder(dir / "folder.ini");
    EXPECT_EQ(folder.GetProfileIntA("Allg", "Rate", 80), 80);
    EXPECT_FALSE(folder.WriteProfileInt("Allg", "Rate", 1));
}

TEST(ProfileStore, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    std::filesystem::create_directory(dir / "cfg");
    const std::string path = dir / "cfg/q.ini";
    WriteFile(path, "[Allg]\nRate=10\n");
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
    EXPECT_EQ(ReadFile(path), "[Allg]\nRate=10\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);

    EXPECT_TRUE(store.WriteProfileInt("Allg", "Rate", 20));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "cfg"), {}), 1);
}

TEST(ProfileStore, WritesThroughASymbolicLinkAndKeepsIt) {
    TempDir dir;
    WriteFile(dir / "real.ini", "[Allg]\nRate=1\n");
    std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
    ProfileStore store(dir / "link.ini");
    store.WriteProfileInt("Allg", "Rate", 2);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
    EXPECT_EQ(ReadFile(dir / "real.ini"), "[Allg]\nRate=2\n");
}

}  // namespace
}  // namespace qx
