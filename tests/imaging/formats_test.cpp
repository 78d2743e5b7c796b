// WebP, AVIF and JPEG XL outputs, decoded again by libwebp, libavif and libjxl themselves and by a peer program
// where one is installed: size, pixels, alpha, colour profile, quality, and the limits of each format.
#include <gtest/gtest.h>

#include <optional>

#include "support.h"
#include "support/child_process.h"
#include "support/webp_avif.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

struct Format {
    const char* name;      // the codec table's
    const char* peerName;  // ImageMagick's word for it
};

const Format kFormats[] = {{"webp", "WEBP"}, {"avif", "AVIF"}, {"jxl", "JXL"}};

std::optional<Decoded> SaveAndDecode(Bitmap& bitmap, const Format& format, const std::string& path,
                                     uint32_t quality = 80) {
    if (!bitmap.Save(path, *FindCodecByName(format.name), static_cast<int>(quality))) return std::nullopt;
    return DecodeOutput(format.name, ReadBytes(path));
}

// Mean absolute difference over the colour channels of a bitmap and a decoded file of its size.
double MeanDifference(Bitmap& bitmap, const Decoded& decoded) {
    double sum = 0;
    for (uint32_t y = 0; y < bitmap.Height(); ++y)
        for (uint32_t x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = 0;
            if (!bitmap.GetPixel(x, y, p)) return 1e9;
            const uint32_t q = decoded.Argb(x, y);
            for (int shift : {0, 8, 16}) sum += std::abs(Channel(p, shift) - Channel(q, shift));
        }
    return sum / (3.0 * bitmap.Width() * bitmap.Height());
}

TEST(NewerFormats, ARowEachThatIsWrittenAndReadWhereItHasAnInputBit) {
    for (const Format& format : kFormats) {
        const Codec* codec = FindCodecByName(format.name);
        ASSERT_NE(codec, nullptr) << format.name;
        EXPECT_TRUE(codec->inputTypeBit == -1 || codec->inputTypeBit > 2);  // beyond EingabeTyp's three
        EXPECT_EQ(FindCodecByMimeType(std::string("image/") + format.name), codec);
    }
    EXPECT_EQ(FindCodecByOutputType(3), FindCodecByName("webp"));
    EXPECT_EQ(FindCodecByOutputType(4), FindCodecByName("avif"));
    EXPECT_EQ(FindCodecByOutputType(5), FindCodecByName("jxl"));
    // An output of ours reads back as its format, by its content; one of a format never read is no input.
    ScratchDir folder;
    std::unique_ptr<Bitmap> photo = Thumbnail(Corpus("pillow/hopper.jpg"), 32, 32);
    ASSERT_TRUE(photo);
    for (const Format& format : kFormats) {
        const Codec* codec = FindCodecByName(format.name);
        const std::string path = (folder / (std::string("o.") + format.name));
        ASSERT_TRUE(photo->Save(path, *codec, 80));
        Error error;
        std::unique_ptr<Bitmap> again = Bitmap::FromFile(path, &error);
        if (codec->inputTypeBit >= 0) {
            ASSERT_TRUE(again) << format.name;
            EXPECT_EQ(again->Format(), codec);
        } else {
            EXPECT_FALSE(again) << format.name;
            EXPECT_EQ(error.failure, Failure::UnknownFormat) << format.name;
        }
    }
}

TEST(WrittenOnlyFormats, PhotosDecodeToTheirSizeAndLookLikeTheSource) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> photo = Thumbnail(Corpus("libjpeg-turbo/testorig.jpg"), 181, 135);  // odd sides
    ASSERT_TRUE(photo);
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        const std::string path = (folder / (std::string("photo.") + format.name));
        std::optional<Decoded> decoded = SaveAndDecode(*photo, format, path);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 181u);
        EXPECT_EQ(decoded->height, 135u);
        EXPECT_FALSE(decoded->alpha);
        EXPECT_LT(MeanDifference(*photo, *decoded), 4.0);
        const std::string peer = test::PeerReaderFor(format.peerName);
        if (peer.empty()) continue;  // no installed program reads this format: the libraries' word stands
        EXPECT_EQ(test::PeerDecodedSize(peer, path), std::make_pair(181u, 135u)) << peer;
    }
}

