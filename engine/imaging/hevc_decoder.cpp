// libavcodec's HEVC decoder for libheif, in place of libde265: the HEVC decode is nearly all of a HEIC
// file's time, and libavcodec's takes about two thirds of libde265's for the same pixels (HEVC decoding is
// exact, so the pixels do not change). libheif still reads the container, assembles grids, turns, mirrors and
// converts; only the coded pictures pass through here.
#include "engine/imaging/hevc_decoder.h"

#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

constexpr char kEmpty[] = "";

// `message` must outlive the error: libheif keeps only the pointer.
heif_error Error(heif_error_code code, heif_suberror_code subcode, const char* message = kEmpty) {
    return {code, subcode, message};
}
heif_error Ok() { return {heif_error_Ok, heif_suberror_Unspecified, kEmpty}; }

struct Decoder {
    // The coded pictures as one Annex B stream: libheif hands over NAL units with 4-byte lengths.
    std::vector<uint8_t> stream;
};

struct ContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

heif_error NewDecoder(void** decoder) {
    *decoder = new (std::nothrow) Decoder;
    return *decoder != nullptr ? Ok() : Error(heif_error_Memory_allocation_error, heif_suberror_Unspecified);
}

void FreeDecoder(void* decoder) { delete static_cast<Decoder*>(decoder); }

heif_error PushData(void* decoder, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t>& stream = static_cast<Decoder*>(decoder)->stream;
    static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
    try {
        for (size_t at = 0; at < size;) {
            if (size - at < 4) return Error(heif_error_Decoder_plugin_error, heif_suberror_End_of_data);
            const size_t length =
                size_t{bytes[at]} << 24 | size_t{bytes[at + 1]} << 16 | size_t{bytes[at + 2]} << 8 | bytes[at + 3];
            at += 4;
            if (length > size - at) return Error(heif_error_Decoder_plugin_error, heif_suberror_End_of_data);
            stream.insert(stream.end(), kStartCode, kStartCode + 4);
            stream.insert(stream.end(), bytes + at, bytes + at + length);
            at += length;
        }
    } catch (const std::bad_alloc&) {
        return Error(heif_error_Memory_allocation_error, heif_suberror_Unspecified);
    }
    return Ok();
}

