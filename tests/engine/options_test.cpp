// The options of section Erweitert on real files: metadata kept or not, outputs only when smaller, the size
// limit searched over the quality, the source's modification time, JPEG sources repacked into JPEG XL. EXIF is
// read back through libexif, from WebP through libwebpmux, from AVIF through libavif's decoder and from JPEG XL
// out of its boxes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <avif/avif.h>
#include <libexif/exif-data.h>
#include <webp/mux.h>

#include "engine/compress.h"
#include "engine_test_support.h"
#include "support/child_process.h"
#include "support/images.h"
#include "support/webp_avif.h"

namespace qx::test {
namespace {

using test::ReadBytes;
using test::WriteBytes;

const std::string kOrientation6 = test::kCorpus + "/exif-orientation/Landscape_6.jpg";
const std::string kXmpMark = "quendrix-test-xmp-packet";
const std::string kXmpPacket = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><!-- " + kXmpMark + " --></x:xmpmeta>";

struct ExifDeleter {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};
using Exif = std::unique_ptr<ExifData, ExifDeleter>;

Exif LoadExif(const std::string& tiffOrApp1) {
    std::string block = tiffOrApp1.compare(0, 6, std::string("Exif\0\0", 6)) == 0
                            ? tiffOrApp1
                            : std::string("Exif\0\0", 6) + tiffOrApp1;
    Exif data(exif_data_new());
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), reinterpret_cast<const unsigned char*>(block.data()), unsigned(block.size()));
    return data;
}

// The APP1 payloads of a JPEG before its image data, and the file without them.
struct JpegParts {
    std::string exif;  // with "Exif\0\0"
    std::string xmp;
    std::string rest;  // every other segment and the image data, after SOI
};
JpegParts SplitJpeg(const std::string& bytes) {
    JpegParts parts;
    size_t i = 2;
    while (i + 4 <= bytes.size() && uint8_t(bytes[i]) == 0xFF) {
        const uint8_t marker = uint8_t(bytes[i + 1]);
        const size_t length = size_t(uint8_t(bytes[i + 2])) * 256 + uint8_t(bytes[i + 3]);
        if (marker == 0xDA) break;
        const std::string payload = bytes.substr(i + 4, length - 2);
        if (marker == 0xE1 && payload.compare(0, 6, std::string("Exif\0\0", 6)) == 0)
            parts.exif = payload;
        else if (marker == 0xE1 && payload.compare(0, 28, "http://ns.adobe.com/xap/1.0/") == 0)
            parts.xmp = payload;
        else
            parts.rest += bytes.substr(i, length + 2);
        i += length + 2;
    }
    parts.rest += bytes.substr(i);
    return parts;
}

std::string Segment(uint8_t marker, const std::string& payload) {
    return std::string{char(0xFF), char(marker), char((payload.size() + 2) >> 8), char((payload.size() + 2) & 0xFF)} +
           payload;
}

// The data of the first chunk of `type` in a PNG, empty when there is none.
std::string PngChunk(const std::string& bytes, const char* type) {
    size_t i = 8;
    while (i + 12 <= bytes.size()) {
        const uint32_t length = uint32_t(uint8_t(bytes[i])) << 24 | uint32_t(uint8_t(bytes[i + 1])) << 16 |
                                uint32_t(uint8_t(bytes[i + 2])) << 8 | uint8_t(bytes[i + 3]);
        if (bytes.compare(i + 4, 4, type) == 0) return bytes.substr(i + 8, length);
        i += 12 + length;
    }
    return {};
}

void AddEntry(ExifData* data, ExifIfd ifd, ExifTag tag, ExifFormat format, const std::string& value) {
    ExifEntry* entry = exif_entry_new();
    entry->tag = tag;
    entry->format = format;
    entry->size = unsigned(value.size());
    entry->components = format == EXIF_FORMAT_ASCII ? value.size() : value.size() / exif_format_get_size(format);
    entry->data = static_cast<unsigned char*>(std::malloc(value.size()));
    std::memcpy(entry->data, value.data(), value.size());
    exif_content_add_entry(data->ifd[ifd], entry);
    exif_entry_unref(entry);
}

std::string Long(ExifByteOrder order, uint32_t value) {
    unsigned char b[4];
    exif_set_long(b, order, value);
    return std::string(reinterpret_cast<char*>(b), 4);
}

