// Dropped files and folders into rows, with real folders, real images and a real settings file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>

#include "intake/intake.h"
#include "settings/profile_store.h"
#include "settings/settings.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::ScratchDir;
using test::WriteBytes;
using test::WriteImage;

std::vector<FileRow> Drop(const std::vector<std::string>& paths, const InputTypeFlags& flags = {}) {
    std::vector<FileRow> rows;
    OnDropFiles(paths, flags, [&rows](const FileRow& row) { rows.push_back(row); });
    return rows;
}

std::vector<std::string> Paths(const std::vector<FileRow>& rows) {
    std::vector<std::string> paths;
    for (const FileRow& row : rows) paths.push_back(row.path);
    return paths;
}

// Flags as a drop takes them: EingabeTyp read from the settings file at that moment.
InputTypeFlags FlagsFromSettings(const std::string& settingsPath) {
    return settings::UnpackEingabeTyp(settings::ReadEingabeTyp(ProfileStore(settingsPath)));
}

class IntakeTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteImage(dir / "a.jpg", 64, 48, "jpg");
        WriteImage(dir / "b.jpeg", 32, 16, "jpg");
        WriteImage(dir / "c.bmp", 20, 10, "bmp");
        WriteImage(dir / "d.png", 30, 40, "png");
    }
    std::vector<std::string> All() { return {dir / "a.jpg", dir / "b.jpeg", dir / "c.bmp", dir / "d.png"}; }
    ScratchDir dir;
};

TEST_F(IntakeTest, InputTypesComeFromEingabeTypAtEveryDrop) {
    const std::string ini = dir / "q.ini";
    WriteBytes(ini, "[Parameter]\nPrefix=x\n");
    EXPECT_EQ(Paths(Drop(All(), FlagsFromSettings(ini))), All()) << "a missing key accepts all three types";

    WriteBytes(ini, "[Parameter]\nEingabeTyp=2\n");
    EXPECT_EQ(Paths(Drop(All(), FlagsFromSettings(ini))), (std::vector<std::string>{dir / "a.jpg", dir / "b.jpeg"}));

    WriteBytes(ini, "[Parameter]\nEingabeTyp=0\n");
    EXPECT_TRUE(Drop(All(), FlagsFromSettings(ini)).empty());
    EXPECT_TRUE(Drop({dir.path()}, FlagsFromSettings(ini)).empty());

    WriteBytes(ini, "[Parameter]\nEingabeTyp=13\n");  // 8 + 4 + 1: higher bits ignored
    EXPECT_EQ(Paths(Drop(All(), FlagsFromSettings(ini))), (std::vector<std::string>{dir / "c.bmp", dir / "d.png"}));
}

TEST_F(IntakeTest, ExtensionsIgnoreLetterCaseAndOnlyFourAreTaken) {
    WriteImage(dir / "FOTO.JPEG", 8, 8, "jpg");
    WriteImage(dir / "Bild.Png", 8, 8, "png");
    WriteImage(dir / "Gross.BMP", 8, 8, "bmp");
    // Real images under names of other or no types are never taken.
    for (const char* name : {"bild.jpe", "bild.gif", "bild.tif", "bild.jfif", "bild", "bild.jpg.txt"}) {
        WriteImage(dir / name, 8, 8, "jpg");
    }
    const auto rows = Drop({dir / "FOTO.JPEG", dir / "Bild.Png", dir / "Gross.BMP", dir / "bild.jpe", dir / "bild.gif",
                            dir / "bild.tif", dir / "bild.jfif", dir / "bild", dir / "bild.jpg.txt"});
    EXPECT_EQ(Paths(rows), (std::vector<std::string>{dir / "FOTO.JPEG", dir / "Bild.Png", dir / "Gross.BMP"}));
    EXPECT_TRUE(Drop({dir / "FOTO.JPEG"}, InputTypeFlags::Only(0b101)).empty());
}

TEST_F(IntakeTest, ContentNeedNotMatchTheExtension) {
    WriteImage(dir / "x.png", 640, 480, "jpg");
    const auto rows = Drop({dir / "x.png"}, InputTypeFlags::Only(0b100));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].sizeCell, "640 * 480");
}

TEST_F(IntakeTest, FilesThatAreNoImagesGetNoRow) {
    WriteBytes(dir / "empty.jpg", "");
    WriteBytes(dir / "text.png", "kein Bild");
    const std::string truncated = test::ReadBytes(dir / "d.png").substr(0, 12);
    WriteBytes(dir / "cut.png", truncated);
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "folder.jpg").c_str(), 0700), 0);
    // Nothing may block on the pipe: the drop returns, with no row for any of these.
    EXPECT_TRUE(Drop({dir / "empty.jpg", dir / "text.png", dir / "cut.png", dir / "pipe.jpg", dir / "missing.jpg", ""})
                    .empty());
    uint32_t w = 0, h = 0;
    EXPECT_FALSE(ProbeImageSize(dir / "pipe.jpg", w, h));
    EXPECT_FALSE(ProbeImageSize(dir / "folder.jpg", w, h));
}

