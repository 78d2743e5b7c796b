#include <gtest/gtest.h>

#include "app/command_line.h"
#include "res/strings.h"
#include "support/child_process.h"

namespace qx::test {
namespace {

std::vector<std::string> Paths(std::vector<const char*> arguments, const std::string& folder = "/home/anna") {
    arguments.insert(arguments.begin(), "quendrix");
    return CommandLinePaths(static_cast<int>(arguments.size()), arguments.data(), folder);
}

TEST(CommandLinePaths, AbsoluteAsGivenRelativeAgainstTheWorkingFolder) {
    EXPECT_TRUE(Paths({}).empty());
    EXPECT_EQ(Paths({"/srv/Bilder/a.jpg", "b.png", "./Urlaub/", "../c.bmp", "x/./y//z.jpg", "/a/./b.jpg"}),
              (std::vector<std::string>{"/srv/Bilder/a.jpg", "/home/anna/b.png", "/home/anna/Urlaub/",
                                        "/home/anna/../c.bmp", "/home/anna/x/y/z.jpg", "/a/./b.jpg"}));
    EXPECT_EQ(Paths({"a.jpg"}, "/"), std::vector<std::string>{"/a.jpg"});
    EXPECT_EQ(Paths({"."}), std::vector<std::string>{"/home/anna"});
    // Bytes that are not UTF-8 stay as they are; an empty argument would name the working folder.
    EXPECT_EQ(Paths({"", "bild\xff.jpg", "-x.jpg"}),
              (std::vector<std::string>{"/home/anna/bild\xff.jpg", "/home/anna/-x.jpg"}));
    // Without a working folder (deleted meanwhile) the relative path is all there is.
    EXPECT_EQ(Paths({"b.png"}, ""), std::vector<std::string>{"b.png"});
}

TEST(CommandLine, HelpAndVersionPrintAndEndWithoutADisplay) {
    const std::map<std::string, std::string> noDisplay = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    test::RunResult r = test::RunChild(QUENDRIX_BINARY_DIR "/quendrix", {.args = {"--help"}, .env = noDisplay});
    EXPECT_TRUE(r.Exited(0) && r.out == res::LoadString(res::IDS_APP_USAGE)) << test::Describe(r);
    r = test::RunChild(QUENDRIX_BINARY_DIR "/quendrix", {.args = {"x.jpg", "--version"}, .env = noDisplay});
    EXPECT_TRUE(r.Exited(0) && r.out == test::RunChild(test::kBatchProgram, {.args = {"--version"}}).out) << r.out;
}

TEST(CommandLinePaths, CurrentFolderIsAbsolute) {
    const std::string folder = CurrentFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
}

}  // namespace
}  // namespace qx::test