// The corpus photo with orientation 6, its EXIF grown by a maker, stated pixel dimensions, a GPS position,
// and an XMP packet beside it; with `photo`, that EXIF and XMP put into another photo.
std::string PhotoWithMetadata(const std::string& photo = kOrientation6, const std::string& xmpPacket = kXmpPacket,
                              const std::string& exifFrom = kOrientation6) {
    Exif data = LoadExif(SplitJpeg(ReadBytes(exifFrom)).exif);
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    AddEntry(data.get(), EXIF_IFD_0, EXIF_TAG_MAKE, EXIF_FORMAT_ASCII, std::string("QuendrixCam\0", 12));
    AddEntry(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_WIDTH, EXIF_FORMAT_LONG, Long(order, 1800));
    AddEntry(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_LENGTH, EXIF_FORMAT_LONG, Long(order, 1200));
    AddEntry(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, EXIF_FORMAT_LONG, Long(order, 1800));
    AddEntry(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, EXIF_FORMAT_LONG, Long(order, 1200));
    AddEntry(data.get(), EXIF_IFD_GPS, ExifTag(EXIF_TAG_GPS_LATITUDE_REF), EXIF_FORMAT_ASCII, std::string("N\0", 2));
    AddEntry(data.get(), EXIF_IFD_GPS, ExifTag(EXIF_TAG_GPS_LATITUDE), EXIF_FORMAT_RATIONAL,
             Long(order, 52) + Long(order, 1) + Long(order, 31) + Long(order, 1) + Long(order, 0) + Long(order, 1));
    unsigned char* saved = nullptr;
    unsigned int length = 0;
    exif_data_save_data(data.get(), &saved, &length);
    const std::string exif(reinterpret_cast<char*>(saved), length);
    std::free(saved);
    const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + xmpPacket;
    return "\xFF\xD8" + Segment(0xE1, exif) + Segment(0xE1, xmp) + SplitJpeg(ReadBytes(photo)).rest;
}

struct ExifView {
    bool present = false;
    int orientation = 0;
    uint32_t pixelX = 0, pixelY = 0, imageWidth = 0, imageLength = 0;
    bool gps = false;
    std::string make;
};

uint32_t Integer(ExifData* data, ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag);
    if (entry == nullptr) return 0;
    const ExifByteOrder order = exif_data_get_byte_order(data);
    return entry->format == EXIF_FORMAT_SHORT ? exif_get_short(entry->data, order) : exif_get_long(entry->data, order);
}

// The EXIF block and the XMP packet of an output, each as its format's own reader finds them; empty when absent.
struct Blocks {
    std::string exif;
    std::string xmp;
    std::string icc;      // WebP and AVIF
    bool decodes = true;  // AVIF: the image decoded with them
};