TEST(WrittenOnlyFormats, TheSmallestImagesToo) {
    ScratchDir folder;
    for (auto [w, h] : {std::pair{1u, 1u}, {1u, 7u}, {3u, 2u}}) {
        std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(w, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) bitmap->SetPixel(x, y, Argb(255, 200, 40 * x, 30 * y));
        for (const Format& format : kFormats) {
            SCOPED_TRACE(std::string(format.name) + " " + std::to_string(w) + "x" + std::to_string(h));
            std::optional<Decoded> decoded =
                SaveAndDecode(*bitmap, format, (folder / (std::string("s.") + format.name)));
            ASSERT_TRUE(decoded);
            EXPECT_EQ(decoded->width, w);
            EXPECT_EQ(decoded->height, h);
        }
    }
}

TEST(WrittenOnlyFormats, AlphaIsKeptExactlyAndAnOpaqueChannelIsNotWritten) {
    ScratchDir folder;
    // Alpha rising from left to right, a few steps of it fully transparent and fully opaque.
    std::unique_ptr<Bitmap> graded = Bitmap::CreateArgb(64, 40);
    for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < 64; ++x) graded->SetPixel(x, y, Argb(std::min(255u, x * 5), 30, 120, 220));
    std::unique_ptr<Bitmap> opaque = Bitmap::CreateArgb(64, 40);
    for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < 64; ++x) opaque->SetPixel(x, y, Argb(255, 30, 120, 220));
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        std::optional<Decoded> decoded = SaveAndDecode(*graded, format, (folder / (std::string("a.") + format.name)));
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(decoded->alpha);
        int worstAlpha = 0, worstColour = 0;
        for (uint32_t y = 0; y < 40; ++y)
            for (uint32_t x = 0; x < 64; ++x) {
                uint32_t p = 0;
                ASSERT_TRUE(graded->GetPixel(x, y, p));
                const uint32_t q = decoded->Argb(x, y);
                worstAlpha = std::max(worstAlpha, std::abs(Channel(p, 24) - Channel(q, 24)));
                if (Channel(p, 24) == 255) worstColour = std::max(worstColour, MaxDifference(p, q));
            }
        // libjxl 0.7 codes alpha beside lossy colour at the colour's distance: close, not exact.
        EXPECT_LE(worstAlpha, std::string(format.name) == "jxl" ? 4 : 0);
        EXPECT_LE(worstColour, 12);  // lossy colour on a flat area

        decoded = SaveAndDecode(*opaque, format, (folder / (std::string("o.") + format.name)));
        ASSERT_TRUE(decoded);
        EXPECT_FALSE(decoded->alpha);
    }
}

TEST(WrittenOnlyFormats, TheColourProfileIsEmbeddedAndSrgbSaidWithoutOne) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> withProfile = Thumbnail(Corpus("pillow/icc_profile_big.jpg"), 40, 30);
    std::unique_ptr<Bitmap> without = Thumbnail(Corpus("pillow/hopper.jpg"), 40, 40);
    ASSERT_TRUE(withProfile && without);
    // The profile as the PNG encoder writes it, for comparison.
    ASSERT_TRUE(withProfile->Save((folder / ("p.png")), *FindCodecByName("png"), 75));
    std::vector<std::vector<uint8_t>> profiles;
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        std::optional<Decoded> decoded =
            SaveAndDecode(*withProfile, format, (folder / (std::string("p.") + format.name)));
        ASSERT_TRUE(decoded);
        ASSERT_GE(decoded->icc.size(), 128u);
        // An ICC header: its own length first, "acsp" at byte 36, an RGB colour space.
        const std::vector<uint8_t>& icc = decoded->icc;
        EXPECT_EQ(uint32_t{icc[0]} << 24 | uint32_t{icc[1]} << 16 | uint32_t{icc[2]} << 8 | icc[3], icc.size());
        EXPECT_EQ(std::string(icc.begin() + 36, icc.begin() + 40), "acsp");
        EXPECT_EQ(std::string(icc.begin() + 16, icc.begin() + 20), "RGB ");
        profiles.push_back(icc);

        decoded = SaveAndDecode(*without, format, (folder / (std::string("n.") + format.name)));
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(decoded->icc.empty());
    }
    for (const std::vector<uint8_t>& profile : profiles) EXPECT_EQ(profile, profiles[0]);
    const std::string png = ReadBytes((folder / ("p.png")));
    EXPECT_NE(png.find("iCCP"), std::string::npos);
    // Without a profile the AVIF file says sRGB in its colour description.
    std::optional<Decoded> avif = DecodeAvif(ReadBytes((folder / ("n.avif"))));
    ASSERT_TRUE(avif);
    EXPECT_EQ(avif->primaries, AVIF_COLOR_PRIMARIES_BT709);
    EXPECT_EQ(avif->transfer, AVIF_TRANSFER_CHARACTERISTICS_SRGB);
}

