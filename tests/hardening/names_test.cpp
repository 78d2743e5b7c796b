// Hostile file names and settings files through quendrix-batch: names with line breaks, a leading "-",
// bytes that are not UTF-8, long components and deep folders are processed under their exact names; a
// settings file of garbage gives the defaults. Nothing crashes or hangs.
#include <climits>

#include "hardening_support.h"
#include "res/strings.h"
#include "settings/profile_store.h"

namespace qx::test {
namespace {

class NamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings = dir / "quendrix.ini";
        WriteBytes(settings, "[Allg]\nBildsize=1\nBreite=64\nHoehe=64\n");
        MakeDir(dir / "in");
    }
    ScratchDir dir;
    std::string settings;
};

TEST_F(NamesTest, AwkwardNamesArePassedThroughExactly) {
    const std::string longName(220, 'x');
    const std::vector<std::string> names = {
        "zeile\nneu", "-rf",         "--help", "bild-\xff\xfe-\xe4", " blank ",
        "stern*?[",   "back\\slash", longName, "tab\there",          "emoji-\xf0\x9f\x93\xb7"};
    for (const std::string& name : names) WriteImage(dir / "in/" + name + ".jpg", 120, 90);

    // Into a target folder, the folder dropped whole.
    const RunResult folder = RunBatchProgram(settings, {"--target-folder", dir / "out", "--", dir / "in"});
    ASSERT_TRUE(folder.Exited(0)) << Describe(folder);
    for (const std::string& name : names) {
        EXPECT_EQ(DecodedSize(dir / "out/" + name + ".jpg"), std::make_pair(64u, 48u)) << name;
    }
    EXPECT_EQ(Tree(dir / "out").size(), names.size());

    // Named one by one on the command line, beside their sources ("_c").
    std::vector<std::string> args = {"--source-folders", "--"};
    for (const std::string& name : names) args.push_back(dir / "in/" + name + ".jpg");
    const RunResult each = RunBatchProgram(settings, args);
    ASSERT_TRUE(each.Exited(0)) << Describe(each);
    for (const std::string& name : names) {
        EXPECT_EQ(DecodedSize(dir / "in/" + name + "_c.jpg"), std::make_pair(64u, 48u)) << name;
    }
}

// A tree deeper than a path may be long (made level by level through folder descriptors): files within the
// limit are processed; those beyond it cannot even be opened by name and are passed over by the walk. No
// crash, nothing written under a shortened or wrong name.
TEST_F(NamesTest, DeepFoldersBeyondThePathLimit) {
    WriteImage(dir / "photo.jpg", 120, 90);
    const std::string photo = ReadBytes(dir / "photo.jpg");
    const std::string component(200, 'd');
    std::string folder = dir / "in";
    int parent = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(parent, 0);
    std::vector<std::string> reachable;
    int beyond = 0;
    while (folder.size() < PATH_MAX + 600) {
        folder += "/" + component;
        ASSERT_EQ(::mkdirat(parent, component.c_str(), 0755), 0) << std::strerror(errno);
        const int child = ::openat(parent, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(parent);
        parent = child;
        ASSERT_GE(parent, 0);
        const int file = ::openat(parent, "b.jpg", O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(::write(file, photo.data(), photo.size()), static_cast<ssize_t>(photo.size()));
        ::close(file);
        if (folder.size() + 9 < PATH_MAX)
            reachable.push_back(folder + "/b");  // room for "/b_c.jpg"
        else
            ++beyond;
    }
    ::close(parent);
    ASSERT_GE(reachable.size(), 15u);
    ASSERT_GE(beyond, 2);

    const RunResult run = RunBatchProgram(settings, {"--source-folders", "--threads", "4", "--", dir / "in"});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0) << Describe(run);
    for (const std::string& file : reachable) {
        EXPECT_EQ(DecodedSize(file + "_c.jpg"), std::make_pair(64u, 48u)) << file.size();
    }
    EXPECT_TRUE(TemporaryFiles(dir / "in").empty());
}

TEST_F(NamesTest, SettingsFilesOfGarbageGiveTheDefaults) {
    WriteImage(dir / "in/a.jpg", 120, 90);
    std::string garbage;
    for (uint32_t i = 0; i < 300000; ++i) garbage += static_cast<char>(i * 7919u % 256);
    // One line as long as a settings file may be.
    const std::string hugeLine =
        "[Allg]\nPrefix=" + std::string(kMaxProfileFileBytes - 64, 'p') + "\nBildsize=1\nBreite=64\nHoehe=64\n";
    for (const std::string& contents : {garbage, hugeLine, std::string("\0\0\0[Allg]\0Rate=5", 16)}) {
        WriteBytes(settings, contents);
        std::error_code ignored;
        std::filesystem::remove_all(dir / "out", ignored);
        const RunResult run = RunBatchProgram(settings, {"--target-folder", dir / "out", "--", dir / "in/a.jpg"});
        EXPECT_TRUE(run.Exited(0)) << Describe(run);
        EXPECT_TRUE(DecodedSize(dir / "out/a.jpg")) << Describe(run);
        EXPECT_EQ(ReadBytes(settings), contents) << "the settings file is only read";
    }
}

}  // namespace
}  // namespace qx::test
