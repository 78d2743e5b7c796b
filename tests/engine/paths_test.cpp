#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "engine/paths.h"
#include "support/test_support.h"

namespace qx::test {
namespace {

PathParts Split(const std::string& path, PathStyle style) {
    PathParts parts;
    SplitPath(parts, path, style);
    return parts;
}

void ExpectParts(const std::string& path, PathStyle style, const std::string& drive, const std::string& dir,
                 const std::string& title, const std::string& ext) {
    const PathParts p = Split(path, style);
    EXPECT_EQ(p.drive, drive) << path;
    EXPECT_EQ(p.directory, dir) << path;
    EXPECT_EQ(p.title, title) << path;
    EXPECT_EQ(p.extension, ext) << path;
    EXPECT_EQ(p.drive + p.directory + p.title + p.extension, path);
}

TEST(SplitPath, WindowsStyle) {
    const auto w = PathStyle::Windows;
    ExpectParts("C:\\Bilder\\Urlaub\\Foto.JPG", w, "C:", "\\Bilder\\Urlaub\\", "Foto", ".JPG");
    ExpectParts("C:\\a.b\\datei", w, "C:", "\\a.b\\", "datei", "");
    ExpectParts("bild.tar.png", w, "", "", "bild.tar", ".png");
    ExpectParts(".png", w, "", "", "", ".png");
    ExpectParts("bild.", w, "", "", "bild", ".");
    ExpectParts("D:/Out/x.jpg", w, "D:", "/Out/", "x", ".jpg");
    EXPECT_EQ(ParentDirectory("C:\\a\\b", w), "C:\\a\\");
    EXPECT_EQ(ParentDirectory("C:\\a\\b\\", w), "C:\\a\\b\\");
    EXPECT_EQ(ParentDirectory("C:", w), "C:");
}

TEST(SplitPath, NativeStyleKnowsNoDrivesAndNoBackslashes) {
    const auto n = PathStyle::Native;
    ExpectParts("/home/u/Foto.JPG", n, "", "/home/u/", "Foto", ".JPG");
    ExpectParts("C:\\a\\b.png", n, "", "", "C:\\a\\b", ".png");
    ExpectParts("/a.b/datei", n, "", "/a.b/", "datei", "");
    ExpectParts("rel/x.tar.gz", n, "", "rel/", "x.tar", ".gz");
    EXPECT_EQ(ParentDirectory("/a/b"), "/a/");
    EXPECT_EQ(ParentDirectory("/a/b/"), "/a/b/");
    // No part is cut at 255 characters.
    const std::string longName(600, 'n');
    ExpectParts("/" + std::string(300, 'd') + "/" + longName + ".jpg", n, "", "/" + std::string(300, 'd') + "/",
                longName, ".jpg");
}

// A pretend Windows file system: the folders that exist, and a record of what was created.
struct FakeDrive {
    std::set<std::string> folders;
    std::set<std::string> files;
    std::vector<std::string> created;
    DirectoryOps ops() {
        return {[this](const std::string& p) {
                    std::string key = p;
                    while (key.size() > 2 && key.back() == '\\') key.pop_back();
                    if (folders.count(key)) return -1;
                    return files.count(key) ? 1 : 0;
                },
                [this](const std::string& p) {
                    const std::string parent = ParentDirectory(p, PathStyle::Windows);
                    std::string parentKey = parent;
                    while (parentKey.size() > 2 && parentKey.back() == '\\') parentKey.pop_back();
                    if (!folders.count(parentKey) || folders.count(p) || files.count(p)) return false;
                    folders.insert(p);
                    created.push_back(p);
                    return true;
                }};
    }
};

TEST(CreateDirectoryTree, WindowsRules) {
    const auto w = PathStyle::Windows;
    FakeDrive d;
    d.folders = {"D:", "C:"};
    EXPECT_TRUE(CreateDirectoryTree("D:\\Out\\2007\\Mai", w, d.ops()));
    EXPECT_EQ(d.created, (std::vector<std::string>{"D:\\Out", "D:\\Out\\2007", "D:\\Out\\2007\\Mai"}));
    d.created.clear();
    EXPECT_TRUE(CreateDirectoryTree("D:\\Out\\2007\\Mai\\", w, d.ops()));
    EXPECT_TRUE(d.created.empty());

    d.files = {"C:\\datei"};
    EXPECT_FALSE(CreateDirectoryTree("C:\\datei", w, d.ops()));
    EXPECT_FALSE(CreateDirectoryTree("Q:\\x", w, d.ops()));  // no such drive
    EXPECT_TRUE(CreateDirectoryTree("C:\\", w, d.ops()));
    EXPECT_TRUE(CreateDirectoryTree("", w, d.ops()));
    d.created.clear();
    EXPECT_TRUE(CreateDirectoryTree("D:/Out/neu/", w, d.ops()));  // trailing "/" is not trimmed: nothing made
    EXPECT_FALSE(CreateDirectoryTree("D:/Neu/x", w, d.ops()));    // tries only D:/Neu/x
    EXPECT_TRUE(d.created.empty());
}

class RealFolder : public ::testing::Test {
protected:
    test::ScratchDir scratch_;
    const std::string root_ = scratch_.path();
};

TEST_F(RealFolder, ClassifyAndCreateNatively) {
    EXPECT_EQ(ClassifyPath(root_), -1);
    EXPECT_EQ(ClassifyPath(root_ + "/"), -1);
    EXPECT_EQ(ClassifyPath("/"), -1);
    EXPECT_EQ(ClassifyPath(root_ + "/nothing"), 0);
    EXPECT_EQ(ClassifyPath(""), 0);
    test::WriteBytes(root_ + "/file.jpg", "x");
    EXPECT_EQ(ClassifyPath(root_ + "/file.jpg"), 1);

    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    EXPECT_TRUE(IsDirectoryByChdir(root_));
    EXPECT_FALSE(IsDirectoryByChdir(root_ + "/file.jpg"));
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);

