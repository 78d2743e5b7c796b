// JPEG through libjpeg-turbo's libjpeg API: header, DCT-scaled decode with EXIF and ICC, encode.
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <jerror.h>

#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"
#include "engine/imaging/jpeg_coefficients.h"

namespace qx::imaging::detail {
namespace {

// A scan count far above any real progressive file; more scans are a decoding-time bomb.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];  // the library's own words for the error that ended the work
    // Warnings that tell a file cut short from one with junk in it: the library fills what is missing with
    // grey and goes on.
    bool endOfFile = false;    // the file ended before the image did
    bool dataLacking = false;  // the entropy decoder needed bits the file no longer had
    char endMessage[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    errors->message[0] = '\0';
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->jump, 1);
}

// Warnings are not fatal: junk before a marker or a bad Huffman code is common in camera files that show
// well. Only a premature end is noted, so that the decode can refuse a picture whose lower part is made up.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level != -1) return;
    ErrorManager* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF && !errors->endOfFile) {
        errors->endOfFile = true;
        (*cinfo->err->format_message)(cinfo, errors->endMessage);
    }
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) errors->dataLacking = true;
}
void OnOutput(j_common_ptr) {}

void InitErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.emit_message = OnMessage;
    errors.pub.output_message = OnOutput;
}

void OnProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        cinfo->err->error_exit(cinfo);
    }
}

// Owns a decompressor so that every exit, including the longjmp one, frees it.
struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    jpeg_progress_mgr progress{};
    volatile bool created = false;  // read after a longjmp
    ~Decompressor() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

int OrientationFromMarkers(j_decompress_ptr cinfo) {
    for (jpeg_saved_marker_ptr marker = cinfo->marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1) continue;
        const int orientation = ParseExifOrientation(marker->data, marker->data_length);
        if (orientation != 1 || (marker->data_length >= 6 && std::memcmp(marker->data, "Exif\0\0", 6) == 0))
            return orientation;
    }
    return 1;
}

// The first EXIF block and the first XMP packet among the saved APP1 markers.
void MetadataFromMarkers(j_decompress_ptr cinfo, SourceInfo& info) {
    for (jpeg_saved_marker_ptr marker = cinfo->marker_list; marker; marker = marker->next) {
        if (marker->marker != JPEG_APP0 + 1) continue;
        const uint8_t* data = marker->data;
        const size_t length = marker->data_length;
        if (info.exif.empty() && length > 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
            info.exif.assign(data + 6, data + length);
        } else if (info.xmp.empty() && length > kXmpJpegHeaderSize &&
                   std::memcmp(data, kXmpJpegHeader, kXmpJpegHeaderSize) == 0) {
            info.xmp.assign(data + kXmpJpegHeaderSize, data + length);
        }
    }
}

// One APP1 segment of `head` followed by `body`, when it fits a marker's 16-bit length.
void WriteApp1(j_compress_ptr cinfo, const uint8_t* head, size_t headSize, const std::vector<uint8_t>& body) {
    constexpr size_t kMaxPayload = 65533;
    if (body.empty() || headSize + body.size() > kMaxPayload) return;
    jpeg_write_m_header(cinfo, JPEG_APP0 + 1, static_cast<unsigned>(headSize + body.size()));
    for (size_t i = 0; i < headSize; ++i) jpeg_write_m_byte(cinfo, head[i]);
    for (uint8_t byte : body) jpeg_write_m_byte(cinfo, byte);
}

// Coefficient memory libjpeg keeps for a whole progressive image (2 bytes per coefficient).
uint64_t CoefficientBytes(j_decompress_ptr cinfo) {
    uint64_t bytes = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& comp = cinfo->comp_info[c];
        const uint64_t blocksWide =
            (uint64_t{cinfo->image_width} * comp.h_samp_factor + uint64_t(cinfo->max_h_samp_factor) * 8 - 1) /
            (uint64_t(cinfo->max_h_samp_factor) * 8);
        const uint64_t blocksHigh =
            (uint64_t{cinfo->image_height} * comp.v_samp_factor + uint64_t(cinfo->max_v_samp_factor) * 8 - 1) /
            (uint64_t(cinfo->max_v_samp_factor) * 8);
        bytes += (blocksWide + comp.h_samp_factor) * (blocksHigh + comp.v_samp_factor) * 64 * 2;
    }
    return bytes;
}

