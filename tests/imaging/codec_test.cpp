// Real files through the real codecs: round trips, quality, orientation, colour profiles, limits, saving.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <thread>

#include "engine/imaging/internal.h"
#include "support.h"
#include "support/child_process.h"
#include "support/webp_avif.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

const Codec& kJpeg = *FindCodecByName("jpg");
const Codec& kPng = *FindCodecByName("png");
const Codec& kBmp = *FindCodecByName("bmp");

// A small picture with every kind of pixel: colours, grey, and (optionally) graded transparency.
std::unique_ptr<Bitmap> MakePattern(uint32_t w, uint32_t h, bool alpha) {
    std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t a = alpha ? (x * 255 / (w - 1)) : 255;
            bitmap->SetPixel(x, y, Argb(a, (x * 37 + y) & 0xFF, (y * 11) & 0xFF, (x ^ y) & 0xFF));
        }
    return bitmap;
}

void ExpectSamePixels(Bitmap& a, Bitmap& b, int tolerance = 0) {
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    int worst = 0;
    for (uint32_t y = 0; y < a.Height(); ++y)
        for (uint32_t x = 0; x < a.Width(); ++x) {
            uint32_t p = 0, q = 0;
            ASSERT_TRUE(a.GetPixel(x, y, p) && b.GetPixel(x, y, q));
            worst = std::max(worst, MaxDifference(p, q));
        }
    EXPECT_LE(worst, tolerance);
}

// Mean absolute difference of two equally sized bitmaps, over all colour channels.
double MeanDifference(Bitmap& a, Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 1e9;
    double sum = 0;
    for (uint32_t y = 0; y < a.Height(); ++y)
        for (uint32_t x = 0; x < a.Width(); ++x) {
            uint32_t p = 0, q = 0;
            if (!a.GetPixel(x, y, p) || !b.GetPixel(x, y, q)) return 1e9;
            for (int shift : {0, 8, 16}) sum += std::abs(Channel(p, shift) - Channel(q, shift));
        }
    return sum / (3.0 * a.Width() * a.Height());
}

TEST(RoundTrip, PngAndBmpAreLosslessAndKeepAlpha) {
    ScratchDir folder;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha ? "with alpha" : "opaque");
        std::unique_ptr<Bitmap> original = MakePattern(37, 23, alpha);
        const uint32_t quality = 10;  // accepted and ignored by the lossless encoders
        for (const auto& [name, codec] : {std::pair{"out.png", &kPng}, std::pair{"out.bmp", &kBmp}}) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(original->Save((folder / name), *codec, quality));
            std::unique_ptr<Bitmap> read = Bitmap::FromFile((folder / name));
            ASSERT_TRUE(read);
            EXPECT_EQ(read->HasAlpha(), alpha);
            ExpectSamePixels(*original, *read);
        }
    }
}

TEST(RoundTrip, OpaqueImagesGiveTwentyFourBitBmpAndRgbPng) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus("pillow/hopper.png"));
    ASSERT_TRUE(source);
    ASSERT_FALSE(source->HasAlpha());
    ASSERT_TRUE(source->Save((folder / "a.bmp"), kBmp, 75));
    ASSERT_TRUE(source->Save((folder / "a.png"), kPng, 75));
    const std::string bmp = ReadBytes((folder / "a.bmp"));
    ASSERT_GT(bmp.size(), 30u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 24);  // bits per pixel
    EXPECT_EQ(bmp.size(), 54u + 128 * 128 * 3);
    const std::string png = ReadBytes((folder / "a.png"));
    EXPECT_EQ(png[25], 2);  // colour type RGB
    for (const char* name : {"a.bmp", "a.png"}) {
        std::unique_ptr<Bitmap> read = Bitmap::FromFile((folder / name));
        ASSERT_TRUE(read);
        ExpectSamePixels(*source, *read);
    }
}

TEST(Jpeg, QualityChangesTheSizeAndDefaultsTo75) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus("pillow/hopper.png"));
    ASSERT_TRUE(source);
    for (uint32_t quality : {10u, 75u, 95u})
        ASSERT_TRUE(
            source->Save((folder / ("q" + std::to_string(quality) + ".jpg")), kJpeg, static_cast<int>(quality)));
    ASSERT_TRUE(source->Save((folder / "default.jpg"), kJpeg, Bitmap::SaveOptions{}, nullptr));
    const size_t q10 = ReadBytes((folder / "q10.jpg")).size(), q75 = ReadBytes((folder / "q75.jpg")).size(),
                 q95 = ReadBytes((folder / "q95.jpg")).size();
    EXPECT_LT(q10, q75);
    EXPECT_LT(q75, q95);
    EXPECT_EQ(ReadBytes((folder / "default.jpg")), ReadBytes((folder / "q75.jpg")));
    std::unique_ptr<Bitmap> read = Bitmap::FromFile((folder / "q95.jpg"));
    ASSERT_TRUE(read);
    EXPECT_LT(MeanDifference(*source, *read), 3.0);
}