// The decoded picture as libheif's planes, with the colour description its stream gives (libheif puts the
// container's in its place where there is one).
heif_error ToHeifImage(const AVFrame& frame, heif_image** out) {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (format == nullptr || (format->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0 ||
        format->comp[0].depth > 16 || frame.width <= 0 || frame.height <= 0)
        return Error(heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion);
    const bool grey = format->nb_components == 1;
    heif_chroma chroma = heif_chroma_monochrome;
    if (!grey) {
        if (format->log2_chroma_w == 1 && format->log2_chroma_h == 1)
            chroma = heif_chroma_420;
        else if (format->log2_chroma_w == 1 && format->log2_chroma_h == 0)
            chroma = heif_chroma_422;
        else if (format->log2_chroma_w == 0 && format->log2_chroma_h == 0)
            chroma = heif_chroma_444;
        else
            return Error(heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion);
    }
    heif_error result = heif_image_create(frame.width, frame.height,
                                          grey ? heif_colorspace_monochrome : heif_colorspace_YCbCr, chroma, out);
    if (result.code != heif_error_Ok) return result;
    const int depth = format->comp[0].depth;
    const size_t sampleBytes = depth > 8 ? 2 : 1;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int plane = 0; plane < (grey ? 1 : 3); ++plane) {
        const int shiftX = plane > 0 ? format->log2_chroma_w : 0, shiftY = plane > 0 ? format->log2_chroma_h : 0;
        const int width = -((-frame.width) >> shiftX), height = -((-frame.height) >> shiftY);
        result = heif_image_add_plane(*out, channels[plane], width, height, depth);
        if (result.code != heif_error_Ok) {
            heif_image_release(*out);
            *out = nullptr;
            return result;
        }
        int stride = 0;
        uint8_t* target = heif_image_get_plane(*out, channels[plane], &stride);
        for (int y = 0; y < height; ++y)
            std::memcpy(target + static_cast<size_t>(stride) * y,
                        frame.data[plane] + static_cast<ptrdiff_t>(frame.linesize[plane]) * y, width * sampleBytes);
    }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (nclx != nullptr) {
        heif_nclx_color_profile_set_color_primaries(nclx, static_cast<uint16_t>(frame.color_primaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, static_cast<uint16_t>(frame.color_trc));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, static_cast<uint16_t>(frame.colorspace));
        nclx->full_range_flag = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        heif_image_set_nclx_color_profile(*out, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    return Ok();
}

heif_error DecodeImage(void* decoder, heif_image** out) {
    *out = nullptr;
    std::vector<uint8_t>& stream = static_cast<Decoder*>(decoder)->stream;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (codec == nullptr) return Error(heif_error_Unsupported_feature, heif_suberror_Unsupported_codec);
    std::unique_ptr<AVCodecContext, ContextDeleter> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!context || !frame || !packet) return Error(heif_error_Memory_allocation_error, heif_suberror_Unspecified);
    // The batch decodes several files at once; threads inside one decode would only compete with them.
    context->thread_count = 1;
    // The largest image the program takes, with room for the coding blocks around it: a stream's own
    // parameter sets may claim any size, and the decoder sets up pictures of that size before it reads one.
    context->max_pixels = static_cast<int64_t>(kMaxPixels / 8 * 9);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return Error(heif_error_Decoder_plugin_error, heif_suberror_Unspecified);
    try {
        stream.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE);  // zeroed, as the decoder's reader wants
    } catch (const std::bad_alloc&) {
        return Error(heif_error_Memory_allocation_error, heif_suberror_Unspecified);
    }
    const size_t coded = stream.size() - AV_INPUT_BUFFER_PADDING_SIZE;
    if (coded > INT32_MAX)
        return Error(heif_error_Invalid_input, heif_suberror_Unspecified, "HEVC data larger than 2 GB");
    packet->data = stream.data();
    packet->size = static_cast<int>(coded);
    // Damaged pictures come as the decoder conceals them, as damaged JPEG files do; only a stream that gives no
    // picture at all fails.
    if (avcodec_send_packet(context.get(), packet.get()) < 0 || avcodec_send_packet(context.get(), nullptr) < 0)
        return Error(heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "HEVC data not decodable");
    // The first picture is the image; a stream of more holds nothing else an image item may show.
    if (avcodec_receive_frame(context.get(), frame.get()) < 0)
        return Error(heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "no picture in the HEVC data");
    return ToHeifImage(*frame, out);
}

int SupportsFormat(heif_compression_format format) {
    return format == heif_compression_HEVC ? 200 : 0;  // above libde265's 100
}

const char* PluginName() { return "libavcodec HEVC decoder"; }

void SetStrictDecoding(void*, int) {}

const heif_decoder_plugin kPlugin = {
    .plugin_api_version = 3,
    .get_plugin_name = PluginName,
    .init_plugin = nullptr,
    .deinit_plugin = nullptr,
    .does_support_format = SupportsFormat,
    .new_decoder = NewDecoder,
    .free_decoder = FreeDecoder,
    .push_data = PushData,
    .decode_image = DecodeImage,
    .set_strict_decoding = SetStrictDecoding,
    .id_name = "avcodec-hevc",
};

}  // namespace

void UseFastHevcDecoder(heif_context* context) {
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        // A broken file is reported as the file's failure; the decoder's own lines would only clutter the console.
        av_log_set_level(AV_LOG_QUIET);
    });
    // For this context only: other users of libheif in the process keep what they chose.
    if (avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr) heif_register_decoder(context, &kPlugin);
}

}  // namespace qx::imaging::detail
