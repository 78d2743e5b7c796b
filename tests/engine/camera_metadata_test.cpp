// Kept metadata of real camera files, read back by exiftool: maker notes and every other tag survive with
// their values, and exiftool's validation finds nothing in an output that it did not find in its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "engine/compress.h"
#include "engine_test_support.h"

namespace qx {
namespace {

using Tags = std::multimap<std::string, std::string>;  // "Group:Tag" to its value as exiftool prints it

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

Tags ReadTags(const std::string& path) {
    const test::RunResult r = test::RunChild("/usr/bin/exiftool", {.args = {"-a", "-G1", "-s", "-n", path}});
    EXPECT_TRUE(r.Exited(0)) << test::Describe(r);
    Tags tags;
    for (const std::string& line : Lines(r.out)) {
        // "[Group]         Tag                             : value"
        const size_t group = line.find(']'), colon = line.find(" : ");
        if (line[0] != '[' || group == std::string::npos || colon == std::string::npos) continue;
        std::string name = line.substr(group + 1, colon - group - 1);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        tags.emplace(line.substr(1, group - 1) + ":" + name, line.substr(colon + 3));
    }
    return tags;
}

std::vector<std::string> Warnings(const std::string& path) {
    const test::RunResult r =
        test::RunChild("/usr/bin/exiftool", {.args = {"-validate", "-warning", "-a", "-s3", path}});
    std::vector<std::string> warnings;
    for (const std::string& line : Lines(r.out))
        if (line != "OK" && line.find(" Warning") == std::string::npos) warnings.push_back(line);  // not the count
    return warnings;
}

// The bytes of an image the metadata holds (the EXIF thumbnail, a maker's preview), as exiftool finds them.
std::string EmbeddedImage(const std::string& path, const char* tag) {
    return test::RunChild("/usr/bin/exiftool", {.args = {"-b", tag, path}}).out;
}

// What keeping metadata changes on purpose, or what describes the new file rather than the source's metadata.
bool ChangedOnPurpose(const std::string& key, bool turned) {
    const std::string group = key.substr(0, key.find(':'));
    const std::string tag = key.substr(key.find(':') + 1);
    for (const char* g : {"System", "File", "ExifTool", "Composite", "JFIF", "PNG", "RIFF", "GPS"})
        if (group == g) return true;
    if (group == "IFD1" && turned) return true;
    // Positions in the file: they move with the block (the embedded images are compared byte for byte).
    if (tag.ends_with("Offset") || tag.ends_with("Start")) return true;
    return tag == "Orientation" || tag == "ExifImageWidth" || tag == "ExifImageHeight" ||
           (group == "IFD0" && (tag == "ImageWidth" || tag == "ImageHeight"));
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
        const Tags before = ReadTags(source);
        const auto orientation = before.find("IFD0:Orientation");
        const bool turned = orientation != before.end() && orientation->second != "1";
        const std::vector<std::string> known = Warnings(source);
        for (const char* format : {"jpg", "png", "webp"}) {
            SCOPED_TRACE(source + " to " + format);
            const std::string target = dir / (entry.path().stem().string() + "." + format);
            ASSERT_TRUE(compressor.CompressFile(source, target, imaging::FindCodecByName(format)));
            const Tags after = ReadTags(target);
            int makerTags = 0;
            for (const auto& [key, value] : before) {
                if (ChangedOnPurpose(key, turned)) continue;
                const auto [first, last] = after.equal_range(key);
                EXPECT_TRUE(std::any_of(first, last, [&](const auto& t) { return t.second == value; }))
                    << key << " = " << value;
                const std::string group = key.substr(0, key.find(':'));
                makerTags += group != "IFD0" && group != "ExifIFD" && group != "InteropIFD" && group != "IFD1";
            }
            EXPECT_GT(makerTags, 0);  // the maker notes were compared too
            if (orientation != before.end()) {
                EXPECT_EQ(after.find("IFD0:Orientation")->second, "1");
            }
            const auto width = after.find("ExifIFD:ExifImageWidth");
            const std::string size = after.find("Composite:ImageSize")->second;  // "W H" or "WxH"
            if (width != after.end()) {
                EXPECT_EQ(width->second, size.substr(0, size.find_first_of(" x")));
            }
            for (const char* image : {"-ThumbnailImage", "-PreviewImage"}) {
                if (turned || std::string(format) != "jpg") break;
                EXPECT_EQ(EmbeddedImage(target, image), EmbeddedImage(source, image)) << image;
            }
            // The thumbnail shows the picture as stored: it goes with a turned picture and stays otherwise.
            EXPECT_EQ(after.count("IFD1:ThumbnailLength") != 0, !turned && before.count("IFD1:ThumbnailLength") != 0);
            for (const std::string& warning : Warnings(target))
                EXPECT_NE(std::find(known.begin(), known.end(), warning), known.end()) << warning;
        }
    }
    EXPECT_GE(files, 7);
}

}  // namespace
}  // namespace qx