inline uint8_t Multiply255(unsigned a, unsigned b) {
    const unsigned t = a * b + 128;
    return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

bool Sniff(const uint8_t* head, size_t length) {
    return length >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    Decompressor d;
    InitErrors(d.errors);
    d.cinfo.err = &d.errors.pub;
    if (setjmp(d.errors.jump)) return Fail(error, Failure::BadHeader, d.errors.message);
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_stdio_src(&d.cinfo, file);
    jpeg_save_markers(&d.cinfo, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return Fail(error, Failure::BadHeader);
    const int components = d.cinfo.num_components;
    if (components != 1 && components != 3 && components != 4) {
        return Fail(error, Failure::BadHeader, std::to_string(components) + " components");
    }
    if (!HeaderSizeAllowed(d.cinfo.image_width, d.cinfo.image_height, error)) return false;
    info.width = d.cinfo.image_width;
    info.height = d.cinfo.image_height;
    info.channels = components == 1 ? 1 : 3;
    info.hasAlpha = false;
    info.orientation = OrientationFromMarkers(&d.cinfo);
    MetadataFromMarkers(&d.cinfo, info);
    info.workBytes = d.cinfo.progressive_mode || d.cinfo.arith_code ? CoefficientBytes(&d.cinfo) : 0;
    // Row buffers of the colour converter and upsampler: a few rows at full width.
    info.workBytes += uint64_t{d.cinfo.image_width} * 4 * 16;
    return true;
}

// The colour space to decode `components` into; JCS_UNKNOWN for a count the header check did not pass.
J_COLOR_SPACE OutputColourSpace(int components) {
    switch (components) {
        case 1: return JCS_GRAYSCALE;
        case 3: return JCS_RGB;
        case 4: return JCS_CMYK;  // YCCK is turned into CMYK by the library
        default: return JCS_UNKNOWN;
    }
}

void ReadIccProfile(j_decompress_ptr cinfo, bool cmyk, std::vector<uint8_t>& icc) {
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(cinfo, &profile, &length) && profile) {
        icc.assign(profile, profile + length);
        free(profile);
    }
    // A CMYK profile describes data we no longer have after the conversion to RGB.
    if (cmyk) icc.clear();
}

// Adobe writes CMYK inverted (255 = no ink), which is what nearly every CMYK JPEG in the wild is.
void CmykToRgb(const uint8_t* src, uint8_t* dst, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        unsigned c = src[0], m = src[1], yel = src[2], k = src[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            yel = 255 - yel;
            k = 255 - k;
        }
        dst[0] = Multiply255(c, k);
        dst[1] = Multiply255(m, k);
        dst[2] = Multiply255(yel, k);
    }
}

// Every row into `out`; a CMYK picture through `cmykRow`. Library errors jump to the caller's setjmp, so
// this frame holds nothing to destroy.
void ReadRows(j_decompress_ptr cinfo, Pixels& out, uint8_t* cmykRow) {
    while (cinfo->output_scanline < cinfo->output_height) {
        const uint32_t y = cinfo->output_scanline;
        JSAMPROW rows[1] = {cmykRow != nullptr ? cmykRow : out.Row(y)};
        jpeg_read_scanlines(cinfo, rows, 1);
        if (cmykRow != nullptr) CmykToRgb(cmykRow, out.Row(y), cinfo->output_width, cinfo->saw_Adobe_marker);
    }
}

