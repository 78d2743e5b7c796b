// HEIC/HEIF input through libheif (HEVC through libde265): the primary image, grids assembled, turned and
// mirrored as the container says, at 8 bits, with its alpha, colour profile, EXIF and XMP. Not written.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <libheif/heif.h>

#include "engine/imaging/hevc_boxes.h"
#include "engine/imaging/hevc_decoder.h"
#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

// No real EXIF or XMP block comes near this; larger ones are not read into memory.
constexpr size_t kMetadataLimit = 16u << 20;

bool Sniff(const uint8_t* head, size_t length) {
    // An AVIF file is a HEIF file too, but its own row reads it.
    if (HasFileTypeBrand(head, length, "avif") || HasFileTypeBrand(head, length, "avis")) return false;
    for (const char* brand : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"}) {
        if (HasFileTypeBrand(head, length, brand)) return true;
    }
    return false;
}

// libheif reads through this from the open file, so that a header read takes only the boxes it needs.
struct FileReader {
    FILE* file = nullptr;
    int64_t size = 0;
};

const heif_reader kReader = {
    1,
    [](void* reader) -> int64_t { return std::ftell(static_cast<FileReader*>(reader)->file); },
    [](void* data, size_t size, void* reader) -> int {
        return std::fread(data, 1, size, static_cast<FileReader*>(reader)->file) == size ? 0 : 1;
    },
    [](int64_t position, void* reader) -> int {
        return std::fseek(static_cast<FileReader*>(reader)->file, static_cast<long>(position), SEEK_SET);
    },
    [](int64_t target, void* reader) {
        return target <= static_cast<FileReader*>(reader)->size ? heif_reader_grow_status_size_reached
                                                                : heif_reader_grow_status_size_beyond_eof;
    },
};

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

bool Failed(Error& error, Failure failure, const heif_error& result) {
    if (result.code == heif_error_Memory_allocation_error) failure = Failure::OutOfMemory;
    if (result.subcode == heif_suberror_End_of_data) failure = Failure::Truncated;
    if (result.subcode == heif_suberror_Security_limit_exceeded) failure = Failure::TooLarge;
    std::string detail = result.message;
    // Some of libheif's messages end in a line break; the reason is shown on one line.
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' ')) detail.pop_back();
    return Fail(error, failure, detail);
}

// The open file's primary image. The reader and context must outlive the handle.
struct Primary {
    FileReader reader;
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle;

    // `longestSide`: libheif refuses images, grid and overlay canvases included, with a longer side.
    bool Open(FILE* file, uint32_t longestSide, Error& error) {
        if (std::fseek(file, 0, SEEK_END) != 0 || (reader.size = std::ftell(file)) < 0 ||
            std::fseek(file, 0, SEEK_SET) != 0)
            return Fail(error, Failure::OpenFailed, ErrnoText(errno));
        reader.file = file;
        context.reset(heif_context_alloc());
        if (!context) return Fail(error, Failure::OutOfMemory);
        UseFastHevcDecoder(context.get());
        heif_context_set_maximum_image_size_limit(context.get(), static_cast<int>(longestSide));
        heif_error result = heif_context_read_from_reader(context.get(), &kReader, &reader, nullptr);
        if (result.code != heif_error_Ok) return Failed(error, Failure::BadHeader, result);
        heif_image_handle* primary = nullptr;
        result = heif_context_get_primary_image_handle(context.get(), &primary);
        handle.reset(primary);
        if (result.code != heif_error_Ok) return Failed(error, Failure::BadHeader, result);
        // Only a file libheif could parse is read again (its reasons are the better ones), and where libheif
        // left the file.
        CodedSize coded;
        const long position = std::ftell(file);
        if (!LargestCodedPicture(file, reader.size, coded) || std::fseek(file, position, SEEK_SET) != 0)
            return Fail(error, Failure::BadHeader, "unreadable HEVC configuration");
        if (uint64_t{coded.width} * coded.height > MostCodedPixels(Width(), Height()))
            return Fail(error, Failure::BadHeader, "coded picture larger than the image");
        return true;
    }
    // Sides as shown: libheif turns and mirrors while decoding.
    uint32_t Width() const { return static_cast<uint32_t>(std::max(heif_image_handle_get_width(handle.get()), 0)); }
    uint32_t Height() const { return static_cast<uint32_t>(std::max(heif_image_handle_get_height(handle.get()), 0)); }
};

