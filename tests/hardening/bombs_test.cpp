// Decompression bombs: headers that claim 100000 x 100000 pixels and more are refused by the header read,
// before any pixel memory is taken, in every format; a well-formed image whose pixels do not fit the memory
// the process may have fails with a message instead of taking the process down.
#include <zlib.h>

#include "engine/compress.h"
#include "engine/memory_budget.h"
#include "hardening_support.h"
#include "intake/intake.h"
#include "res/strings.h"
#include "support/message_recorder.h"

namespace qx::test {
namespace {

std::string LittleEndian32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string LittleEndian16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

std::string Deflate(const std::string& raw) {
    uLongf size = ::compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    ::compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
                static_cast<uLong>(raw.size()), 1);
    packed.resize(size);
    return packed;
}

// A PNG header of width x height (8-bit, colour type `colourType`) with `idat` as its compressed data.
std::string Png(uint32_t width, uint32_t height, char colourType, const std::string& idat) {
    const std::string ihdr = "IHDR" + BigEndian32(width) + BigEndian32(height) + std::string{8, colourType, 0, 0, 0};
    return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk(ihdr) + PngChunk("IDAT" + idat) + PngChunk("IEND");
}

// A BMP with a BITMAPINFOHEADER of width x height (negative: top-down) and a few bytes of pixel data.
std::string Bmp(int32_t width, int32_t height, uint16_t bitCount, uint32_t compression) {
    const uint32_t paletteBytes = bitCount <= 8 ? 4u << bitCount : 0;
    const uint32_t offset = 14 + 40 + paletteBytes;
    std::string pixels = compression == 1 ? std::string("\x00\x01", 2) : std::string(64, '\x55');  // RLE: end of bitmap
    std::string bmp = "BM" + LittleEndian32(offset + static_cast<uint32_t>(pixels.size())) + LittleEndian32(0) +
                      LittleEndian32(offset);
    bmp += LittleEndian32(40) + LittleEndian32(static_cast<uint32_t>(width)) +
           LittleEndian32(static_cast<uint32_t>(height)) + LittleEndian16(1) + LittleEndian16(bitCount) +
           LittleEndian32(compression) + LittleEndian32(0) + LittleEndian32(2835) + LittleEndian32(2835) +
           LittleEndian32(0) + LittleEndian32(0);
    bmp += std::string(paletteBytes, '\x7f');
    return bmp + pixels;
}

// A real JPEG whose frame header is made to claim width x height; its scan is that of a 16 x 16 image.
std::string Jpeg(const ScratchDir& scratch, uint16_t width, uint16_t height) {
    const std::string small = scratch / "small.jpg";
    WriteImage(small, 16, 16);
    std::string bytes = ReadBytes(small);
    for (size_t i = 2; i + 9 < bytes.size(); ++i) {
        const unsigned char marker = static_cast<unsigned char>(bytes[i + 1]);
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)) {
            bytes[i + 5] = static_cast<char>(height >> 8);
            bytes[i + 6] = static_cast<char>(height);
            bytes[i + 7] = static_cast<char>(width >> 8);
            bytes[i + 8] = static_cast<char>(width);
            return bytes;
        }
    }
    ADD_FAILURE() << "no frame header in the JPEG";
    return bytes;
}

struct Bomb {
    std::string name;
    std::string bytes;
};

std::vector<Bomb> HeaderBombs(const ScratchDir& scratch) {
    const std::string someData = Deflate(std::string(4096, '\0'));
    return {
        {"jpeg-65535x65535.jpg", Jpeg(scratch, 65535, 65535)},
        {"jpeg-65500x65500.jpg", Jpeg(scratch, 65500, 65500)},
        {"jpeg-65535x4097.jpg", Jpeg(scratch, 65535, 4097)},  // just above the pixel limit
        {"png-100000x100000.png", Png(100000, 100000, 6, someData)},
        {"png-2147483647x2147483647.png", Png(0x7FFFFFFF, 0x7FFFFFFF, 6, someData)},
        {"png-1x2147483647.png", Png(1, 0x7FFFFFFF, 0, someData)},
        {"png-4294967295x1.png", Png(0xFFFFFFFF, 1, 2, someData)},
        {"png-16385x16385.png", Png(16385, 16385, 2, someData)},
        {"bmp-100000x100000.bmp", Bmp(100000, 100000, 24, 0)},
        {"bmp-100000x-100000.bmp", Bmp(100000, -100000, 32, 0)},
        {"bmp-2147483647x2147483647.bmp", Bmp(0x7FFFFFFF, 0x7FFFFFFF, 24, 0)},
        {"bmp-rle8-100000x100000.bmp", Bmp(100000, 100000, 8, 1)},
        {"bmp-rle4-1000000x1000000.bmp", Bmp(1000000, 1000000, 4, 2)},
        {"bmp-1bit-1x2147483647.bmp", Bmp(1, 0x7FFFFFFF, 1, 0)},
        {"bmp-min-height.bmp", Bmp(100000, INT32_MIN, 24, 0)},
    };
}

