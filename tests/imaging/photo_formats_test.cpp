// HEIC, WebP and AVIF sources made by Debian's own encoders (tests/corpus/photo-formats): read upright as the
// container says, with alpha and metadata, and broken ones refused before any pixel memory is taken.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstring>

#include "support.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

std::string PhotoFormats(const std::string& name) { return Corpus("photo-formats/" + name); }

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;

// The picture is 48x32 with red top left, green top right, blue bottom right and white bottom left: the
// corner a reader shows top left says how it turned and mirrored.
TEST(PhotoFormats, ReadUprightWithTheirAlpha) {
    const struct {
        const char* file;
        const char* format;
        uint32_t width, height;
        uint32_t topLeft;
        bool alpha;
    } cases[] = {
        {"photo.heic", "heic", 48, 32, kRed, false},
        // Only the container turns a HEIF image; its EXIF orientation is a copy that this writer did not keep
        // in step.
        {"exif-orientation-6.heic", "heic", 48, 32, kRed, false},
        {"alpha.heic", "heic", 48, 32, kRed, true},
        {"10bit.heic", "heic", 48, 32, kRed, false},
        {"photo.webp", "webp", 48, 32, kRed, false},
        {"lossless.webp", "webp", 48, 32, kRed, false},
        {"alpha.webp", "webp", 48, 32, kRed, true},
        {"exif-orientation-6.webp", "webp", 32, 48, kWhite, false},
        {"animated.webp", "webp", 48, 32, kRed, false},  // the first frame; the second is negated
        {"photo.avif", "avif", 48, 32, kRed, false},
        {"alpha.avif", "avif", 48, 32, kRed, true},
        {"10bit.avif", "avif", 48, 32, kRed, false},
        {"irot-1.avif", "avif", 32, 48, kGreen, false},
        {"irot-3.avif", "avif", 32, 48, kWhite, false},
        {"imir-0.avif", "avif", 48, 32, kWhite, false},
        {"imir-1.avif", "avif", 48, 32, kGreen, false},
        {"irot-1-imir-1.avif", "avif", 32, 48, kBlue, false},
        {"photo.jxl", "jxl", 48, 32, kRed, false},
        {"alpha.jxl", "jxl", 48, 32, kRed, true},
        {"icc.jxl", "jxl", 48, 32, kRed, false},  // JPEG files repacked without loss
        {"repacked.jxl", "jxl", 48, 32, kRed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(PhotoFormats(c.file));
        ASSERT_TRUE(bitmap);
        EXPECT_STREQ(bitmap->Format()->name, c.format);
        EXPECT_EQ(bitmap->Width(), c.width);
        EXPECT_EQ(bitmap->Height(), c.height);
        EXPECT_EQ(bitmap->HasAlpha(), c.alpha);
        EXPECT_EQ(bitmap->IsAnimated(), std::strcmp(c.file, "animated.webp") == 0);
        uint32_t corner = 0, right = 0;
        ASSERT_TRUE(bitmap->GetPixel(2, 2, corner));
        EXPECT_LE(MaxDifference(corner, c.topLeft), 48) << std::hex << corner;
        // The alpha pictures are half transparent on their right half.
        ASSERT_TRUE(bitmap->GetPixel(c.width - 3, c.height / 2, right));
        EXPECT_NEAR(Channel(right, 24), c.alpha ? 128 : 255, 8);
    }
}

// heif-enc writes no irot or imir: libheif's encoder writes them from an EXIF-style orientation.
void WriteTurnedHeic(const std::string& path, heif_orientation orientation) {
    heif_context* context = heif_context_alloc();
    heif_image* image = nullptr;
    ASSERT_EQ(heif_image_create(48, 32, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code, heif_error_Ok);
    ASSERT_EQ(heif_image_add_plane(image, heif_channel_interleaved, 48, 32, 8).code, heif_error_Ok);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            const uint32_t rgb = y < 16 ? (x < 24 ? kRed : kGreen) : (x < 24 ? kWhite : kBlue);
            const uint8_t pixel[3] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
            std::memcpy(plane + y * stride + x * 3, pixel, 3);
        }
    heif_encoder* encoder = nullptr;
    ASSERT_EQ(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = orientation;
    EXPECT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code, heif_error_Ok);
    EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_image_release(image);
    heif_context_free(context);
}

// The container's turn and mirror, applied by libheif while decoding, give the sides as shown.
TEST(PhotoFormats, HeicTurnedByItsContainer) {
    ScratchDir folder;
    const struct {
        heif_orientation orientation;
        uint32_t width, height, topLeft;
    } cases[] = {{heif_orientation_rotate_90_cw, 32, 48, kWhite},
                 {heif_orientation_flip_horizontally, 48, 32, kGreen},
                 {heif_orientation_rotate_90_cw_then_flip_horizontally, 32, 48, kRed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        const std::string path = folder / "turned.heic";
        WriteTurnedHeic(path, c.orientation);
        std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(path);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->Width(), c.width);
        EXPECT_EQ(bitmap->Height(), c.height);
        uint32_t corner = 0;
        ASSERT_TRUE(bitmap->GetPixel(2, 2, corner));
        EXPECT_LE(MaxDifference(corner, c.topLeft), 48) << std::hex << corner;
    }
}

TEST(PhotoFormats, BrokenFilesAreRefused) {
    for (const char* format : {"heic", "webp", "avif", "jxl"}) {
        const std::string truncated = PhotoFormats(std::string("truncated-photo.") + format);
        SCOPED_TRACE(truncated);
        Error error;
        std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile(truncated, &error);
        EXPECT_FALSE(bitmap && bitmap->Decode(&error));
        EXPECT_TRUE(error.failure == Failure::Truncated || error.failure == Failure::BrokenData ||
                    error.failure == Failure::BadHeader)
            << FailureName(error.failure) << ": " << error.detail;
        if (std::strcmp(format, "jxl") == 0) continue;  // cjxl writes no sides that could lie

        // Sides far beyond the limit: refused at the header, before any pixel memory.
        const std::string lying = PhotoFormats(std::string("lying-size-photo.") + format);
        SCOPED_TRACE(lying);
        error = {};
        EXPECT_FALSE(Bitmap::FromFile(lying, &error));
        EXPECT_TRUE(error.failure == Failure::TooLarge || error.failure == Failure::BadHeader)
            << FailureName(error.failure) << ": " << error.detail;
    }
    // A small image whose HEVC configuration announces 16000x16000: refused before the decoder sets up
    // frames of that size (gigabytes from a file of 4 KB).
    Error error;
    EXPECT_FALSE(Bitmap::FromFile(PhotoFormats("coded-size-photo.heic"), &error));
    EXPECT_EQ(error.failure, Failure::BadHeader) << error.detail;
    // An alpha image made an overlay whose canvas is far larger than the image (found by the fuzzer).
    std::unique_ptr<Bitmap> overlay =
        Bitmap::FromFile(std::string(QUENDRIX_SOURCE_DIR) + "/fuzz/regressions/heic/overlay-canvas.heic");
    EXPECT_FALSE(overlay && overlay->Decode(&error));
    EXPECT_EQ(error.failure, Failure::TooLarge) << error.detail;
}

// EXIF and XMP of the sources reach a JPEG output that keeps metadata, as a JPEG source's do; the colour
// profile is kept always.
TEST(PhotoFormats, KeptMetadataAndProfileReachTheOutput) {
    ScratchDir folder;
    for (const char* format : {"heic", "webp", "avif", "jxl"}) {
        SCOPED_TRACE(format);
        std::unique_ptr<Bitmap> profiled = Bitmap::FromFile(PhotoFormats(std::string("icc.") + format));
        ASSERT_TRUE(profiled);
        const std::string withProfile = folder / (std::string("icc-") + format + ".jpg");
        ASSERT_TRUE(profiled->Save(withProfile, *FindCodecByName("jpg"), 80));
        EXPECT_NE(ReadBytes(withProfile).find("ICC_PROFILE"), std::string::npos);

        // The JPEG XL file with metadata is the camera JPEG repacked, its boxes compressed.
        std::unique_ptr<Bitmap> source = Bitmap::FromFile(
            PhotoFormats(std::string(format) == "jxl" ? "repacked.jxl" : std::string("photo.") + format));
        ASSERT_TRUE(source);
        const std::string path = folder / (std::string(format) + ".jpg");
        Bitmap::SaveOptions options;
        options.keepMetadata = true;
        ASSERT_TRUE(source->Save(path, *FindCodecByName("jpg"), options, nullptr));
        const std::string bytes = ReadBytes(path);
        EXPECT_NE(bytes.find("Quendrix"), std::string::npos) << "the EXIF Make";
        EXPECT_NE(bytes.find("Ecken"), std::string::npos) << "the XMP title";
    }
    // A JPEG XL file's own profile too, or the one its colour encoding describes (gamma 2.2 from a PNG); one in
    // plain sRGB adds none.
    for (const auto& [file, profiled] :
         {std::pair{"icc.jxl", true}, std::pair{"photo.jxl", true}, std::pair{"repacked.jxl", false}}) {
        std::unique_ptr<Bitmap> source = Bitmap::FromFile(PhotoFormats(file));
        ASSERT_TRUE(source);
        const std::string path = folder / (std::string(file) + ".jpg");
        ASSERT_TRUE(source->Save(path, *FindCodecByName("jpg"), 80));
        EXPECT_EQ(ReadBytes(path).find("ICC_PROFILE") != std::string::npos, profiled) << file;
    }
}

// A large WebP drawn small is decoded reduced by libwebp: it must look like the same drawing from the
// full decode.
TEST(PhotoFormats, ReducedWebpDecodeLooksLikeTheFullOne) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> photo = Thumbnail(Corpus("libjpeg-turbo/testorig.jpg"), 227, 149);
    ASSERT_TRUE(photo);
    const std::string path = folder / "large.webp";
    ASSERT_TRUE(photo->Save(path, *FindCodecByName("webp"), 95));
    std::unique_ptr<Bitmap> reduced = Thumbnail(path, 30, 20);  // a quarter of the sides and less
    std::unique_ptr<Bitmap> full = Thumbnail(path, 227, 149);
    ASSERT_TRUE(reduced && full);
    std::unique_ptr<Bitmap> reference = Bitmap::CreateArgb(30, 20);
    ASSERT_TRUE(reference && Graphics(*reference).DrawImage(*full, 0, 0, 30, 20));
    for (int shift : {0, 8, 16}) {
        EXPECT_NEAR(MeanChannel(*reduced, 0, 0, 30, 20, shift), MeanChannel(*reference, 0, 0, 30, 20, shift), 3);
        EXPECT_NEAR(MeanChannel(*reduced, 0, 0, 10, 10, shift), MeanChannel(*reference, 0, 0, 10, 10, shift), 6);
    }
}

}  // namespace
}  // namespace qx::test