std::vector<uint8_t> MetadataBlock(heif_image_handle* handle, heif_item_id id) {
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > kMetadataLimit) return {};
    std::vector<uint8_t> block(size);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) return {};
    return block;
}

// EXIF and XMP items of the image. A broken one is left out: the picture is still worth having.
void ReadMetadata(heif_image_handle* handle, SourceInfo& info) {
    heif_item_id ids[16];
    const int count = heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids, 16);
    for (int i = 0; i < count; ++i) {
        const std::string type = heif_image_handle_get_metadata_type(handle, ids[i]);
        const std::string content = heif_image_handle_get_metadata_content_type(handle, ids[i]);
        if (type == "Exif" && info.exif.empty()) {
            const std::vector<uint8_t> block = MetadataBlock(handle, ids[i]);
            info.exif = TiffFromExifBlock(block.data(), block.size());
        } else if (type == "mime" && content == "application/rdf+xml" && info.xmp.empty()) {
            info.xmp = MetadataBlock(handle, ids[i]);
        }
    }
}

bool ReadHeader(FILE* file, SourceInfo& info, Error& error) {
    Primary primary;
    if (!primary.Open(file, kMaxDimension, error)) return false;
    if (!HeaderSizeAllowed(primary.Width(), primary.Height(), error)) return false;
    info.width = primary.Width();
    info.height = primary.Height();
    info.hasAlpha = heif_image_handle_has_alpha_channel(primary.handle.get()) != 0;
    info.channels = info.hasAlpha ? 4 : 3;
    // The pixels come upright: an EXIF orientation beside the container's transform is only a copy of it.
    info.orientation = 1;
    ReadMetadata(primary.handle.get(), info);
    // The coded data, the HEVC decoder's planes (16-bit samples above 8 bits, a full plane per grid) and
    // libheif's interleaved copy before ours.
    info.workBytes =
        static_cast<uint64_t>(std::max<int64_t>(primary.reader.size, 0)) + uint64_t{info.width} * info.height * 16;
    return true;
}

void ReadProfile(heif_image_handle* handle, std::vector<uint8_t>& icc) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return;
    icc.resize(heif_image_handle_get_raw_color_profile_size(handle));
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok) icc.clear();
}

// HEIF has no reduced decode: `denominator` is always 1.
bool Decode(FILE* file, const SourceInfo& info, unsigned, Pixels& out, std::vector<uint8_t>* icc, Error& error) {
    // Every image the decode assembles (the primary's grid or overlay, its alpha) lies within the primary's
    // canvas; a derived image declaring a larger one would have libheif allocate it before anything else.
    Primary primary;
    if (!primary.Open(file, std::max(info.width, info.height) + kMostCodingBlock, error)) return false;
    if (primary.Width() != info.width || primary.Height() != info.height ||
        (heif_image_handle_has_alpha_channel(primary.handle.get()) != 0) != info.hasAlpha)
        return Fail(error, Failure::SourceChanged);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options) return Fail(error, Failure::OutOfMemory);
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error result =
        heif_decode_image(primary.handle.get(), &decoded, heif_colorspace_RGB,
                          info.hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
    if (result.code != heif_error_Ok) return Failed(error, Failure::BrokenData, result);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || heif_image_get_width(image.get(), heif_channel_interleaved) != int64_t{info.width} ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != int64_t{info.height})
        return Fail(error, Failure::BrokenData, "decoded image differs from its header");
    if (!out.Allocate(info.width, info.height, info.channels)) return Fail(error, Failure::OutOfMemory);
    for (uint32_t y = 0; y < info.height; ++y)
        std::memcpy(out.Row(y), plane + static_cast<size_t>(stride) * y, out.Stride());
    if (icc != nullptr) ReadProfile(primary.handle.get(), *icc);
    return true;
}

}  // namespace

// Its row of the codec table (codecs.cpp) points here.
extern const CodecOperations kHeifOperations;
const CodecOperations kHeifOperations = {Sniff, ReadHeader, Decode, nullptr, nullptr};

}  // namespace qx::imaging::detail