std::string Text(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

Blocks WebpBlocks(const std::string& bytes) {
    Blocks blocks;
    const WebPData whole = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    WebPMux* mux = WebPMuxCreate(&whole, 0);
    if (mux == nullptr) {
        blocks.decodes = false;
        return blocks;
    }
    uint32_t flags = 0;
    WebPMuxGetFeatures(mux, &flags);
    WebPData chunk;
    if (WebPMuxGetChunk(mux, "EXIF", &chunk) == WEBP_MUX_OK) blocks.exif = Text(chunk.bytes, chunk.size);
    if (WebPMuxGetChunk(mux, "XMP ", &chunk) == WEBP_MUX_OK) blocks.xmp = Text(chunk.bytes, chunk.size);
    if (WebPMuxGetChunk(mux, "ICCP", &chunk) == WEBP_MUX_OK) blocks.icc = Text(chunk.bytes, chunk.size);
    WebPMuxDelete(mux);
    // A reader looks at the flags of the VP8X header before any chunk.
    EXPECT_EQ((flags & EXIF_FLAG) != 0, !blocks.exif.empty());
    EXPECT_EQ((flags & XMP_FLAG) != 0, !blocks.xmp.empty());
    EXPECT_EQ((flags & ICCP_FLAG) != 0, !blocks.icc.empty());
    return blocks;
}

Blocks AvifBlocks(const std::string& bytes) {
    Blocks blocks;
    avifDecoder* decoder = avifDecoderCreate();
    decoder->ignoreExif = AVIF_FALSE;
    decoder->ignoreXMP = AVIF_FALSE;
    avifImage* image = avifImageCreateEmpty();
    blocks.decodes = avifDecoderReadMemory(decoder, image, reinterpret_cast<const uint8_t*>(bytes.data()),
                                           bytes.size()) == AVIF_RESULT_OK;
    if (blocks.decodes) {
        blocks.exif = Text(image->exif.data, image->exif.size);
        blocks.xmp = Text(image->xmp.data, image->xmp.size);
        blocks.icc = Text(image->icc.data, image->icc.size);
    }
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return blocks;
}

bool IsJxl(const std::string& bytes) {
    return bytes.compare(0, 12, std::string("\0\0\0\x0cJXL \r\n\x87\n", 12)) == 0 ||
           bytes.compare(0, 2, "\xFF\x0A") == 0;
}

// EXIF of a JPEG XL file follows the offset of its TIFF header.
Blocks JxlBlocks(const std::string& bytes) {
    Blocks blocks;
    std::map<std::string, std::string> boxes = test::JxlBoxes(bytes);
    if (boxes["Exif"].size() >= 4) blocks.exif = boxes["Exif"].substr(4);
    blocks.xmp = boxes["xml "];
    const std::optional<test::Decoded> decoded = test::DecodeJxl(bytes);
    blocks.decodes = decoded.has_value();
    if (decoded) blocks.icc.assign(decoded->icc.begin(), decoded->icc.end());
    return blocks;
}

Blocks ReadBlocks(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    if (bytes.size() < 12) return {};
    if (IsJxl(bytes)) return JxlBlocks(bytes);
    if (bytes.compare(0, 4, "RIFF") == 0) return WebpBlocks(bytes);
    if (bytes.compare(4, 4, "ftyp") == 0) return AvifBlocks(bytes);
    Blocks blocks;
    if (bytes.compare(0, 2, "\xFF\xD8") == 0) {
        const JpegParts parts = SplitJpeg(bytes);
        blocks.exif = parts.exif;
        if (!parts.xmp.empty()) blocks.xmp = parts.xmp.substr(29);
    } else {
        blocks.exif = PngChunk(bytes, "eXIf");
        blocks.xmp = PngChunk(bytes, "iTXt");  // with its keyword and flags before the packet
    }
    return blocks;
}

// Width and height of an output with every pixel decoded (WebP, AVIF and JPEG XL by their own libraries).
std::optional<std::pair<uint32_t, uint32_t>> OutputSize(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    if (bytes.compare(0, 4, "RIFF") == 0) return test::DecodedOutputSize("webp", bytes);
    if (bytes.compare(4, 4, "ftyp") == 0) return test::DecodedOutputSize("avif", bytes);
    if (IsJxl(bytes)) return test::DecodedOutputSize("jxl", bytes);
    return test::DecodedSize(path);
}

// What an output's EXIF says (JPEG APP1, PNG eXIf, WebP EXIF chunk, AVIF Exif item).
ExifView ReadExif(const std::string& path) {
    const std::string block = ReadBlocks(path).exif;
    ExifView view;
    if (block.empty()) return view;
    Exif data = LoadExif(block);
    view.present = true;
    view.orientation = int(Integer(data.get(), EXIF_IFD_0, EXIF_TAG_ORIENTATION));
    view.pixelX = Integer(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION);
    view.pixelY = Integer(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION);
    view.imageWidth = Integer(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_WIDTH);
    view.imageLength = Integer(data.get(), EXIF_IFD_0, EXIF_TAG_IMAGE_LENGTH);
    view.gps = data->ifd[EXIF_IFD_GPS]->count > 0;
    if (ExifEntry* make = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_MAKE))
        view.make.assign(reinterpret_cast<char*>(make->data), strnlen(reinterpret_cast<char*>(make->data), make->size));
    return view;
}

class OptionsTest : public test::CompressorTest {
protected:
    AdvancedSettings options;

    bool Compress(const std::string& source, const std::string& target, const char* format,
                  Compressor::Outcome* outcome = nullptr) {
        compressor.SetOptions(options);
        return compressor.CompressFile(source, target, imaging::FindCodecByName(format), outcome);
    }
};

TEST_F(OptionsTest, MetadataLeftOutByDefault) {
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, PhotoWithMetadata());
    ASSERT_TRUE(ReadExif(source).gps);  // the source does carry it all
    for (const char* format : {"jpg", "png", "bmp", "webp", "avif", "jxl"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format)) << format;
        EXPECT_TRUE(OutputSize(target)) << format;
        EXPECT_FALSE(ReadExif(target).present) << format;
        EXPECT_EQ(ReadBytes(target).find(kXmpMark), std::string::npos) << format;
        EXPECT_TRUE(ReadBlocks(target).xmp.empty()) << format;
    }
    // Without a profile or metadata a WebP output is the plain lossy bitstream, without the extended header.
    EXPECT_EQ(ReadBytes(dir / "out.webp").substr(12, 4), "VP8 ");
}