TEST(Jpeg, TransparentAreasBecomeWhite) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(32, 32);  // blank: fully transparent
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 16; ++x) bitmap->SetPixel(x, y, Argb(255, 0, 0, 255));
    ASSERT_TRUE(bitmap->Save((folder / "t.jpg"), kJpeg, 95));
    ASSERT_TRUE(bitmap->Save((folder / "t.png"), kPng, 75));
    std::unique_ptr<Bitmap> jpeg = Bitmap::FromFile((folder / "t.jpg"));
    ASSERT_TRUE(jpeg);
    EXPECT_GT(MeanChannel(*jpeg, 20, 0, 32, 32, 16), 250);  // right half: white
    EXPECT_GT(MeanChannel(*jpeg, 20, 0, 32, 32, 8), 250);
    EXPECT_LT(MeanChannel(*jpeg, 0, 0, 12, 32, 16), 5);  // left half: blue
    EXPECT_GT(MeanChannel(*jpeg, 0, 0, 12, 32, 0), 245);
    std::unique_ptr<Bitmap> png = Bitmap::FromFile((folder / "t.png"));
    ASSERT_TRUE(png && png->HasAlpha());
    uint32_t pixel = 0;
    ASSERT_TRUE(png->GetPixel(30, 3, pixel));
    EXPECT_EQ(pixel >> 24, 0u);
}

TEST(Orientation, EveryExifOrientationShowsTheSamePicture) {
    for (const char* kind : {"Landscape", "Portrait"}) {
        std::unique_ptr<Bitmap> upright = Thumbnail(Corpus(std::string("exif-orientation/") + kind + "_1.jpg"),
                                                    kind[0] == 'L' ? 90 : 60, kind[0] == 'L' ? 60 : 90);
        ASSERT_TRUE(upright);
        for (int orientation = 0; orientation <= 8; ++orientation) {
            const std::string path =
                Corpus(std::string("exif-orientation/") + kind + "_" + std::to_string(orientation) + ".jpg");
            SCOPED_TRACE(path);
            std::unique_ptr<Bitmap> header = Bitmap::FromFile(path);
            ASSERT_TRUE(header);
            EXPECT_EQ(header->Width(), kind[0] == 'L' ? 1800u : 1200u);
            EXPECT_EQ(header->Height(), kind[0] == 'L' ? 1200u : 1800u);
            std::unique_ptr<Bitmap> shown = Thumbnail(path, upright->Width(), upright->Height());
            ASSERT_TRUE(shown);
            EXPECT_LT(MeanDifference(*upright, *shown), 6.0);
        }
    }
}

TEST(Orientation, SixAndEightTurnTheStoredPixelsUpright) {
    // 64x32 stored, shown 32x64 after a quarter turn clockwise; the full decode and the scaled draw agree.
    std::unique_ptr<Bitmap> turned = Bitmap::FromFile(Corpus("generated/jpeg/exif-orientation-6.jpg"));
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->Width(), 32u);
    EXPECT_EQ(turned->Height(), 64u);
    ASSERT_TRUE(turned->Decode());
    // hopper's orientation files are the same 128x128 picture stored turned and mirrored.
    std::unique_ptr<Bitmap> reference = Bitmap::FromFile(Corpus("pillow/hopper.jpg"));
    ASSERT_TRUE(reference && reference->Decode());
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        std::unique_ptr<Bitmap> bitmap =
            Bitmap::FromFile(Corpus("pillow/hopper_orientation_" + std::to_string(orientation) + ".jpg"));
        ASSERT_TRUE(bitmap && bitmap->Decode());
        EXPECT_LT(MeanDifference(*reference, *bitmap), 8.0);  // separately compressed copies
    }
    // The 2x1 file with orientation 8 shows as 1x2.
    std::unique_ptr<Bitmap> rectangle = Bitmap::FromFile(Corpus("pillow/orientation_rectangle.jpg"));
    ASSERT_TRUE(rectangle);
    EXPECT_EQ(rectangle->Width(), 1u);
    EXPECT_EQ(rectangle->Height(), 2u);
}