TEST(DecompressionBombs, HeadersClaimingHugeSizesAreRefusedByTheHeaderRead) {
    ScratchDir scratch;
    for (const Bomb& bomb : HeaderBombs(scratch)) {
        SCOPED_TRACE(bomb.name);
        const std::string path = scratch / bomb.name;
        WriteBytes(path, bomb.bytes);
        // FromFile reads the header alone: refusing here means no pixel memory was ever asked for.
        EXPECT_EQ(imaging::Bitmap::FromFile(path), nullptr);
        uint32_t width = 0, height = 0;
        EXPECT_FALSE(ProbeImageSize(path, width, height));

        MessageRecorder messages;
        MainSettings settings;                   // as the source
        MemoryBudget budget(uint64_t{1} << 20);  // a refusal must not wait for memory
        Compressor compressor(settings, messages, budget);
        EXPECT_FALSE(compressor.CompressFile(path, scratch / "out.jpg", CodecNamed("jpg")));
        EXPECT_EQ(messages.messages(), std::vector<std::string>{res::FormatString(res::IDS_NOT_AN_IMAGE, path)});
        EXPECT_FALSE(Exists(scratch / "out.jpg"));
        EXPECT_EQ(budget.PeakInUse(), 0u);
    }
}

// The same files given to quendrix-batch with an address space far below what any of them claims: the
// process refuses them (the intake does not take them) and ends normally.
TEST(DecompressionBombs, TheProgramRefusesThemWithLittleMemory) {
    ScratchDir scratch;
    MakeDir(scratch / "bombs");
    for (const Bomb& bomb : HeaderBombs(scratch)) WriteBytes(scratch / "bombs/" + bomb.name, bomb.bytes);
    WriteImage(scratch / "bombs/real.jpg", 300, 200);
    const std::string settings = scratch / "quendrix.ini";
    WriteBytes(settings, "[Allg]\nBildsize=2\n");
    for (const char* threads : {"0", "8"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        RunOptions options;
        if (!kSanitized) options.addressSpaceLimit = uint64_t{512} << 20;
        const std::string target = scratch / (std::string("out") + threads);
        const RunResult run =
            RunBatchProgram(settings, {"--target-folder", target, "--threads", threads, scratch / "bombs"}, options);
        EXPECT_TRUE(run.Exited(0)) << Describe(run);
        EXPECT_EQ(Tree(target), std::vector<std::string>{"real.jpg"});
    }
}

// A well-formed PNG inside the pixel limit (16384 x 16384 grey, 256 MiB of pixels from a few hundred KB
// of zlib data) is no header bomb, but it cannot be decoded in a small address space: the failure comes as
// a message, the other files are written, and nothing is left under the target name.
TEST(DecompressionBombs, PixelsThatDoNotFitFailWithAMessage) {
    if (kSanitized) GTEST_SKIP() << "address-space limits do not work with sanitizer shadow memory";
    ScratchDir scratch;
    MakeDir(scratch / "in");
    constexpr uint32_t kSide = 16384;
    std::string raw;
    raw.reserve((kSide + 1) * size_t{kSide});
    for (uint32_t y = 0; y < kSide; ++y) {
        raw.push_back('\0');  // filter type none
        raw.append(kSide, static_cast<char>(y & 0xFF));
    }
    const std::string bomb = scratch / "in/a-bomb.png";
    WriteBytes(bomb, Png(kSide, kSide, 0, Deflate(raw)));
    raw.clear();
    raw.shrink_to_fit();
    WriteImage(scratch / "in/b-real.jpg", 300, 200);
    const std::string settings = scratch / "quendrix.ini";
    WriteBytes(settings, "[Allg]\n");
    for (const char* threads : {"0", "4"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        const std::string target = scratch / (std::string("out") + threads);
        RunOptions options;
        options.addressSpaceLimit = uint64_t{200} << 20;
        // Without threads the failing file ends the batch, so the bomb comes last in the list there.
        const std::vector<std::string> files = std::string(threads) == "0"
                                                   ? std::vector<std::string>{scratch / "in/b-real.jpg", bomb}
                                                   : std::vector<std::string>{bomb, scratch / "in/b-real.jpg"};
        std::vector<std::string> args = {"--target-folder", target,        "--threads", threads,
                                         "--size",          "box:640x480", "--"};
        args.insert(args.end(), files.begin(), files.end());
        const RunResult run = RunBatchProgram(settings, args, options);
        EXPECT_TRUE(run.Exited(1)) << Describe(run);
        const bool notAnImage = run.err == res::FormatString(res::IDS_NOT_AN_IMAGE, bomb) + "\n";
        const bool saveFailed = run.err == res::FormatString(res::IDS_SAVE_FAILED, target + "/a-bomb.jpg") + "\n";
        EXPECT_TRUE(notAnImage || saveFailed) << run.err;
        EXPECT_EQ(Tree(target), std::vector<std::string>{"b-real.jpg"});
    }
}

}  // namespace
}  // namespace qx::test
