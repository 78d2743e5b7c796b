// The PNG encoder's reductions: every pixel read back exactly, in the smallest colour type and bit depth.
#include <gtest/gtest.h>

#include <functional>

#include "support.h"
#include "tests/support/corpus_manifest.h"

namespace qx::test {
namespace {

const Codec& kPng = *FindCodecByName("png");

// Saves `original` as PNG and reads it back with the decoder; returns the file's bytes.
std::string RoundTrip(Bitmap& original, const std::string& path, const Bitmap::SaveOptions& options = {}) {
    EXPECT_TRUE(original.Save(path, kPng, options, nullptr));
    std::unique_ptr<Bitmap> read = Bitmap::FromFile(path);
    EXPECT_TRUE(read);
    if (!read) return {};
    EXPECT_EQ(read->Width(), original.Width());
    EXPECT_EQ(read->Height(), original.Height());
    int wrong = 0;
    for (uint32_t y = 0; y < original.Height(); ++y)
        for (uint32_t x = 0; x < original.Width(); ++x) {
            uint32_t want = 0, got = 0;
            EXPECT_TRUE(original.GetPixel(x, y, want) && read->GetPixel(x, y, got));
            if (want != got && wrong++ < 3) ADD_FAILURE() << "pixel " << x << "," << y << ": " << want << " " << got;
        }
    return ReadBytes(path);
}

TEST(PngEncoder, GeneratedImagesComeBackExactInTheirSmallestForm) {
    const auto grey = [](uint32_t v) { return Argb(255, v, v, v); };
    struct Case {
        const char* name;
        uint32_t width, height;
        std::function<uint32_t(uint32_t, uint32_t)> pixel;
        int colourType, bitDepth;
    } cases[] = {
        {"black and white", 13, 5, [&](uint32_t x, uint32_t y) { return grey((x + y) % 2 * 255); }, 0, 1},
        {"four greys", 9, 4, [&](uint32_t x, uint32_t y) { return grey((x + y) % 4 * 85); }, 0, 2},
        {"sixteen greys", 17, 3, [&](uint32_t x, uint32_t) { return grey(x % 16 * 17); }, 0, 4},
        {"three uneven greys", 11, 3, [&](uint32_t x, uint32_t) { return grey(10 + x % 3 * 95); }, 3, 2},
        {"every grey", 256, 2, [&](uint32_t x, uint32_t) { return grey(x); }, 0, 8},
        {"five colours", 7, 7, [](uint32_t x, uint32_t y) { return Argb(255, (x + y) % 5 * 50, 7, 0); }, 3, 4},
        {"translucent palette", 20, 10, [](uint32_t x, uint32_t y) { return Argb(x * 12, y * 25, x, 3); }, 3, 8},
        {"fully transparent", 7, 7, [](uint32_t, uint32_t) { return Argb(0, 0, 0, 0); }, 3, 1},
        {"one pixel", 1, 1, [](uint32_t, uint32_t) { return Argb(128, 1, 2, 3); }, 3, 1},
        {"grey ramp under alpha", 260, 2, [](uint32_t x, uint32_t) { return Argb(x % 256, x / 2, x / 2, x / 2); }, 4,
         8},
        {"many colours", 40, 30, [](uint32_t x, uint32_t y) { return Argb(255, x * 6, y * 8, x ^ y); }, 2, 8},
        {"many colours and alpha", 40, 30, [](uint32_t x, uint32_t y) { return Argb(x * 6, y, x + y, 9); }, 6, 8},
        {"wide", 3001, 2, [](uint32_t x, uint32_t y) { return Argb(255, x % 251, x / 13 % 256, y); }, 2, 8},
        {"tall", 1, 999, [&](uint32_t, uint32_t y) { return grey(y % 256); }, 0, 8},
    };
    ScratchDir folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(c.width, c.height);
        for (uint32_t y = 0; y < c.height; ++y)
            for (uint32_t x = 0; x < c.width; ++x) ASSERT_TRUE(bitmap->SetPixel(x, y, c.pixel(x, y)));
        const std::string png = RoundTrip(*bitmap, folder / "out.png");
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[25], c.colourType);
        EXPECT_EQ(png[24], c.bitDepth);
    }
}

// Samples of 1, 2 and 4 bits end mid-byte at most widths.
TEST(PngEncoder, LowBitDepthsPackEveryRowWidth) {
    ScratchDir folder;
    for (uint32_t levels : {2u, 4u, 16u})
        for (uint32_t width = 1; width <= 9; ++width) {
            SCOPED_TRACE(std::to_string(levels) + " levels, width " + std::to_string(width));
            std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(width, 3);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < width; ++x) {
                    const uint32_t v = (x * 7 + y * 3) % levels * (255 / (levels - 1));
                    ASSERT_TRUE(bitmap->SetPixel(x, y, Argb(255, v, v, v)));
                }
            RoundTrip(*bitmap, folder / "out.png");
        }
}

// The metadata chunks come before the image data the encoder writes itself.
TEST(PngEncoder, PaletteOutputKeepsExifBeforeTheImageData) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus("exif-orientation/Landscape_1.jpg"));
    ASSERT_TRUE(source);
    for (uint32_t y = 0; y < source->Height(); ++y)
        for (uint32_t x = 0; x < source->Width(); ++x) ASSERT_TRUE(source->SetPixel(x, y, Argb(255, x % 3, 0, 9)));
    Bitmap::SaveOptions options;
    options.keepMetadata = true;
    const std::string png = RoundTrip(*source, folder / "meta.png", options);
    EXPECT_EQ(png[25], 3);
    ASSERT_NE(png.find("eXIf"), std::string::npos);
    EXPECT_LT(png.find("eXIf"), png.find("IDAT"));
}

TEST(PngEncoder, EveryConformancePngComesBackExact) {
    ScratchDir folder;
    int tried = 0;
    for (const ManifestEntry& entry : ReadManifest(QUENDRIX_CORPUS)) {
        if (entry.path.rfind("pngsuite/", 0) != 0 || entry.expected != "valid") continue;
        SCOPED_TRACE(entry.path);
        std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus(entry.path));
        ASSERT_TRUE(source);
        RoundTrip(*source, folder / "out.png");
        ++tried;
    }
    EXPECT_GT(tried, 150);
}

// A grey picture under an RGB profile stays in colour: the profile would not be valid with a grey image.
TEST(PngEncoder, KeptRgbProfileKeepsColourTypes) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus("libjpeg-turbo/vgl_5674_0098.png"));
    ASSERT_TRUE(source);
    for (uint32_t y = 0; y < source->Height(); ++y)
        for (uint32_t x = 0; x < source->Width(); ++x) ASSERT_TRUE(source->SetPixel(x, y, Argb(255, x, x, x)));
    const std::string png = RoundTrip(*source, folder / "grey.png");
    EXPECT_NE(png.find("iCCP"), std::string::npos);
    EXPECT_TRUE(png[25] == 2 || png[25] == 3);
}

}  // namespace
}  // namespace qx::test
