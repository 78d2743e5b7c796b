// HEIC, WebP and AVIF sources made by Debian's own encoders (tests/corpus/photo-formats): read upright as the
// container says, with alpha and metadata, and broken ones refused before any pixel memory is taken.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cstring>
#include <functional>

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
        {"grid.heic", "heic", 120, 100, kRed, false},  // 2x2 tiles of 64x64, red top left, blue bottom right
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

// How a test HEIC file is coded. heif-enc writes no irot or imir: libheif's encoder writes them from an
// EXIF-style orientation.
struct HeicCoding {
    heif_orientation orientation = heif_orientation_normal;
    const char* chroma = "420";
    heif_matrix_coefficients matrix = heif_matrix_coefficients_ITU_R_BT_601_6;
    bool fullRange = true;
    bool alpha = false;
};

void WriteHeic(const std::string& path, uint32_t width, uint32_t height,
               const std::function<uint32_t(int, int)>& argbAt, const HeicCoding& coding = {}) {
    heif_context* context = heif_context_alloc();
    heif_image* image = nullptr;
    const int w = static_cast<int>(width), h = static_cast<int>(height), channels = coding.alpha ? 4 : 3;
    ASSERT_EQ(heif_image_create(w, h, heif_colorspace_RGB,
                                coding.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &image)
                  .code,
              heif_error_Ok);
    ASSERT_EQ(heif_image_add_plane(image, heif_channel_interleaved, w, h, 8).code, heif_error_Ok);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t argb = argbAt(x, y);
            const uint8_t pixel[4] = {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb), uint8_t(argb >> 24)};
            std::memcpy(plane + y * stride + x * channels, pixel, channels);
        }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    heif_nclx_color_profile_set_matrix_coefficients(nclx, coding.matrix);
    nclx->full_range_flag = coding.fullRange ? 1 : 0;
    heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
    heif_encoder* encoder = nullptr;
    ASSERT_EQ(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_encoder_set_parameter_string(encoder, "chroma", coding.chroma);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = coding.orientation;
    EXPECT_EQ(heif_context_encode_image(context, image, encoder, options, nullptr).code, heif_error_Ok);
    EXPECT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    heif_image_release(image);
    heif_context_free(context);
}

void WriteTurnedHeic(const std::string& path, heif_orientation orientation) {
    const auto corners = [](int x, int y) { return y < 16 ? (x < 24 ? kRed : kGreen) : (x < 24 ? kWhite : kBlue); };
    WriteHeic(path, 48, 32, corners, {.orientation = orientation});
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
    // A grid of no pixels is a broken file, not a large one.
    EXPECT_FALSE(Bitmap::FromFile(PhotoFormats("zero-size-grid.heic"), &error));
    EXPECT_EQ(error.failure, Failure::BadHeader) << error.detail;
    // Coded data that holds no picture at all (zeroed) fails; it does not come out as a made-up image.
    ScratchDir folder;
    std::string zeroed = ReadBytes(PhotoFormats("photo.heic"));
    std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(zeroed.find("mdat") + 4), zeroed.end(), '\0');
    WriteBytes(folder / "zeroed.heic", zeroed);
    std::unique_ptr<Bitmap> blank = Bitmap::FromFile(folder / "zeroed.heic", &error);
    EXPECT_FALSE(blank && blank->Decode(&error));
    EXPECT_EQ(error.failure, Failure::BrokenData) << error.detail;
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

// RGBA of a HEIC file as libheif decodes it by itself (with libde265), 8 bits a sample.
std::vector<uint8_t> Libde265Pixels(const std::string& path) {
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    std::vector<uint8_t> pixels;
    heif_decoding_options* options = heif_decoding_options_alloc();
    options->convert_hdr_to_8bit = 1;
    if (heif_context_read_from_file(context, path.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options).code ==
            heif_error_Ok) {
        int stride = 0;
        const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int width = heif_image_get_width(image, heif_channel_interleaved) * 4;
        for (int y = 0; y < heif_image_get_height(image, heif_channel_interleaved); ++y)
            pixels.insert(pixels.end(), plane + y * stride, plane + y * stride + width);
    }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_decoding_options_free(options);
    heif_context_free(context);
    return pixels;
}

// HEVC pictures are decoded by libavcodec in place of libheif's own libde265. HEVC decoding is exact, so the
// pixels must be libde265's to the last bit, whatever the chroma layout, bit depth, range, alpha or turn.
TEST(PhotoFormats, HeicPixelsAreTheSameAsLibde265s) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> photo = Bitmap::FromFile(Corpus("libjpeg-turbo/testorig.jpg"));  // 227x149
    ASSERT_TRUE(photo && photo->Decode());
    const auto photoAt = [&](int x, int y) {
        uint32_t argb = 0;
        photo->GetPixel(x, y, argb);
        return x > 150 && y > 100 ? (argb & 0xFFFFFF) | 0x80000000 : argb;
    };
    std::vector<std::string> files;
    for (const char* name : {"photo.heic", "10bit.heic", "alpha.heic", "icc.heic", "grid.heic"})
        files.push_back(PhotoFormats(name));
    const struct {
        const char* name;
        HeicCoding coding;
    } written[] = {
        {"422.heic", {.chroma = "422"}},
        {"444-709-limited.heic",
         {.chroma = "444", .matrix = heif_matrix_coefficients_ITU_R_BT_709_5, .fullRange = false}},
        {"turned-alpha.heic", {.orientation = heif_orientation_rotate_90_cw, .alpha = true}},
    };
    for (const auto& w : written) {
        files.push_back(folder / w.name);
        WriteHeic(files.back(), 227, 149, photoAt, w.coding);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::unique_ptr<Bitmap> ours = Bitmap::FromFile(file);
        ASSERT_TRUE(ours && ours->Decode());
        const std::vector<uint8_t> reference = Libde265Pixels(file);
        ASSERT_EQ(reference.size(), size_t{ours->Width()} * ours->Height() * 4);
        size_t differing = 0;
        for (uint32_t y = 0; y < ours->Height(); ++y)
            for (uint32_t x = 0; x < ours->Width(); ++x) {
                uint32_t argb = 0;
                ASSERT_TRUE(ours->GetPixel(x, y, argb));
                const uint8_t* expected = &reference[(size_t{y} * ours->Width() + x) * 4];
                differing += argb != Argb(expected[3], expected[0], expected[1], expected[2]);
            }
        EXPECT_EQ(differing, 0u);
    }
}

}  // namespace
}  // namespace qx::test