TEST(Jpeg, ScaledDrawGivesTheSizeAndThePixelsOfAFullDecode) {
    const std::string path = Corpus("exif-orientation/Landscape_6.jpg");
    std::unique_ptr<Bitmap> lazy = Bitmap::FromFile(path);
    ASSERT_TRUE(lazy);
    const uint64_t full = lazy->DecodeBytesFor(lazy->Width(), lazy->Height());
    const uint64_t small = lazy->DecodeBytesFor(200, 133);
    EXPECT_GE(full, 1800u * 1200 * 3);
    EXPECT_LT(small, full / 3);  // decoded at half of each side
    std::unique_ptr<Bitmap> scaled = Thumbnail(path, 200, 133);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->Width(), 200u);
    EXPECT_EQ(scaled->Height(), 133u);
    std::unique_ptr<Bitmap> decoded = Bitmap::FromFile(path);
    ASSERT_TRUE(decoded && decoded->Decode());
    std::unique_ptr<Bitmap> reference = Bitmap::CreateArgb(200, 133);
    Graphics graphics(*reference);
    ASSERT_TRUE(graphics.DrawImage(*decoded, 0, 0, 200, 133));
    EXPECT_LT(MeanDifference(*scaled, *reference), 2.0);
}

TEST(Jpeg, CmykAndGreyAndTwelveBit) {
    // The same picture stored as Adobe CMYK and as YCbCr.
    std::unique_ptr<Bitmap> cmyk = Bitmap::FromFile(Corpus("generated/jpeg/cmyk-adobe.jpg"));
    std::unique_ptr<Bitmap> rgb = Bitmap::FromFile(Corpus("generated/jpeg/baseline-444.jpg"));
    ASSERT_TRUE(cmyk && rgb);
    EXPECT_LT(MeanDifference(*cmyk, *rgb), 4.0);
    std::unique_ptr<Bitmap> grey = Bitmap::FromFile(Corpus("generated/jpeg/grayscale.jpg"));
    ASSERT_TRUE(grey && grey->Decode());
    std::unique_ptr<Bitmap> twelve = Bitmap::FromFile(Corpus("libjpeg-turbo/monkey12.jpg"));
    EXPECT_FALSE(twelve && twelve->Decode());
}