TEST_F(OptionsTest, KeptMetadataIsUprightAndSized) {
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, PhotoWithMetadata());
    settings.Bildsize = kSizeBox;  // the stored 1200x1800 shown as 1800x1200, fitted into 640x480: 640x426
    options.MetadatenUebernehmen = 1;
    for (const char* format : {"jpg", "png", "webp", "avif", "jxl"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format)) << format;
        const auto size = OutputSize(target);  // still decodes with the blocks in it
        ASSERT_TRUE(size) << format;
        EXPECT_EQ(*size, std::make_pair(640u, 426u)) << format;
        const ExifView exif = ReadExif(target);
        ASSERT_TRUE(exif.present) << format;
        EXPECT_EQ(exif.orientation, 1) << format;
        EXPECT_EQ(exif.pixelX, size->first) << format;
        EXPECT_EQ(exif.pixelY, size->second) << format;
        EXPECT_EQ(exif.imageWidth, size->first) << format;
        EXPECT_EQ(exif.imageLength, size->second) << format;
        EXPECT_EQ(exif.make, "QuendrixCam") << format;
        EXPECT_FALSE(exif.gps) << format;  // dropped by default once metadata is kept
        EXPECT_TRUE(ReadBlocks(target).xmp.ends_with(kXmpPacket)) << format;
    }
    // BMP has no place for either.
    ASSERT_TRUE(Compress(source, dir / "out.bmp", "bmp"));
    EXPECT_EQ(ReadBytes(dir / "out.bmp").find(kXmpMark), std::string::npos);

    // The PNG's own eXIf and iTXt are taken over as a JPEG's are.
    ASSERT_TRUE(Compress(dir / "out.png", dir / "again.jpg", "jpg"));
    EXPECT_EQ(ReadExif(dir / "again.jpg").make, "QuendrixCam");
    EXPECT_NE(ReadBytes(dir / "again.jpg").find(kXmpMark), std::string::npos);
}

TEST_F(OptionsTest, GpsKeptWhenAsked) {
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, PhotoWithMetadata());
    options.MetadatenUebernehmen = 1;
    options.GpsEntfernen = 0;
    for (const char* format : {"jpg", "png", "webp", "avif", "jxl"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format));
        const ExifView exif = ReadExif(target);
        EXPECT_TRUE(exif.gps) << format;
        EXPECT_EQ(exif.orientation, 1) << format;
        EXPECT_TRUE(ReadBlocks(target).xmp.ends_with(kXmpPacket)) << format;
    }
}

TEST_F(OptionsTest, KeptMetadataBesideAColourProfile) {
    const std::string source = dir / "profiled.jpg";
    WriteBytes(source, PhotoWithMetadata(test::kCorpus + "/pillow/icc_profile_big.jpg"));
    options.MetadatenUebernehmen = 1;
    for (const char* format : {"webp", "avif", "jxl"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format)) << format;
        ASSERT_TRUE(OutputSize(target)) << format;
        const Blocks blocks = ReadBlocks(target);
        EXPECT_TRUE(blocks.decodes) << format;
        ASSERT_GE(blocks.icc.size(), 128u) << format;
        EXPECT_EQ(blocks.icc.substr(36, 4), "acsp") << format;
        EXPECT_EQ(blocks.xmp, kXmpPacket) << format;
        const ExifView exif = ReadExif(target);
        EXPECT_EQ(exif.make, "QuendrixCam") << format;
        EXPECT_EQ(exif.orientation, 1) << format;
        EXPECT_FALSE(exif.gps) << format;
    }
}

