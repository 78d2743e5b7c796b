// Kept metadata of real camera files, read back by exiftool: maker notes and every other tag survive with
// their values, and exiftool's validation finds nothing in an output that it did not find in its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "engine/compress.h"
#include "engine_test_support.h"
#include "support/child_process.h"

namespace qx::test {
namespace {

// exiftool's lines for a file: "-Group:Tag=value" (with `-args`) or one warning each (with `-validate`).
std::vector<std::string> Exiftool(std::vector<std::string> args, const std::string& path) {
    args.push_back(path);
    std::istringstream out(test::RunChild("/usr/bin/exiftool", {.args = args}).out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
        if (line != "OK" && line.find(" Warning") == std::string::npos) lines.push_back(line);  // not the count
    return lines;
}

// What keeping metadata changes on purpose, or what describes the new file rather than the source's metadata.
bool ChangedOnPurpose(const std::string& group, const std::string& tag, bool turned) {
    for (const char* g : {"System", "File", "ExifTool", "Composite", "JFIF", "PNG", "RIFF", "GPS"})
        if (group == g) return true;
    // Positions in the file move with the block; the embedded images are compared byte for byte below.
    return (group == "IFD1" && turned) || tag.ends_with("Offset") || tag.ends_with("Start") || tag == "Orientation" ||
           tag == "ExifImageWidth" || tag == "ExifImageHeight";
}

class CameraMetadataTest : public test::CompressorTest {};

TEST_F(CameraMetadataTest, EveryTagSurvivesWithItsValue) {
    AdvancedSettings options;
    options.MetadatenUebernehmen = 1;
    compressor.SetOptions(options);
    settings.Bildsize = kSizePercent;
    settings.Prozent = 50;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::kCorpus + "/cameras")) {
        if (entry.path().extension() != ".jpg") continue;
        ++files;
        const std::string source = entry.path();
        const std::vector<std::string> before = Exiftool({"-args", "-a", "-G1", "-n"}, source);
        const bool turned = std::count(before.begin(), before.end(), "-IFD0:Orientation=1") == 0 &&
                            std::any_of(before.begin(), before.end(),
                                        [](const std::string& l) { return l.starts_with("-IFD0:Orientation="); });
        const std::vector<std::string> known = Exiftool({"-validate", "-warning", "-a", "-s3"}, source);
        const std::vector<std::string> images = Exiftool({"-b", "-ThumbnailImage", "-PreviewImage"}, source);
        for (const char* format : {"jpg", "png"}) {
            SCOPED_TRACE(source + " to " + format);
            const std::string target = dir / (entry.path().stem().string() + "." + format);
            ASSERT_TRUE(compressor.CompressFile(source, target, imaging::FindCodecByName(format)));
            const std::vector<std::string> after = Exiftool({"-args", "-a", "-G1", "-n"}, target);
            int makerTags = 0;
            for (const std::string& line : before) {
                const size_t colon = line.find(':'), equals = line.find('=');
                const std::string group = line.substr(1, colon - 1), tag = line.substr(colon + 1, equals - colon - 1);
                if (ChangedOnPurpose(group, tag, turned)) continue;
                EXPECT_NE(std::find(after.begin(), after.end(), line), after.end()) << line;
                makerTags += group != "IFD0" && group != "ExifIFD" && group != "InteropIFD" && group != "IFD1";
            }
            EXPECT_GT(makerTags, 0);  // the maker notes were compared too
            // The thumbnail shows the picture as stored: it goes with a turned picture and stays otherwise.
            const auto thumbnail = [](const std::string& l) { return l.starts_with("-IFD1:ThumbnailLength="); };
            EXPECT_EQ(std::any_of(after.begin(), after.end(), thumbnail),
                      !turned && std::any_of(before.begin(), before.end(), thumbnail));
            if (!turned) {
                EXPECT_EQ(Exiftool({"-b", "-ThumbnailImage", "-PreviewImage"}, target), images);
            }
            for (const std::string& warning : Exiftool({"-validate", "-warning", "-a", "-s3"}, target))
                EXPECT_NE(std::find(known.begin(), known.end(), warning), known.end()) << warning;
        }
    }
    EXPECT_GE(files, 7);
}

}  // namespace
}  // namespace qx::test