TEST_F(IntakeTest, RowCellsOfARealImage) {
    WriteImage(dir / "p.bmp", 640, 480, "bmp");  // 640*480*3 + 54 bytes
    const auto rows = Drop({dir / "p.bmp"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].path, dir / "p.bmp");
    EXPECT_EQ(rows[0].sizeCell, "640 * 480");
    struct stat status {};
    ASSERT_EQ(::stat((dir / "p.bmp").c_str(), &status), 0);
    EXPECT_EQ(rows[0].fileSizeCell, FormatFileSizeCell(status.st_size));
    EXPECT_EQ(status.st_size, 921654) << "a 24-bit BMP: the cell below follows";
    EXPECT_EQ(rows[0].fileSizeCell, "900,05 KB");
}

TEST(FileSizeCell, KilobytesWithADecimalCommaAndNoGrouping) {
    EXPECT_EQ(FormatFileSizeCell(1536), "1,50 KB");
    EXPECT_EQ(FormatFileSizeCell(1000), "0,98 KB");
    EXPECT_EQ(FormatFileSizeCell(123456), "120,56 KB");
    EXPECT_EQ(FormatFileSizeCell(1048576), "1024,00 KB");
    EXPECT_EQ(FormatFileSizeCell(0), "0,00 KB");
    EXPECT_EQ(FormatFileSizeCell(int64_t{3} << 30), "3145728,00 KB");
    EXPECT_EQ(FormatFileSizeCell(int64_t{2} << 30), "2097152,00 KB") << "2 GiB does not wrap to a negative size";
    EXPECT_EQ(FormatImageSizeCell(640, 480), "640 * 480");
}

TEST(FileSizeCell, SameTextUnderAGermanLocale) {
    // A GUI sets the user's locale; the cell must not depend on it.
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no German locale installed";
    EXPECT_EQ(FormatFileSizeCell(123456), "120,56 KB");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(IntakeTest, SparseFileOfThreeGigabytesShowsItsRealSize) {
    // A real BMP header with the file grown sparsely past 3 GiB: only the header is read.
    const std::string big = dir / "big.bmp";
    WriteImage(big, 4, 4, "bmp");
    const int fd = ::open(big.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const off_t size = off_t{3} << 30;
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    const auto rows = Drop({big});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].sizeCell, "4 * 4");
    EXPECT_EQ(rows[0].fileSizeCell, "3145728,00 KB");
}

TEST_F(IntakeTest, ProbeReadsOnlyTheHeader) {
    // A decode of this would fail; the probe does not.
    const std::string png = test::PngWithBrokenPixels(12000, 12000);
    WriteBytes(dir / "huge.png", png);
    ASSERT_FALSE(imaging::Bitmap::FromFile(dir / "huge.png")->Decode());
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(ProbeImageSize(dir / "huge.png", w, h));
    EXPECT_EQ(w, 12000u);
    EXPECT_EQ(h, 12000u);
    const auto rows = Drop({dir / "huge.png"});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].sizeCell, "12000 * 12000");
}

TEST_F(IntakeTest, FoldersAreWalkedWholeInNameOrder) {
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir / "sub/tief").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir / "leer").c_str(), 0700), 0);
    WriteImage(dir / "sub/e.jpg", 8, 8, "jpg");
    WriteImage(dir / "sub/tief/f.png", 8, 8, "png");
    WriteImage(dir / ".versteckt.png", 8, 8, "png");
    WriteBytes(dir / "notiz.txt", "x");
    const std::vector<std::string> expected = {dir / ".versteckt.png", dir / "a.jpg", dir / "b.jpeg",
                                               dir / "c.bmp",          dir / "d.png", dir / "sub/e.jpg",
                                               dir / "sub/tief/f.png"};
    EXPECT_EQ(Paths(Drop({dir.path()})), expected);
    // A trailing separator is not doubled.
    EXPECT_EQ(Paths(Drop({dir.path() + "/"})), expected);
    // "." and ".." inside the dropped folder are never followed, also when the folder is given through them.
    const auto viaDots = Paths(Drop({dir / "sub/.."}));
    ASSERT_EQ(viaDots.size(), expected.size());
    EXPECT_EQ(viaDots[0], dir / "sub/../.versteckt.png");
}

