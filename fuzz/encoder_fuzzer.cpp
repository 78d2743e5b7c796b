// Encoder fuzz target: pixels of odd sizes (1 to 97 a side), grey, RGB or RGBA with any alpha, at any
// quality and now and then with a colour profile, through the encoder of one output type of the codec table
// (the first byte picks it). An output of a format that is also read is decoded again and must have the size
// it was given. One bit of the input first takes the pixels through a 16-bit PNG and the PNG decoder, the way
// a 16-bit source reaches the encoders.
//
// Input: [type] [width] [height] [flags] [quality] [profile length, profile if flag 8] pixel bytes (repeated
// to fill the image). Flags: bits 0-1 channels (1, 3, 4, 4), bit 2 via 16-bit PNG, bit 3 a profile.
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/imaging/internal.h"

namespace {

using qx::imaging::Codec;
using qx::imaging::Error;
using qx::imaging::Failure;
using qx::imaging::detail::EncodeOptions;
using qx::imaging::detail::Pixels;
using qx::imaging::detail::SourceInfo;

struct Stream {
    char* buffer = nullptr;
    size_t size = 0;
    ~Stream() { std::free(buffer); }
};

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The codec's header read and decode of `bytes`; false when it refuses them.
bool DecodeWith(const Codec& codec, const char* bytes, size_t size, Pixels& out, std::vector<uint8_t>* icc) {
    File file(::fmemopen(const_cast<char*>(bytes), size, "rb"));
    if (!file) return false;
    SourceInfo info;
    info.codec = &codec;
    info.fileSize = static_cast<int64_t>(size);
    Error error;
    if (!codec.operations->readHeader(file.get(), info, error)) return false;
    std::rewind(file.get());
    return codec.operations->decode(file.get(), info, 1, out, icc, error);
}

// The pixels as 16-bit samples (each byte twice) in a PNG, decoded again by the PNG codec.
bool ThroughSixteenBitPng(Pixels& pixels, std::vector<uint8_t>& icc) {
    const Codec* png = qx::imaging::FindCodecByName("png");
    Stream stream;
    {
        File file(::open_memstream(&stream.buffer, &stream.size));
        if (!file) return false;
        std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
        spng_ihdr ihdr{};
        ihdr.width = pixels.width;
        ihdr.height = pixels.height;
        ihdr.bit_depth = 16;
        ihdr.color_type = pixels.channels == 4   ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA
                          : pixels.channels == 3 ? SPNG_COLOR_TYPE_TRUECOLOR
                                                 : SPNG_COLOR_TYPE_GRAYSCALE;
        std::vector<uint8_t> wide(pixels.Bytes() * 2);
        for (size_t i = 0; i < pixels.Bytes(); ++i) wide[2 * i] = wide[2 * i + 1] = pixels.data.get()[i];
        if (spng_set_png_file(ctx.get(), file.get()) || spng_set_ihdr(ctx.get(), &ihdr) ||
            spng_encode_image(ctx.get(), wide.data(), wide.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE)) {
            return false;
        }
    }
    Pixels decoded;
    if (!DecodeWith(*png, stream.buffer, stream.size, decoded, &icc)) __builtin_trap();  // our own file
    if (decoded.width != pixels.width || decoded.height != pixels.height) __builtin_trap();
    pixels = std::move(decoded);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return -1;
    std::vector<const Codec*> outputs;
    for (const Codec& codec : qx::imaging::Codecs()) {
        if (codec.outputType >= 0 && codec.operations->encode != nullptr) outputs.push_back(&codec);
    }
    const Codec& format = *outputs[data[0] % outputs.size()];
    const uint32_t width = 1 + data[1] % 97, height = 1 + data[2] % 97;
    const uint8_t flags = data[3];
    static constexpr int kChannels[] = {1, 3, 4, 4};
    EncodeOptions options;
    options.quality = data[4] % 101;
    size_t at = 5;
    std::vector<uint8_t> icc;
    if ((flags & 8) != 0 && at < size) {
        const size_t length = std::min<size_t>(size_t{data[at]} * 4, size - at - 1);
        icc.assign(data + at + 1, data + at + 1 + length);
        at += 1 + length;
    }

    Pixels pixels;
    if (!pixels.Allocate(width, height, kChannels[flags & 3])) return 0;
    for (size_t i = 0; i < pixels.Bytes(); ++i) pixels.data.get()[i] = at < size ? data[at + i % (size - at)] : 0;
    if ((flags & 4) != 0 && !ThroughSixteenBitPng(pixels, icc)) return 0;
    if (!icc.empty()) options.icc = &icc;

    Stream stream;
    Error error;
    bool encoded = false;
    {
        File file(::open_memstream(&stream.buffer, &stream.size));
        if (!file) return 0;
        encoded = format.operations->encode(file.get(), pixels, options, error);
    }
    // Every image a decoder can give has an output in every format; only memory may run short.
    if (!encoded && error.failure != Failure::OutOfMemory) {
        std::fprintf(stderr, "%s: %s\n", format.name, error.detail.c_str());
        __builtin_trap();
    }
    if (encoded && format.operations->decode != nullptr) {
        Pixels again;
        if (!DecodeWith(format, stream.buffer, stream.size, again, nullptr)) __builtin_trap();
        if (again.width != width || again.height != height) __builtin_trap();
    }
    return 0;
}