TEST_F(OptionsTest, OutputNotSmallerIsNotWritten) {
    // A JPEG at quality 10 becomes larger at 100: skipped, the old target stays, the file counts as skipped.
    const std::string source = dir / "small.jpg";
    test::WriteImage(dir / "src.png", 300, 200, "png");
    settings.Rate = 10;
    ASSERT_TRUE(Compress(dir / "src.png", source, "jpg"));
    settings.Rate = 100;
    options.NurWennKleiner = 1;
    const std::string target = dir / "out.jpg";
    WriteBytes(target, "old");
    Compressor::Outcome outcome;
    EXPECT_TRUE(Compress(source, target, "jpg", &outcome));
    EXPECT_EQ(outcome.kind, Compressor::Outcome::Kind::SkippedNotSmaller);
    EXPECT_GE(outcome.bytes, ReadBytes(source).size());
    EXPECT_EQ(ReadBytes(target), "old");
    EXPECT_EQ(test::FolderEntries(dir.path()).size(), 3u);  // src.png, small.jpg, out.jpg: no temporary left
    EXPECT_EQ(compressor.SkippedCount.load(), 1);
    EXPECT_EQ(compressor.FailedCount.load(), 0);
    EXPECT_TRUE(messages.messages().empty());

    // Smaller: written as usual. The same check holds with a size limit.
    settings.Rate = 5;
    EXPECT_TRUE(Compress(source, target, "jpg", &outcome));
    EXPECT_EQ(outcome.kind, Compressor::Outcome::Kind::Written);
    EXPECT_LT(ReadBytes(target).size(), ReadBytes(source).size());
    settings.Rate = 100;
    options.MaxKBAktiv = 1;
    options.MaxKB = 1000;
    EXPECT_TRUE(Compress(source, dir / "limited.jpg", "jpg", &outcome));
    EXPECT_EQ(outcome.kind, Compressor::Outcome::Kind::SkippedNotSmaller);
    EXPECT_FALSE(test::Exists(dir / "limited.jpg"));
}

TEST_F(OptionsTest, SizeLimitSearchesTheQuality) {
    // Real photos at two sizes; each limit between the smallest and the largest output must hold.
    std::printf("%-28s %8s %8s %8s %8s %s\n", "image", "limit", "bytes", "quality", "encodes", "");
    for (const char* name : {"Landscape_1.jpg", "Landscape_6.jpg"}) {
        for (int32_t rule : {kSizeBox, kSizeSource}) {
            settings.Bildsize = rule;
            settings.Rate = 90;
            options.MaxKBAktiv = 0;
            const std::string source = test::kCorpus + "/exif-orientation/" + name;
            ASSERT_TRUE(Compress(source, dir / "plain.jpg", "jpg"));
            const uint64_t plain = ReadBytes(dir / "plain.jpg").size();
            options.MaxKBAktiv = 1;
            for (uint64_t limitKB : {plain / 1024 + 1, plain / 2048 + 1, plain / 4096 + 1, uint64_t{1}}) {
                options.MaxKB = int32_t(limitKB);
                Compressor::Outcome outcome;
                ASSERT_TRUE(Compress(source, dir / "out.jpg", "jpg", &outcome));
                const uint64_t bytes = ReadBytes(dir / "out.jpg").size();
                std::printf("%-20s %-7s %8llu %8llu %8d %8d %s\n", name, rule == kSizeBox ? "640x480" : "source",
                            (unsigned long long)limitKB * 1024, (unsigned long long)bytes, outcome.quality,
                            outcome.encodes, outcome.limitMissed ? "Grenze nicht erreicht" : "");
                EXPECT_EQ(outcome.bytes, bytes);
                EXPECT_LE(outcome.encodes, 8);
                EXPECT_LE(outcome.quality, 90);
                if (outcome.limitMissed) {
                    EXPECT_EQ(outcome.quality, 0);
                    EXPECT_GT(bytes, limitKB * 1024);
                } else {
                    EXPECT_LE(bytes, limitKB * 1024);
                }
                if (limitKB * 1024 >= plain) {
                    EXPECT_EQ(outcome.quality, 90);  // fits at Rate: one encode
                }
            }
        }
    }
    // 1 KB cannot hold a photo at source size: written at quality 0 all the same, and marked.
    Compressor::Outcome outcome;
    ASSERT_TRUE(Compress(kOrientation6, dir / "tiny.jpg", "jpg", &outcome));
    EXPECT_TRUE(outcome.limitMissed);
    EXPECT_TRUE(test::Exists(dir / "tiny.jpg"));
    EXPECT_EQ(compressor.FailedCount.load(), 0);
    // PNG has no quality: the limit does not apply.
    ASSERT_TRUE(Compress(kOrientation6, dir / "out.png", "png", &outcome));
    EXPECT_EQ(outcome.encodes, 1);
    EXPECT_FALSE(outcome.limitMissed);
    EXPECT_GT(ReadBytes(dir / "out.png").size(), 1024u);
}