TEST(WrittenOnlyFormats, AHigherRateGivesMoreBytes) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> photo = Thumbnail(Corpus("libjpeg-turbo/testorig.jpg"), 160, 120);
    ASSERT_TRUE(photo);
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        uintmax_t previous = 0;
        for (uint32_t rate : {10u, 50u, 80u, 95u}) {
            const std::string path = (folder / (std::to_string(rate) + "." + format.name));
            ASSERT_TRUE(photo->Save(path, *FindCodecByName(format.name), static_cast<int>(rate)));
            const uintmax_t bytes = std::filesystem::file_size(path);
            EXPECT_GT(bytes, previous) << "Rate " << rate;
            previous = bytes;
        }
    }
}

TEST(WrittenOnlyFormats, GreyStaysGreyAndTurnedSourcesAreWrittenUpright) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> grey = Bitmap::FromFile(Corpus("pillow/hopper_gray.jpg"));
    // Stored 64x32 with orientation 6: shown, and written, 32x64.
    std::unique_ptr<Bitmap> turned = Bitmap::FromFile(Corpus("generated/jpeg/exif-orientation-6.jpg"));
    ASSERT_TRUE(grey && turned);
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        std::optional<Decoded> decoded = SaveAndDecode(*grey, format, (folder / (std::string("g.") + format.name)));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, grey->Width());
        int worst = 0;
        for (uint32_t i = 0; i < decoded->width * decoded->height; ++i) {
            const uint8_t* p = decoded->rgba.data() + size_t{i} * 4;
            worst = std::max({worst, std::abs(p[0] - p[1]), std::abs(p[1] - p[2])});
        }
        EXPECT_LE(worst, 2) << "no colour cast";
        EXPECT_LT(MeanDifference(*grey, *decoded), 4.0);

        decoded = SaveAndDecode(*turned, format, (folder / (std::string("t.") + format.name)));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, 32u);
        EXPECT_EQ(decoded->height, 64u);
    }
    EXPECT_EQ(DecodeAvif(ReadBytes((folder / ("g.avif"))))->yuv, AVIF_PIXEL_FORMAT_YUV400);  // no chroma planes
}

TEST(WrittenOnlyFormats, SidesBeyondTheFormatFailWithTheReasonAndLeaveNothing) {
    ScratchDir folder;
    const struct {
        const Format& format;
        uint32_t width;
        const char* words;
    } cases[] = {{kFormats[0], 16384, "16383"}, {kFormats[1], 65537, "65536"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format.name);
        std::unique_ptr<Bitmap> wide = Bitmap::CreateArgb(c.width, 1);
        ASSERT_TRUE(wide && wide->SetPixel(0, 0, Argb(255, 1, 2, 3)));
        Error error;
        EXPECT_FALSE(
            wide->Save((folder / (std::string("w.") + c.format.name)), *FindCodecByName(c.format.name), 80, &error));
        EXPECT_EQ(error.failure, Failure::EncodeFailed);
        EXPECT_NE(error.detail.find(c.words), std::string::npos) << error.detail;
        EXPECT_EQ(FolderEntries(folder.path()).size(), 0u);
    }
    // The largest side each takes is written.
    std::unique_ptr<Bitmap> widest = Bitmap::CreateArgb(16383, 1);
    ASSERT_TRUE(widest && widest->SetPixel(0, 0, Argb(255, 1, 2, 3)));
    std::optional<Decoded> decoded = SaveAndDecode(*widest, kFormats[0], (folder / ("w.webp")));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 16383u);
}

}  // namespace
}  // namespace qx::test