// The start-of-frame marker of a JPEG file (0xC0 baseline, 0xC2 progressive) and its first component's
// sampling factors (0x22 for 4:2:0, 0x11 for 4:4:4 and grey).
std::pair<int, int> FrameKindAndLumaSampling(const std::string& bytes) {
    for (size_t i = 2; i + 12 < bytes.size(); ++i) {
        const auto marker = static_cast<uint8_t>(bytes[i + 1]);
        if (static_cast<uint8_t>(bytes[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2))
            return {marker, static_cast<uint8_t>(bytes[i + 11])};
    }
    return {0, 0};
}

// Fine colour detail: one-pixel columns of saturated red and blue over a grey ramp.
std::unique_ptr<Bitmap> MakeColourStripes(uint32_t w, uint32_t h) {
    std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            bitmap->SetPixel(x, y, x % 2 == 0 ? Argb(255, 220, 30, 40) : Argb(255, 40, 50, 210 - y % 64));
    return bitmap;
}

// Our encoder's own DCT, quantisation and chroma choice, coded progressive or baseline by libjpeg-turbo: every
// output decodes to its picture in libjpeg-turbo, Pillow and ImageMagick alike, edges and odd sizes included,
// and is no larger than the same picture forced to baseline.
TEST(Jpeg, OutputsDecodeAlikeInEveryDecoder) {
    ScratchDir folder;
    struct Case {
        const char* name;
        std::unique_ptr<Bitmap> picture;
        bool baseline;
        int quality;
        int frame;     // start-of-frame marker; 0: either
        int sampling;  // of the first component; 0: either
        double meanDifference;
    };
    std::vector<Case> cases;
    cases.push_back({"photo", Bitmap::FromFile(Corpus("pillow/hopper.png")), false, 80, 0, 0x22, 5.0});
    cases.push_back({"baseline", Bitmap::FromFile(Corpus("pillow/hopper.png")), true, 80, 0xC0, 0x22, 5.0});
    cases.push_back({"photo-90", Bitmap::FromFile(Corpus("pillow/hopper.png")), false, 90, 0, 0x22, 3.0});
    // Low Rates too: at Rate 5 most steps stand at the limit of 255 that baseline decoders take.
    cases.push_back({"photo-60", Bitmap::FromFile(Corpus("pillow/hopper.png")), false, 60, 0, 0x22, 7.0});
    cases.push_back({"photo-5", Bitmap::FromFile(Corpus("pillow/hopper.png")), false, 5, 0, 0x22, 17.5});
    cases.push_back({"detailed", MakePattern(400, 300, false), false, 90, 0xC2, 0, 4.0});
    cases.push_back({"stripes", MakeColourStripes(64, 48), false, 80, 0, 0x11, 6.0});
    cases.push_back({"grey", Bitmap::FromFile(Corpus("pngsuite/basn0g08.png")), false, 75, 0, 0x11, 3.0});
    cases.push_back(
        {"grey-photo", Bitmap::FromFile(Corpus("generated/jpeg/grayscale.jpg")), false, 80, 0xC2, 0x11, 4.0});
    cases.push_back({"odd-rgba", MakePattern(33, 17, true), false, 85, 0, 0, -1});
    cases.push_back({"one-pixel", MakePattern(1, 1, false), true, 75, 0xC0, 0, 3.0});
    const std::vector<std::string> peers = {"identify", "pillow"};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.picture && c.picture->Decode());
        const std::string path = folder / (std::string(c.name) + ".jpg");
        Bitmap::SaveOptions how;
        how.quality = c.quality;
        how.jpegBaseline = c.baseline;
        ASSERT_TRUE(c.picture->Save(path, kJpeg, how, nullptr));
        const auto [frame, sampling] = FrameKindAndLumaSampling(ReadBytes(path));
        EXPECT_TRUE(c.frame == 0 ? frame == 0xC0 || frame == 0xC2 : frame == c.frame) << frame;
        how.jpegBaseline = true;
        ASSERT_TRUE(c.picture->Save(folder / "forced-baseline.jpg", kJpeg, how, nullptr));
        EXPECT_LE(ReadBytes(path).size(), ReadBytes(folder / "forced-baseline.jpg").size());
        if (c.sampling != 0) {
            EXPECT_EQ(sampling, c.sampling);
        }
        std::unique_ptr<Bitmap> ours = Bitmap::FromFile(path);
        ASSERT_TRUE(ours && ours->Decode());
        // Progressive scans only repack the coefficients: a script that left out a band or a bit of precision
        // would still decode, but not to the baseline coding's pixels.
        if (frame == 0xC2) {
            std::unique_ptr<Bitmap> baseline = Bitmap::FromFile(folder / "forced-baseline.jpg");
            ASSERT_TRUE(baseline && baseline->Decode());
            ExpectSamePixels(*ours, *baseline);
        }
        if (c.meanDifference > 0) {
            EXPECT_LT(MeanDifference(*c.picture, *ours), c.meanDifference);
        }
        for (const std::string& peer : peers) {
            const std::string png = folder / (std::string(c.name) + "-" + peer + ".png");
            ASSERT_TRUE(PeerDecodeToPng(peer, path, png)) << peer;
            std::unique_ptr<Bitmap> theirs = Bitmap::FromFile(png);
            ASSERT_TRUE(theirs && theirs->Decode()) << peer;
            EXPECT_LT(MeanDifference(*ours, *theirs), 1.5) << peer;
        }
    }
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

TEST(Colour, IccProfileTravelsIntoJpegAndPngOutputs) {
    ScratchDir folder;
    for (const char* source : {"pillow/icc_profile_big.jpg", "libjpeg-turbo/vgl_5674_0098.png"}) {
        SCOPED_TRACE(source);
        std::unique_ptr<Bitmap> scaled = Thumbnail(Corpus(source), 40, 30);
        ASSERT_TRUE(scaled);
        ASSERT_TRUE(scaled->Save((folder / "p.jpg"), kJpeg, 80));
        ASSERT_TRUE(scaled->Save((folder / "p.png"), kPng, 75));
        EXPECT_TRUE(Contains(ReadBytes((folder / "p.jpg")), "ICC_PROFILE"));
        EXPECT_TRUE(Contains(ReadBytes((folder / "p.png")), "iCCP"));
        // The copies carry it on again.
        std::unique_ptr<Bitmap> again = Bitmap::FromFile((folder / "p.png"));
        ASSERT_TRUE(again && again->Save((folder / "p2.jpg"), kJpeg, 75));
        EXPECT_TRUE(Contains(ReadBytes((folder / "p2.jpg")), "ICC_PROFILE"));
    }
    std::unique_ptr<Bitmap> plain = Thumbnail(Corpus("pillow/hopper.jpg"), 40, 40);
    ASSERT_TRUE(plain && plain->Save((folder / "plain.jpg"), kJpeg, 75));
    EXPECT_FALSE(Contains(ReadBytes((folder / "plain.jpg")), "ICC_PROFILE"));
}