TEST_F(OptionsTest, ModificationTimeTakenOver) {
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, ReadBytes(kOrientation6));
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_TRUE(Compress(source, dir / "now.jpg", "jpg"));
    options.DatumUebernehmen = 1;
    ASSERT_TRUE(Compress(source, dir / "then.jpg", "jpg"));
    struct stat now {
    }, then{};
    ASSERT_EQ(::stat((dir / "now.jpg").c_str(), &now), 0);
    ASSERT_EQ(::stat((dir / "then.jpg").c_str(), &then), 0);
    EXPECT_GT(now.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(then.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(then.st_mtim.tv_nsec, 123456789);
}

// Photo editors write the position into XMP too, as attributes or as elements, under any prefix.
const std::string kXmpWithPosition =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "<rdf:Description rdf:about=\"\" xmlns:e=\"http://ns.adobe.com/exif/1.0/\" "
    "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" xmlns:exifEX=\"http://cipa.jp/exif/1.0/\" "
    "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
    " e:GPSLatitude=\"52,30.0N\" tiff:Orientation='6' e:PixelXDimension=\"1800\"\n"
    " xmpNote:HasExtendedXMP=\"0123456789ABCDEF0123456789ABCDEF\" e:ExposureTime=\"1/50\">\n"
    " <e:GPSLongitude>13,24.0E</e:GPSLongitude>\n"
    " <exifEX:GPSHPositioningError>5/1</exifEX:GPSHPositioningError>\n"
    " <e:GPSVersionID><rdf:Seq><rdf:li>2.3.0.0</rdf:li></rdf:Seq></e:GPSVersionID>\n"
    " <e:PixelYDimension>1200</e:PixelYDimension>\n"
    " <tiff:ImageWidth>1800</tiff:ImageWidth>\n"
    " <!-- <e:GPSAltitude> in a comment is no property -->\n"
    " <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Hafen</rdf:li></rdf:Alt></dc:title>\n"
    "</rdf:Description></rdf:RDF></x:xmpmeta>\n"
    "<?xpacket end=\"w\"?>";

TEST_F(OptionsTest, KeptXmpFollowsTheOutput) {
    std::string photo = PhotoWithMetadata(kOrientation6, kXmpWithPosition);
    // The extension HasExtendedXMP points to, in a segment of its own (not carried over).
    photo.insert(
        2, Segment(0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35) + "0123456789ABCDEF0123456789ABCDEF" +
                             std::string("\0\0\0\5\0\0\0\0", 8) + "<x:x>"));
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, photo);
    settings.Bildsize = kSizeBox;  // 640x426 as in KeptMetadataIsUprightAndSized
    options.MetadatenUebernehmen = 1;
    for (const char* format : {"jpg", "png", "webp", "avif", "jxl"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format)) << format;
        const std::string xmp = ReadBlocks(target).xmp;
        EXPECT_EQ(xmp.find("GPS"), xmp.find("GPSAltitude")) << format << xmp;  // only the comment's is left
        EXPECT_EQ(xmp.find("HasExtendedXMP"), std::string::npos) << format;
        EXPECT_NE(xmp.find("/\" tiff:Orientation='1' e:PixelXDimension=\"640\" e:ExposureTime=\"1/50\">\n"
                           " <e:PixelYDimension>426</e:PixelYDimension>\n <tiff:ImageWidth>640</tiff:ImageWidth>\n"),
                  std::string::npos)
            << format << xmp;
        EXPECT_TRUE(
            xmp.ends_with("</rdf:Alt></dc:title>\n</rdf:Description></rdf:RDF></x:xmpmeta>\n"
                          "<?xpacket end=\"w\"?>"))
            << format;
    }
    const std::string jpeg = ReadBytes(dir / "out.jpg");
    EXPECT_EQ(jpeg.find("http://ns.adobe.com/xmp/extension/"), std::string::npos);
    // exiftool reads the edited packet as XMP.
    const test::RunResult read = test::RunChild(
        "/usr/bin/exiftool", {.args = {"-n", "-s3", "-XMP-tiff:Orientation", "-XMP-dc:Title", dir / "out.jpg"}});
    EXPECT_EQ(read.out, "1\nHafen\n");

    options.GpsEntfernen = 0;
    ASSERT_TRUE(Compress(source, dir / "gps.jpg", "jpg"));
    EXPECT_NE(ReadBlocks(dir / "gps.jpg").xmp.find("<e:GPSLongitude>13,24.0E</e:GPSLongitude>"), std::string::npos);
}

