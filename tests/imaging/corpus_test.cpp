// Every file of the conformance corpus gives the outcome its manifest expects, and no file crashes the reader.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "support.h"
#include "support/corpus_manifest.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

using Entry = test::ManifestEntry;
std::vector<Entry> ReadManifest() { return test::ReadManifest(QUENDRIX_CORPUS); }

TEST(Corpus, EveryFileGivesItsExpectedOutcome) {
    const std::vector<Entry> entries = ReadManifest();
    ASSERT_GT(entries.size(), 400u);
    int valid = 0, invalid = 0;
    for (const Entry& entry : entries) {
        SCOPED_TRACE(entry.path);
        std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(Corpus(entry.path));
        bool decoded = bitmap && bitmap->Decode();
        if (decoded) {
            // A drawn thumbnail exercises the scaled decode and the resampler on every readable file.
            const uint32_t w = std::max<uint32_t>(1, bitmap->Width() / 3),
                           h = std::max<uint32_t>(1, bitmap->Height() / 3);
            std::unique_ptr<Bitmap> scaled = Bitmap::CreateArgb(w, h);
            std::unique_ptr<Bitmap> again = Bitmap::FromFile(Corpus(entry.path));
            ASSERT_TRUE(scaled && again);
            Graphics graphics(*scaled);
            decoded = graphics.DrawImage(*again, 0, 0, static_cast<int>(w), static_cast<int>(h));
        }
        if (entry.expected == "valid") {
            EXPECT_TRUE(decoded) << entry.note;
            valid += decoded;
        } else if (entry.expected == "invalid") {
            EXPECT_FALSE(decoded) << entry.note;
            invalid += !decoded;
        }
    }
    EXPECT_GT(valid, 300);
    EXPECT_GT(invalid, 60);
}

// bmpsuite's reference renderings name the BMP files they show.
std::multimap<std::string, std::string> BmpReferences() {
    std::multimap<std::string, std::string> references;
    const std::string marker = "reference rendering (correct display) of ";
    for (const Entry& entry : ReadManifest()) {
        if (entry.path.rfind("bmpsuite/html/", 0) != 0 || entry.format != "png") continue;
        const size_t at = entry.note.find(marker);
        if (at == std::string::npos) continue;
        std::stringstream list(entry.note.substr(at + marker.size()));
        std::string name;
        while (std::getline(list, name, ',')) {
            name.erase(0, name.find_first_not_of(' '));
            references.emplace("bmpsuite/" + name, entry.path);
        }
    }
    return references;
}

TEST(Corpus, GoodBmpsMatchTheirReferenceRenderings) {
    const auto references = BmpReferences();
    int compared = 0;
    for (const auto& [bmp, png] : references) {
        if (bmp.rfind("bmpsuite/g/", 0) != 0) continue;
        SCOPED_TRACE(bmp + " against " + png);
        std::unique_ptr<Bitmap> actual = Bitmap::FromFile(Corpus(bmp));
        std::unique_ptr<Bitmap> expected = Bitmap::FromFile(Corpus(png));
        ASSERT_TRUE(actual && expected);
        // A few references show the image stretched to its pixel aspect ratio.
        if (actual->Width() != expected->Width() || actual->Height() != expected->Height()) continue;
        int worst = 0;
        for (uint32_t y = 0; y < actual->Height(); ++y)
            for (uint32_t x = 0; x < actual->Width(); ++x) {
                uint32_t a = 0, e = 0;
                ASSERT_TRUE(actual->GetPixel(x, y, a));
                ASSERT_TRUE(expected->GetPixel(x, y, e));
                worst = std::max(worst, MaxDifference(a, e));
            }
        // 5- and 6-bit channels may be widened to 8 bits with a different rounding.
        EXPECT_LE(worst, 4);
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

// A JPEG cut short decodes with a grey lower part and only a warning from libjpeg: refused, whether decoded
// whole or reduced. Junk the library skips, and a scan that lacks only its end marker, still decode.
TEST(Corpus, JpegsCutShortAreRefusedAndWarningsAloneAreNot) {
    const struct {
        const char* path;
        Failure failure;
    } cases[] = {
        {"generated/jpeg/truncated-half.jpg", Failure::Truncated},
        {"pillow/truncated_jpeg.jpg", Failure::Truncated},  // progressive
        {"generated/jpeg/missing-eoi.jpg", Failure::None},
        {"generated/jpeg/corrupt-scan-bytes.jpg", Failure::None},
        {"pillow/hopper_bad_exif.jpg", Failure::None},  // bad Huffman codes, premature segment ends
        {"pillow/junk_jpeg_header.jpg", Failure::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        for (const uint32_t divisor : {1u, 4u}) {
            std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus(c.path));
            ASSERT_TRUE(source) << "the header reads";
            std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(source->Width() / divisor, source->Height() / divisor);
            ASSERT_TRUE(target);
            Error error;
            const bool drawn = Graphics(*target).DrawImage(*source, 0, 0, static_cast<int>(target->Width()),
                                                           static_cast<int>(target->Height()), &error);
            EXPECT_EQ(drawn, c.failure == Failure::None) << divisor;
            EXPECT_EQ(error.failure, c.failure) << divisor;
            if (c.failure == Failure::Truncated) {
                EXPECT_EQ(error.detail, "Premature end of JPEG file");
            }
        }
    }
}

TEST(Corpus, QuestionableAndBadBmpsDoNotCrash) {
    for (const char* folder : {"bmpsuite/q", "bmpsuite/b"}) {
        for (const auto& file : std::filesystem::directory_iterator(Corpus(folder))) {
            std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(file.path().string());
            if (bitmap) bitmap->Decode();
        }
    }
}

}  // namespace
}  // namespace qx::test