TEST(Limits, HugeHeadersAreRefusedBeforeDecoding) {
    EXPECT_EQ(kMaxPixels, uint64_t{1} << 28);
    for (const char* path : {"generated/bombs/jpeg-sof-65500x65500.jpg", "generated/bombs/png-ihdr-100000x100000.png",
                             "generated/bombs/png-1bit-40000x40000.png", "generated/bombs/bmp-header-100000x100000.bmp",
                             "generated/bombs/bmp-header-100000x-100000.bmp",
                             "generated/bombs/bmp-rle8-100000x100000.bmp", "pillow/l2rgb_read.bmp"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(Bitmap::FromFile(Corpus(path)));
    }
    EXPECT_FALSE(Bitmap::CreateArgb(0, 10));
    EXPECT_FALSE(Bitmap::CreateArgb(100000, 100000));
    EXPECT_FALSE(Bitmap::CreateArgb(1u << 20, 1));
    EXPECT_TRUE(Bitmap::CreateArgb(16384, 16384));  // no memory is taken until it is drawn on
}

TEST(Save, ReplacesTheTargetWithNoTemporaryLeftAndTheUsualMode) {
    ScratchDir folder;
    WriteBytes((folder / "out.png"), "old contents");
    std::unique_ptr<Bitmap> bitmap = MakePattern(8, 8, false);
    ASSERT_TRUE(bitmap->Save((folder / "out.png"), kPng, 75));
    EXPECT_EQ(FolderEntries(folder.path()).size(), 1u);
    std::unique_ptr<Bitmap> read = Bitmap::FromFile((folder / "out.png"));
    ASSERT_TRUE(read);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "out.png").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u & ~mask);
}

TEST(Save, FailureLeavesAnOldTargetAsItWas) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> bitmap = MakePattern(8, 8, true);
    // A folder that does not exist.
    EXPECT_FALSE(bitmap->Save((folder / "missing/out.png"), kPng, 75));
    // A target that is a folder.
    ASSERT_EQ(::mkdir((folder / "dir.png").c_str(), 0755), 0);
    EXPECT_FALSE(bitmap->Save((folder / "dir.png"), kPng, 75));
    EXPECT_EQ(FolderEntries(folder.path()).size(), 1u);
    // A read-only folder (meaningless for root, who may write anywhere).
    if (::geteuid() != 0) {
        ASSERT_EQ(::mkdir((folder / "ro").c_str(), 0755), 0);
        WriteBytes((folder / "ro/old.jpg"), "keep me too");
        ASSERT_EQ(::chmod((folder / "ro").c_str(), 0555), 0);
        EXPECT_FALSE(bitmap->Save((folder / "ro/old.jpg"), kJpeg, 75));
        ::chmod((folder / "ro").c_str(), 0755);
        EXPECT_EQ(ReadBytes((folder / "ro/old.jpg")), "keep me too");
    }
}

TEST(Save, NeverReplacesItsOwnSourceUnderAnyName) {
    ScratchDir folder;
    const std::string original = ReadBytes(Corpus("pillow/hopper.jpg"));
    WriteBytes((folder / "photo.jpg"), original);
    ASSERT_EQ(::link((folder / "photo.jpg").c_str(), (folder / "hard.jpg").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "photo.jpg").c_str(), (folder / "soft.jpg").c_str()), 0);
    std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile((folder / "photo.jpg"));
    ASSERT_TRUE(bitmap);
    for (const char* name : {"photo.jpg", "hard.jpg", "soft.jpg"}) {
        EXPECT_FALSE(bitmap->Save((folder / name), kJpeg, 75)) << name;
        EXPECT_EQ(ReadBytes((folder / "photo.jpg")), original);
    }
    EXPECT_EQ(FolderEntries(folder.path()).size(), 3u);
    EXPECT_TRUE(bitmap->Save((folder / "copy.jpg"), kJpeg, 75));
}