    EXPECT_TRUE(CreateDirectoryTree(root_ + "/Out/2007/Mai/"));  // trailing "/" trimmed, folders made
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Out/2007/Mai"));
    EXPECT_TRUE(CreateDirectoryTree(root_ + "/Out/2007/Mai"));
    EXPECT_FALSE(CreateDirectoryTree(root_ + "/file.jpg"));
    EXPECT_FALSE(CreateDirectoryTree(root_ + "/file.jpg/sub"));
    EXPECT_TRUE(CreateDirectoryTree("/"));
    EXPECT_TRUE(CreateDirectoryTree(""));

    // Only "/" separates here: a backslash is part of a name, and repeated separators are trimmed.
    EXPECT_TRUE(CreateDirectoryTree(root_ + "/back\\slash\\//"));
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/back\\slash\\"));
    // A link to a folder is a folder.
    std::filesystem::create_directory_symlink(root_ + "/Out", root_ + "/link");
    EXPECT_EQ(ClassifyPath(root_ + "/link"), -1);
    EXPECT_TRUE(CreateDirectoryTree(root_ + "/link/neu"));
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Out/neu"));

    // A relative path is resolved against the current directory, which the routines leave alone.
    ASSERT_EQ(chdir(root_.c_str()), 0);
    EXPECT_TRUE(CreateDirectoryTree("rel/a/b/"));
    EXPECT_EQ(ClassifyPath("rel/a/b"), -1);
    EXPECT_TRUE(IsDirectoryByChdir("rel/a"));
    ASSERT_EQ(chdir(before), 0);
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/rel/a/b"));

    if (geteuid() != 0) {  // root may enter any folder, so only others see the difference
        std::filesystem::create_directory(root_ + "/closed");
        chmod((root_ + "/closed").c_str(), 0600);
        EXPECT_FALSE(IsDirectoryByChdir(root_ + "/closed"));
        chmod((root_ + "/closed").c_str(), 0700);
    }

    // Deep and long: no limit of 255 or 260 characters.
    std::string deep = root_;
    for (int i = 0; i < 30; ++i) deep += "/" + std::string(40, static_cast<char>('a' + i % 26));
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_EQ(ClassifyPath(deep), -1);
}

TEST(KeptTree, SubfoldersThatWouldClimbOutAreRefusedByName) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},        {"Urlaub/", true},       {"Urlaub/2024/Mai/", true},
        {"..x/.y/", true}, {"../", false},          {"Urlaub/../", false},
        {"./", false},     {"Urlaub//Mai/", false}, {"/etc/", false},
        {"Urlaub", false}, {"a/../../", false},
    };
    for (const auto& [subfolder, contained] : cases) EXPECT_EQ(IsContainedSubfolder(subfolder), contained) << subfolder;
}

TEST(KeptTree, FoldersAreMadeAndALinkOutOfTheTargetIsRefused) {
    ScratchDir scratch;
    const std::string target = scratch / "ziel/";
    MakeDir(scratch / "ziel");
    EXPECT_EQ(KeptTreeFolder(target, ""), target);
    EXPECT_EQ(KeptTreeFolder(target, "Urlaub/2024/Mai/"), target + "Urlaub/2024/Mai/");
    EXPECT_TRUE(std::filesystem::is_directory(target + "Urlaub/2024/Mai"));
    EXPECT_EQ(KeptTreeFolder(target, "../raus/"), "");
    EXPECT_FALSE(Exists(scratch / "raus"));

    // A folder of the tree that is a link to elsewhere would put outputs outside the target folder.
    std::filesystem::create_directories(scratch / "anderswo");
    std::filesystem::create_directory_symlink(scratch / "anderswo", target + "Urlaub/2025");
    EXPECT_EQ(KeptTreeFolder(target, "Urlaub/2025/Juni/"), "");
    EXPECT_FALSE(Exists(scratch / "anderswo/Juni")) << "nothing is made where the link points";
    // A link that stays inside is just another way to the same place.
    std::filesystem::create_directory_symlink(target + "Urlaub/2024", target + "Kurz");
    EXPECT_EQ(KeptTreeFolder(target, "Kurz/Mai/"), target + "Kurz/Mai/");
}

}  // namespace
}  // namespace qx::test