TEST_F(OptionsTest, KeptOrientationHoldsOneValue) {
    const JpegParts parts = SplitJpeg(PhotoWithMetadata());
    Exif data = LoadExif(parts.exif);
    exif_content_remove_entry(data->ifd[EXIF_IFD_0],
                              exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION));
    const std::string six =
        exif_data_get_byte_order(data.get()) == EXIF_BYTE_ORDER_INTEL ? std::string("\6\0", 2) : std::string("\0\6", 2);
    AddEntry(data.get(), EXIF_IFD_0, EXIF_TAG_ORIENTATION, EXIF_FORMAT_SHORT, six + six);
    unsigned char* saved = nullptr;
    unsigned int length = 0;
    exif_data_save_data(data.get(), &saved, &length);
    const std::string source = dir / "photo.jpg";
    WriteBytes(source, "\xFF\xD8" + Segment(0xE1, std::string(reinterpret_cast<char*>(saved), length)) + parts.rest);
    std::free(saved);
    options.MetadatenUebernehmen = 1;
    for (const char* format : {"jpg", "png"}) {
        const std::string target = dir / (std::string("out.") + format);
        ASSERT_TRUE(Compress(source, target, format)) << format;
        EXPECT_EQ(OutputSize(target), std::make_pair(1800u, 1200u)) << format;
        Exif exif = LoadExif(ReadBlocks(target).exif);
        ExifEntry* orientation = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        ASSERT_NE(orientation, nullptr) << format;
        EXPECT_EQ(orientation->components, 1u) << format;
        EXPECT_EQ(Integer(exif.get(), EXIF_IFD_0, EXIF_TAG_ORIENTATION), 1u) << format;
    }
}