TEST(Bitmap, BrokenDataFailsOnDecodeNotOnHeader) {
    ScratchDir folder;
    std::string bytes = ReadBytes(Corpus("pillow/hopper.png"));
    bytes.resize(bytes.size() / 2);
    WriteBytes((folder / "cut.png"), bytes);
    std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile((folder / "cut.png"));
    ASSERT_TRUE(bitmap);  // the header is fine
    EXPECT_EQ(bitmap->Width(), 128u);
    EXPECT_FALSE(bitmap->Decode());
    std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(10, 10);
    Graphics graphics(*target);
    EXPECT_FALSE(graphics.DrawImage(*bitmap, 0, 0, 10, 10));
    EXPECT_FALSE(bitmap->Save((folder / "x.png"), kPng, 75));
    EXPECT_FALSE(Bitmap::FromFile(folder.path()));  // a folder is no image
    EXPECT_FALSE(Bitmap::FromFile((folder / "nothing.png")));
}

// Large images are measured in pieces: the distance must still be the whole image's, with the narrow pieces at
// the right and bottom edges, for RGB and RGBA alike.
TEST(Butteraugli, LargeImagesMeasuredInPiecesGiveTheWholeImagesDistance) {
    struct Case {
        uint32_t width, height;
        int channels;
    } cases[] = {{1200, 1160, 3}, {700, 1300, 4}, {2200, 600, 3}};
    for (const Case& c : cases) {
        detail::Pixels reference, candidate;
        ASSERT_TRUE(reference.Allocate(c.width, c.height, c.channels) &&
                    candidate.Allocate(c.width, c.height, c.channels));
        std::mt19937 random(c.width);
        std::normal_distribution<double> noise(0, 1);
        for (uint32_t y = 0; y < c.height; ++y)
            for (uint32_t x = 0; x < c.width; ++x)
                for (int k = 0; k < c.channels; ++k) {
                    const size_t at = (size_t{y} * c.width + x) * c.channels + k;
                    const double texture = 60 * std::sin(x * (0.02 + 0.03 * k) + y * 0.05) + 40 * std::sin(y * 0.3);
                    const double value = k == 3 ? 200 + 50 * std::sin(x * 0.01) : 128 + texture;
                    // Harder to see in some places than in others, so that each piece has its own share.
                    const double strength = 2 + 10 * ((x / 300 + y / 200) % 4);
                    reference.data[at] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
                    candidate.data[at] = static_cast<uint8_t>(std::clamp(value + strength * noise(random), 0.0, 255.0));
                }
        const float whole =
            WholeImageButteraugli(c.width, c.height, uint32_t(c.channels), reference.data.get(), candidate.data.get());

        float distance = 0;
        Error why;
        ASSERT_TRUE(detail::ButteraugliDistance(reference, candidate, distance, why)) << why.detail;
        EXPECT_GT(whole, 0.5) << c.width << "x" << c.height;
        EXPECT_NEAR(distance, whole, whole * 1e-4) << c.width << "x" << c.height << ", " << c.channels << " channels";
    }
}

TEST(Threads, ManyThreadsWorkOnTheirOwnBitmapsAtOnce) {
    ScratchDir folder;
    const std::vector<std::string> sources = {"exif-orientation/Landscape_8.jpg", "pillow/hopper.png",
                                              "bmpsuite/g/pal8rle.bmp", "pillow/pil_sample_cmyk.jpg"};
    auto run = [&](int worker) {
        for (size_t i = 0; i < sources.size(); ++i) {
            std::unique_ptr<Bitmap> scaled = Thumbnail(Corpus(sources[i]), 50, 40);
            if (!scaled) return false;
            const std::string name = (folder / (std::to_string(worker) + "-" + std::to_string(i) + ".png"));
            if (!scaled->Save(name, kPng, 75)) return false;
        }
        return true;
    };
    std::vector<std::thread> threads;
    std::vector<int> results(6, 0);
    for (int t = 0; t < 6; ++t) threads.emplace_back([&, t] { results[t] = run(t); });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 6; ++t) EXPECT_TRUE(results[t]);
    for (size_t i = 0; i < sources.size(); ++i)
        for (int t = 1; t < 6; ++t)
            EXPECT_EQ(ReadBytes((folder / ("0-" + std::to_string(i) + ".png"))),
                      ReadBytes((folder / (std::to_string(t) + "-" + std::to_string(i) + ".png"))));
}

}  // namespace
}  // namespace qx::test