TEST_F(IntakeTest, RowsOfADroppedFolderCarryTheirPlaceBelowItsParent) {
    std::filesystem::create_directories(dir / "Urlaub/2024/Mai");
    WriteImage(dir / "Urlaub/2024/Mai/x.png", 8, 8, "png");
    WriteImage(dir / "Urlaub/oben.png", 8, 8, "png");
    const std::string name = std::filesystem::path(dir.path()).filename().string();
    struct Case {
        std::vector<std::string> dropped;
        std::vector<std::string> subfolders;  // of every row, in list order
    };
    const Case cases[] = {
        {{dir / "Urlaub"}, {"Urlaub/2024/Mai/", "Urlaub/"}},
        {{dir / "Urlaub/"}, {"Urlaub/2024/Mai/", "Urlaub/"}},
        // Through "." or "..", the folder's own name.
        {{dir / "Urlaub/2024/.."}, {"Urlaub/2024/Mai/", "Urlaub/"}},
        {{dir / "Urlaub/2024/Mai/."}, {"Mai/"}},
        // A file dropped on its own has no place in a tree.
        {{dir / "a.jpg", dir / "Urlaub/oben.png"}, {"", ""}},
        {{dir / "Urlaub/2024"}, {"2024/Mai/"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> subfolders;
        for (const FileRow& row : Drop(c.dropped)) subfolders.push_back(row.subfolder);
        EXPECT_EQ(subfolders, c.subfolders) << c.dropped[0];
    }
    const auto whole = Drop({dir.path()});
    EXPECT_EQ(whole.front().subfolder, name + "/Urlaub/2024/Mai/");
    EXPECT_EQ(whole.back().subfolder, name + "/");
    EXPECT_EQ(DroppedFolderName("/"), "") << "the root has no name to keep";
}

TEST(WalkDirectory, RootFolderGetsNoDoubledSeparator) {
    DirWalkContext context;
    context.recurse = 0;  // only the files directly in "/"
    std::vector<std::string> seen;
    context.callback = [&seen](const std::string& path, DirWalkContext&) { seen.push_back(path); };
    EXPECT_TRUE(WalkDirectory("/", context));
    for (const std::string& path : seen) {
        EXPECT_EQ(path[0], '/');
        EXPECT_NE(path[1], '/') << path;
    }
}

TEST_F(IntakeTest, StopFlagEndsTheWalkAtEveryLevel) {
    ASSERT_EQ(::mkdir((dir / "a-sub").c_str(), 0700), 0);
    WriteImage(dir / "a-sub/x.jpg", 8, 8, "jpg");
    DirWalkContext context;
    context.recurse = 1;
    std::vector<std::string> seen;
    context.callback = [&seen](const std::string& path, DirWalkContext& c) {
        seen.push_back(path);
        c.stop = 1;
    };
    EXPECT_TRUE(WalkDirectory(dir.path(), context));
    EXPECT_EQ(seen, (std::vector<std::string>{dir / "a-sub/x.jpg"}));
}

TEST_F(IntakeTest, DuplicatesAreKept) {
    const auto rows = Drop({dir / "a.jpg", dir / "a.jpg", dir.path(), dir.path()});
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[0].path, rows[1].path);
    EXPECT_EQ(rows[0].fileSizeCell, rows[1].fileSizeCell);
    EXPECT_EQ(rows[2].path, dir / "a.jpg");
    EXPECT_EQ(Paths({rows.begin() + 2, rows.begin() + 6}), Paths({rows.begin() + 6, rows.end()}));
}

TEST_F(IntakeTest, LinkLoopsEndAndEachRealFolderIsWalkedOnce) {
    ScratchDir other;
    WriteImage(other / "fern.png", 8, 8, "png");
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "sub/zurueck").c_str()), 0);  // back to the top
    ASSERT_EQ(::symlink(".", (dir / "sub/selbst").c_str()), 0);
    ASSERT_EQ(::symlink(other.path().c_str(), (dir / "x-fern").c_str()), 0);
    ASSERT_EQ(::symlink(other.path().c_str(), (dir / "y-fern").c_str()), 0);  // the same real folder again
    ASSERT_EQ(::symlink("d.png", (dir / "z-link.png").c_str()), 0);           // a link to a file is a file
    ASSERT_EQ(::symlink("fehlt", (dir / "kaputt.png").c_str()), 0);

    EXPECT_EQ(Paths(Drop({dir.path()})),
              (std::vector<std::string>{dir / "a.jpg", dir / "b.jpeg", dir / "c.bmp", dir / "d.png",
                                        dir / "x-fern/fern.png", dir / "z-link.png"}));
}

TEST_F(IntakeTest, NonUtf8NamesKeepTheirBytes) {
    const std::string name = dir / std::string("bild-\xff\xfe-\xe4.jpg");
    WriteImage(name, 8, 8, "jpg");
    EXPECT_EQ(Paths(Drop({name})), std::vector<std::string>{name});
    const auto walked = Paths(Drop({dir.path()}));
    ASSERT_EQ(walked.size(), 5u);
    EXPECT_EQ(walked[2], name);  // bytewise: "b.jpeg" < "bild-..." < "c.bmp"
}

TEST_F(IntakeTest, RowsArriveWhileTheWalkGoesOn) {
    ASSERT_EQ(::mkdir((dir / "z").c_str(), 0700), 0);
    WriteImage(dir / "z/spaet.jpg", 8, 8, "jpg");
    std::vector<bool> laterFileExistedYet;
    OnDropFiles({dir.path()}, {}, [&](const FileRow& row) {
        // The first row is handed over before the walk reaches the subfolder: rename it away now.
        if (row.path == dir / "a.jpg") std::rename((dir / "z/spaet.jpg").c_str(), (dir / "z/spaet.txt").c_str());
        laterFileExistedYet.push_back(row.path == dir / "z/spaet.jpg");
    });
    EXPECT_EQ(laterFileExistedYet.size(), 4u) << "the file renamed during the walk is not seen";
}

}  // namespace
}  // namespace qx::test