TEST_F(OptionsTest, PngTurnedByItsExifOrientation) {
    const std::string plain = dir / "plain.png";
    test::WriteImage(plain, 30, 20, "png");
    // A TIFF block with only Orientation 6, in an eXIf chunk right after IHDR.
    const std::string tiff = std::string("MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    std::string png = ReadBytes(plain);
    png.insert(33, test::PngChunk("eXIf" + tiff));
    const std::string source = dir / "turned.png";
    WriteBytes(source, png);
    for (int keep : {0, 1}) {
        options.MetadatenUebernehmen = keep;
        for (const char* format : {"png", "jpg"}) {
            const std::string target = dir / (std::string("out") + char('0' + keep) + "." + format);
            ASSERT_TRUE(Compress(source, target, format)) << format;
            EXPECT_EQ(OutputSize(target), std::make_pair(20u, 30u)) << format;
            EXPECT_EQ(ReadExif(target).orientation, keep ? 1 : 0) << format;
        }
    }
}

TEST_F(OptionsTest, JpegSourcesRepackedIntoJpegXlGiveTheirFileBack) {
    options.JpegVerlustfreiUmpacken = 1;
    options.MetadatenUebernehmen = 1;  // a repack carries the file's metadata as it is
    const char* sources[] = {"generated/jpeg/baseline-420.jpg", "generated/jpeg/baseline-444.jpg",
                             "generated/jpeg/progressive.jpg",  "generated/jpeg/restart-every-mcu.jpg",
                             "generated/jpeg/grayscale.jpg",    "cameras/canon-powershot-s330.jpg",
                             "cameras/nikon-e5000.jpg",         "pillow/icc_profile_big.jpg",
                             "exif-orientation/Landscape_1.jpg"};
    // The size rules that keep the source's size: source size, and 100 percent.
    for (int32_t rule : {kSizeSource, kSizePercent}) {
        settings.Bildsize = rule;
        for (const char* name : sources) {
            SCOPED_TRACE(name);
            const std::string source = test::kCorpus + "/" + name;
            Compressor::Outcome outcome;
            ASSERT_TRUE(Compress(source, dir / "out.jxl", "jxl", &outcome));
            EXPECT_EQ(outcome.kind, Compressor::Outcome::Kind::Written);
            const std::string bytes = ReadBytes(dir / "out.jxl");
            const std::optional<std::string> rebuilt = test::ReconstructedJpeg(bytes);
            ASSERT_TRUE(rebuilt);
            EXPECT_TRUE(*rebuilt == ReadBytes(source)) << "byte for byte";
            EXPECT_LT(bytes.size(), ReadBytes(source).size());
            EXPECT_EQ(OutputSize(dir / "out.jxl"), test::DecodedSize(source));  // its pixels decode too
        }
    }
}

TEST_F(OptionsTest, JpegSourcesNotRepackedWhenTheOutputWouldDiffer) {
    options.JpegVerlustfreiUmpacken = 1;
    options.MetadatenUebernehmen = 1;
    const std::string canon = test::kCorpus + "/cameras/canon-powershot-s330.jpg";  // 800x600, EXIF
    const std::string withGps = dir / "gps.jpg";
    const std::string landscape = test::kCorpus + "/exif-orientation/Landscape_1.jpg";
    WriteBytes(withGps, PhotoWithMetadata(landscape, kXmpPacket, landscape));
    struct Case {
        const char* what;
        std::string source;
        int32_t rule;
        int32_t keepMetadata;
        int32_t dropGps;
    } cases[] = {
        {"turned by its orientation", kOrientation6, kSizeSource, 1, 0},
        {"made smaller", canon, kSizeBox, 1, 0},
        {"metadata left out", canon, kSizeSource, 0, 1},
        {"GPS position to drop", withGps, kSizeSource, 1, 1},
        {"arithmetic coding the format cannot carry", test::kCorpus + "/generated/jpeg/arithmetic.jpg", kSizeSource, 1,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        settings.Bildsize = c.rule;
        options.MetadatenUebernehmen = c.keepMetadata;
        options.GpsEntfernen = c.dropGps;
        ASSERT_TRUE(Compress(c.source, dir / "out.jxl", "jxl"));
        const std::string bytes = ReadBytes(dir / "out.jxl");
        EXPECT_FALSE(test::ReconstructedJpeg(bytes));  // encoded from its pixels
        EXPECT_TRUE(OutputSize(dir / "out.jxl"));
        EXPECT_FALSE(ReadExif(dir / "out.jxl").gps);
    }
    // The repack with the position kept carries it as the source has it.
    options.GpsEntfernen = 0;
    settings.Bildsize = kSizeSource;
    ASSERT_TRUE(Compress(withGps, dir / "kept.jxl", "jxl"));
    EXPECT_EQ(test::ReconstructedJpeg(ReadBytes(dir / "kept.jxl")), ReadBytes(withGps));
    EXPECT_TRUE(ReadExif(dir / "kept.jxl").gps);
}

TEST_F(OptionsTest, RepackedJpegMeetsTheSizeRules) {
    options.JpegVerlustfreiUmpacken = 1;
    const std::string source = test::kCorpus + "/generated/jpeg/baseline-420.jpg";
    const uint64_t repacked = [&] {
        EXPECT_TRUE(Compress(source, dir / "plain.jxl", "jxl"));
        return ReadBytes(dir / "plain.jxl").size();
    }();
    // A limit the repack does not fit: the quality search over the pixels takes over.
    options.MaxKBAktiv = 1;
    options.MaxKB = int32_t(repacked / 1024);
    ASSERT_GT(options.MaxKB, 0);
    Compressor::Outcome outcome;
    ASSERT_TRUE(Compress(source, dir / "limited.jxl", "jxl", &outcome));
    EXPECT_LE(ReadBytes(dir / "limited.jxl").size(), uint64_t(options.MaxKB) * 1024);
    EXPECT_FALSE(test::ReconstructedJpeg(ReadBytes(dir / "limited.jxl")));
    // One it fits: the repack, counted as meeting it.
    options.MaxKB = int32_t(repacked / 1024 + 1);
    ASSERT_TRUE(Compress(source, dir / "fits.jxl", "jxl", &outcome));
    EXPECT_EQ(outcome.encodes, 1);
    EXPECT_TRUE(test::ReconstructedJpeg(ReadBytes(dir / "fits.jxl")));
    // Only when smaller: a tiny JPEG grows by the reconstruction data, and is skipped like any larger output.
    options.MaxKBAktiv = 0;
    options.NurWennKleiner = 1;
    ASSERT_TRUE(Compress(test::kCorpus + "/generated/jpeg/odd-size-17x13.jpg", dir / "tiny.jxl", "jxl", &outcome));
    EXPECT_EQ(outcome.kind, Compressor::Outcome::Kind::SkippedNotSmaller);
    EXPECT_FALSE(test::Exists(dir / "tiny.jxl"));
}

}  // namespace
}  // namespace qx::test