bool Decode(FILE* file, const SourceInfo& info, unsigned denominator, Pixels& out, std::vector<uint8_t>* icc,
            Error& error) {
    Decompressor d;
    InitErrors(d.errors);
    d.cinfo.err = &d.errors.pub;
    std::unique_ptr<uint8_t[]> cmykRow;
    if (setjmp(d.errors.jump)) {
        out.Reset();
        return Fail(error, Failure::BrokenData, d.errors.message);
    }
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    d.progress.progress_monitor = OnProgress;
    d.cinfo.progress = &d.progress;
    jpeg_stdio_src(&d.cinfo, file);
    if (icc) jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK) return Fail(error, Failure::BrokenData);
    // The file may have changed since its header was read.
    if (d.cinfo.image_width != info.width || d.cinfo.image_height != info.height) {
        return Fail(error, Failure::SourceChanged);
    }
    const int components = d.cinfo.num_components;
    d.cinfo.out_color_space = OutputColourSpace(components);
    if (d.cinfo.out_color_space == JCS_UNKNOWN) return Fail(error, Failure::SourceChanged);
    const bool cmyk = components == 4;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = denominator;
    d.cinfo.dct_method = JDCT_ISLOW;
    d.cinfo.do_fancy_upsampling = TRUE;
    jpeg_calc_output_dimensions(&d.cinfo);
    if (!out.Allocate(d.cinfo.output_width, d.cinfo.output_height, cmyk ? 3 : components)) {
        return Fail(error, Failure::OutOfMemory);
    }
    if (icc) ReadIccProfile(&d.cinfo, cmyk, *icc);
    jpeg_start_decompress(&d.cinfo);
    if (cmyk) {
        cmykRow.reset(new (std::nothrow) uint8_t[size_t{d.cinfo.output_width} * 4]);
        if (!cmykRow) {
            jpeg_abort_decompress(&d.cinfo);
            out.Reset();
            return Fail(error, Failure::OutOfMemory);
        }
    }
    ReadRows(&d.cinfo, out, cmykRow.get());
    // A baseline file that lacks only its end marker still had every bit of its scan; a progressive one that
    // ends early misses scans, which the library does not flag as lacking data.
    if (d.errors.endOfFile && (d.errors.dataLacking || d.cinfo.progressive_mode)) {
        jpeg_abort_decompress(&d.cinfo);
        out.Reset();
        return Fail(error, Failure::Truncated, d.errors.endMessage);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

void SetChromaSampling(jpeg_compress_struct& cinfo, bool fullChroma) {
    const int sampling = fullChroma ? 1 : 2;
    cinfo.comp_info[0].h_samp_factor = sampling;
    cinfo.comp_info[0].v_samp_factor = sampling;
    cinfo.comp_info[1].h_samp_factor = cinfo.comp_info[1].v_samp_factor = 1;
    cinfo.comp_info[2].h_samp_factor = cinfo.comp_info[2].v_samp_factor = 1;
}

// EXIF, the colour profile where it fits the picture's colours, XMP: in the order camera files have them.
void WriteMetadata(j_compress_ptr cinfo, const EncodeOptions& options, bool grey) {
    if (options.exif != nullptr) {
        static constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
        WriteApp1(cinfo, kExifHeader, sizeof kExifHeader, *options.exif);
    }
    if (options.icc != nullptr) {
        const std::vector<uint8_t>& icc = *options.icc;
        if (!icc.empty() && IccColourSpace(icc) == (grey ? "GRAY" : "RGB ") && icc.size() < (1u << 24))
            jpeg_write_icc_profile(cinfo, icc.data(), static_cast<unsigned>(icc.size()));
    }
    if (options.xmp != nullptr) {
        WriteApp1(cinfo, reinterpret_cast<const uint8_t*>(kXmpJpegHeader), kXmpJpegHeaderSize, *options.xmp);
    }
}

// The coded file in memory, so that two codings of the same coefficients can be compared.
struct MemoryDestination {
    jpeg_destination_mgr pub{};
    std::vector<uint8_t> bytes;

    explicit MemoryDestination(j_compress_ptr cinfo) {
        pub.init_destination = Start;
        pub.empty_output_buffer = Grow;
        pub.term_destination = Finish;
        cinfo->dest = &pub;
    }
    static MemoryDestination& Of(j_compress_ptr cinfo) { return *reinterpret_cast<MemoryDestination*>(cinfo->dest); }
    static void Start(j_compress_ptr cinfo) { Resize(cinfo, 64 * 1024, 0); }
    static boolean Grow(j_compress_ptr cinfo) {
        const size_t used = Of(cinfo).bytes.size();
        Resize(cinfo, used * 2, used);
        return TRUE;
    }
    static void Finish(j_compress_ptr cinfo) {
        MemoryDestination& d = Of(cinfo);
        d.bytes.resize(d.bytes.size() - d.pub.free_in_buffer);
    }
    // Errors leave through the library's error exit, never as an exception through its frames.
    static void Resize(j_compress_ptr cinfo, size_t size, size_t used) {
        MemoryDestination& d = Of(cinfo);
        bool grown = true;
        try {
            d.bytes.resize(size);
        } catch (const std::bad_alloc&) {
            grown = false;
        }
        if (!grown) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        d.pub.next_output_byte = d.bytes.data() + used;
        d.pub.free_in_buffer = size - used;
    }
};

// Both scan modes are tried up to this size: progressive scans win on detailed pictures and lose some hundred
// bytes of scan headers on smooth ones, which counts only for small files.
constexpr uint64_t kBothScanModesUpTo = 4'000'000;

// The progressive scans: the DCs together; the luma's two lowest frequencies and its next seven in full; the
// chroma's two lowest and the rest in full; the luma's highest band in two halves of precision, the coarse one
// before the chroma. libjpeg's own script splits every band so, which costs more than it saves below the top
// qualities: at their own size, 10 camera photos took 4.1 / 0.4 / 0.5 % fewer bytes at Rate 60 / 80 / 90 with
// these scans, and the benchmark photos at 640x480, smaller of baseline and progressive, 0.7 / 0.7 / 0.0 %.
constexpr jpeg_scan_info kColourScans[] = {
    {3, {0, 1, 2, 0}, 0, 0, 0, 0}, {1, {0}, 1, 2, 0, 0},  {1, {0}, 3, 9, 0, 0},
    {1, {0}, 10, 63, 0, 1},        {1, {1}, 1, 2, 0, 0},  {1, {1}, 3, 63, 0, 0},
    {1, {2}, 1, 2, 0, 0},          {1, {2}, 3, 63, 0, 0}, {1, {0}, 10, 63, 1, 0},
};
constexpr jpeg_scan_info kGreyScans[] = {
    {1, {0}, 0, 0, 0, 0}, {1, {0}, 1, 2, 0, 0}, {1, {0}, 3, 9, 0, 0}, {1, {0}, 10, 63, 0, 1}, {1, {0}, 10, 63, 1, 0}};

// One coding of the picture; the library's errors jump to the caller's setjmp.
struct Coder {
    jpeg_compress_struct cinfo{};
    std::optional<MemoryDestination> destination;
    jvirt_barray_ptr* arrays = nullptr;
    bool created = false;
    ~Coder() {
        if (created) jpeg_destroy_compress(&cinfo);
    }

    // Up to the coefficients: the frame, the tables, the file's first markers.
    void Start(ErrorManager& errors, const Pixels& pixels, const EncodeOptions& options, bool progressive,
               std::optional<bool>& fullChroma) {
        cinfo.err = &errors.pub;
        jpeg_create_compress(&cinfo);
        created = true;
        destination.emplace(&cinfo);
        cinfo.image_width = pixels.width;
        cinfo.image_height = pixels.height;
        const bool grey = pixels.channels == 1;
        cinfo.input_components = grey ? 1 : 3;
        cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_set_defaults(&cinfo);
        // Kept EXIF goes right after SOI, where camera files have it: a few makers' notes count their offsets
        // from the start of the file, and a JFIF segment before the EXIF would move them.
        if (options.exif != nullptr && !options.exif->empty()) cinfo.write_JFIF_header = FALSE;
        jpeg_set_quality(&cinfo, options.quality, TRUE);
        cinfo.optimize_coding = TRUE;
        if (!grey) {
            if (!fullChroma) fullChroma = NeedsFullChroma(pixels, *cinfo.quant_tbl_ptrs[1]);
            SetChromaSampling(cinfo, *fullChroma);
        }
        if (progressive) {
            cinfo.scan_info = grey ? kGreyScans : kColourScans;
            cinfo.num_scans = static_cast<int>(grey ? std::size(kGreyScans) : std::size(kColourScans));
        }
        arrays = RequestCoefficientArrays(&cinfo);
        jpeg_write_coefficients(&cinfo, arrays);
        WriteMetadata(&cinfo, options, grey);
    }
};

// Our own front half makes the coefficients (jpeg_coefficients.cpp); the library codes them with optimised
// Huffman tables, progressive or baseline, whichever is smaller, or baseline alone when asked for decoders that
// know no other.
bool Encode(FILE* file, const Pixels& pixels, const EncodeOptions& options, Error& error) {
    ErrorManager errors{};
    InitErrors(errors);
    Coder first, second;
    std::optional<bool> fullChroma;
    if (setjmp(errors.jump)) return Fail(error, Failure::EncodeFailed, errors.message);
    first.Start(errors, pixels, options, !options.baseline, fullChroma);
    FillCoefficients(&first.cinfo, first.arrays, pixels);
    const bool tryBaseline = !options.baseline && uint64_t{pixels.width} * pixels.height <= kBothScanModesUpTo;
    if (tryBaseline) {
        second.Start(errors, pixels, options, false, fullChroma);
        CopyCoefficients(&first.cinfo, first.arrays, &second.cinfo, second.arrays);
        jpeg_finish_compress(&second.cinfo);
    }
    jpeg_finish_compress(&first.cinfo);
    const std::vector<uint8_t>& progressive = first.destination->bytes;
    const std::vector<uint8_t>* smaller = &progressive;
    if (tryBaseline && second.destination->bytes.size() < progressive.size()) smaller = &second.destination->bytes;
    if (std::fwrite(smaller->data(), 1, smaller->size(), file) != smaller->size())
        return Fail(error, Failure::EncodeFailed, std::strerror(errno));
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kJpegOperations;
const CodecOperations kJpegOperations = {Sniff, ReadHeader, Decode, ReductionLeavingRoom, Encode};

}  // namespace qx::imaging::detail
