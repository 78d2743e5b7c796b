// Bitmaps (lazy decoding from files, blank ARGB surfaces), scaled drawing and atomic saving.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "engine/file_io.h"
#include "engine/imaging/imaging.h"
#include "engine/imaging/internal.h"

namespace qx::imaging {

// 256 megapixels: above any camera sensor (the largest take about 150), and at 4 bytes per pixel 1 GiB, the
// most one image may take on a desktop that runs several at once. Headers claiming more are refused before
// any pixel memory is allocated.
const uint64_t kMaxPixels = uint64_t{1} << 28;

using detail::Fail;
using detail::Pixels;
using detail::SourceInfo;

struct Bitmap::Impl {
    std::string path;  // empty for bitmaps made in memory
    SourceInfo info;
    dev_t device = 0;
    ino_t inode = 0;
    uint32_t width = 0;  // as shown
    uint32_t height = 0;
    Pixels pixels;         // decoded (orientation applied) or drawn
    bool blank = false;    // a new surface not drawn on yet: fully transparent
    bool broken = false;   // a decode failed once; it would fail again
    bool drawnOn = false;  // its pixels are no longer the file's
    Error failure;         // why it failed
    std::vector<uint8_t> icc;
    std::vector<uint8_t> exif;  // the source's EXIF (TIFF structure) and XMP packet, carried into drawings
    std::vector<uint8_t> xmp;
};

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Only regular files are read. O_NONBLOCK keeps the open itself from waiting on a named pipe or a device
// put where an image was; the status check then refuses it.
File OpenForReading(const std::string& path, struct stat& status, Error& error) {
    const int fd = files::OpenRegularFile(path, status);
    if (fd < 0) {
        if (errno == EINVAL) {
            Fail(error, Failure::NotAFile);
        } else {
            Fail(error, Failure::OpenFailed, detail::ErrnoText(errno));
        }
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        Fail(error, Failure::OpenFailed, detail::ErrnoText(errno));
        ::close(fd);
        return nullptr;
    }
    // The decoders ask for a few KB at a time; a larger buffer saves most of the system calls.
    std::setvbuf(file, nullptr, _IOFBF, size_t{1} << 16);
    return File(file);
}

// The codec by the file's first bytes, then its header.
bool ReadInfo(FILE* file, SourceInfo& info, Error& error) {
    uint8_t head[detail::CodecOperations::kSniffBytes];
    const size_t got = std::fread(head, 1, sizeof head, file);
    info.codec = detail::SniffCodec(head, got);
    if (info.codec == nullptr) return Fail(error, Failure::UnknownFormat);
    if (std::fseek(file, 0, SEEK_SET) != 0) return Fail(error, Failure::OpenFailed, detail::ErrnoText(errno));
    return info.codec->operations->readHeader(file, info, error);
}

// Decodes the file as stored (before orientation), at 1/denominator where its codec decodes reduced.
bool DecodeStored(Bitmap::Impl& impl, unsigned denominator, Pixels& out, Error& error) {
    struct stat status {};
    File file = OpenForReading(impl.path, status, error);
    if (!file) return false;
    // A file replaced since its header was read would not match what was measured.
    if (status.st_dev != impl.device || status.st_ino != impl.inode) return Fail(error, Failure::SourceChanged);
    impl.icc.clear();
    return impl.info.codec->operations->decode(file.get(), impl.info, denominator, out, &impl.icc, error);
}

bool SwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

unsigned DenominatorFor(const Bitmap::Impl& impl, uint32_t width, uint32_t height) {
    const auto scale = impl.info.codec->operations->scaleDenominator;
    if (scale == nullptr) return 1;
    const bool swap = SwapsSides(impl.info.orientation);
    return scale(impl.info.width, impl.info.height, swap ? height : width, swap ? width : height);
}

bool MakeOpaqueRgba(Pixels& pixels, uint32_t width, uint32_t height, bool blank) {
    if (blank) {
        if (!pixels.Allocate(width, height, 4)) return false;
        std::memset(pixels.data.get(), 0, pixels.Bytes());
        return true;
    }
    if (pixels.channels == 4) return true;
    Pixels rgba;
    if (!rgba.Allocate(pixels.width, pixels.height, 4)) return false;
    const size_t count = size_t{pixels.width} * pixels.height;
    const uint8_t* s = pixels.data.get();
    uint8_t* d = rgba.data.get();
    for (size_t i = 0; i < count; ++i, d += 4) {
        if (pixels.channels == 1) {
            d[0] = d[1] = d[2] = *s++;
        } else {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            s += 3;
        }
        d[3] = 255;
    }
    pixels = std::move(rgba);
    return true;
}

// Source over destination, straight alpha, clipped to the destination.
void Composite(const Pixels& src, int x0, int y0, Pixels& dst) {
    const int64_t left = std::max<int64_t>(x0, 0), top = std::max<int64_t>(y0, 0);
    const int64_t right = std::min<int64_t>(int64_t{x0} + src.width, dst.width);
    const int64_t bottom = std::min<int64_t>(int64_t{y0} + src.height, dst.height);
    for (int64_t y = top; y < bottom; ++y) {
        const uint8_t* s = src.Row(static_cast<uint32_t>(y - y0)) + (left - x0) * src.channels;
        uint8_t* d = dst.Row(static_cast<uint32_t>(y)) + left * 4;
        for (int64_t x = left; x < right; ++x, s += src.channels, d += 4) {
            uint8_t rgb[3];
            if (src.channels == 1)
                rgb[0] = rgb[1] = rgb[2] = s[0];
            else
                std::memcpy(rgb, s, 3);
            const unsigned sa = src.channels == 4 ? s[3] : 255;
            if (sa == 255) {
                std::memcpy(d, rgb, 3);
                d[3] = 255;
                continue;
            }
            if (sa == 0) continue;
            const unsigned da = d[3] * (255 - sa) / 255;  // what shows through
            const unsigned outA = sa + da;
            for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((rgb[c] * sa + d[c] * da + outA / 2) / outA);
            d[3] = static_cast<uint8_t>(outA);
        }
    }
}

}  // namespace

namespace detail {

// Writes through `encode` into a new file beside `path` and renames it over `path` only when it is complete
// and on disk; on any failure the new file is removed and whatever was at `path` stays as it was.
bool WriteFileAtomically(const std::string& path, const std::function<bool(FILE*, Error&)>& encode, Error& error) {
    if (path.empty() || path.back() == '/') return Fail(error, Failure::CreateFailed, detail::ErrnoText(EISDIR));
    bool written = false;
    bool encoded = false;
    const bool replaced = files::ReplaceFileAtomically(path, [&](int fd) {
        written = true;
        // A stream of its own over a copy of the descriptor: the replacement syncs and closes the original.
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return Fail(error, Failure::CreateFailed, detail::ErrnoText(errno));
        FILE* file = ::fdopen(copy, "wb");
        if (!file) {
            Fail(error, Failure::CreateFailed, detail::ErrnoText(errno));
            ::close(copy);
            return false;
        }
        bool ok = false;
        try {
            ok = encode(file, error);
        } catch (...) {
            ok = Fail(error, Failure::OutOfMemory);
        }
        // The system's words for a failed write say more than an encoder's guess at the cause.
        if (!ok && std::ferror(file)) Fail(error, Failure::WriteFailed, detail::ErrnoText(errno));
        if (ok && (std::fflush(file) != 0 || std::ferror(file))) {
            ok = Fail(error, Failure::WriteFailed, detail::ErrnoText(errno));
        }
        if (std::fclose(file) != 0 && ok) ok = Fail(error, Failure::WriteFailed, detail::ErrnoText(errno));
        encoded = ok;
        return ok;
    });
    if (replaced || (written && !encoded)) return replaced;
    // The temporary file could not be made, or syncing or renaming it failed.
    if (errno == ECANCELED) return Fail(error, Failure::Abandoned);
    return Fail(error, written ? Failure::WriteFailed : Failure::CreateFailed, detail::ErrnoText(errno));
}

}  // namespace detail

Bitmap::Bitmap(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Bitmap::~Bitmap() = default;

std::unique_ptr<Bitmap> Bitmap::FromFile(const std::string& path, Error* error) {
    Error ignored;
    Error& why = error != nullptr ? *error : ignored;
    struct stat status {};
    File file = OpenForReading(path, status, why);
    if (!file) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    impl->device = status.st_dev;
    impl->inode = status.st_ino;
    impl->info.fileSize = status.st_size;
    if (!ReadInfo(file.get(), impl->info, why)) return nullptr;
    impl->exif = std::move(impl->info.exif);
    impl->xmp = std::move(impl->info.xmp);
    const bool swap = SwapsSides(impl->info.orientation);
    impl->width = swap ? impl->info.height : impl->info.width;
    impl->height = swap ? impl->info.width : impl->info.height;
    return std::unique_ptr<Bitmap>(new Bitmap(std::move(impl)));
}

std::unique_ptr<Bitmap> Bitmap::CreateArgb(uint32_t width, uint32_t height) {
    if (!detail::SizeAllowed(width, height)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->width = width;
    impl->height = height;
    impl->blank = true;  // memory is taken when the surface is first drawn on or saved
    impl->info.channels = 4;
    impl->info.hasAlpha = true;
    return std::unique_ptr<Bitmap>(new Bitmap(std::move(impl)));
}

const Codec* Bitmap::Format() const { return impl_->info.codec; }
uint32_t Bitmap::Width() const { return impl_->width; }
uint32_t Bitmap::Height() const { return impl_->height; }

bool Bitmap::IsAnimated() const { return impl_->info.animated; }

bool Bitmap::HasAlpha() const {
    if (!impl_->pixels.Empty()) return impl_->pixels.channels == 4 && !detail::IsOpaque(impl_->pixels);
    return impl_->info.hasAlpha;
}

uint64_t Bitmap::DecodeBytesFor(uint32_t width, uint32_t height) const {
    const Impl& m = *impl_;
    const uint64_t channels = static_cast<uint64_t>(m.info.channels);
    const bool ownSize = width == m.width && height == m.height;
    if (!m.pixels.Empty() || m.blank) {
        // Already in memory: only the resampler's intermediate rows.
        if (ownSize || m.blank) return 0;
        return std::max(uint64_t{m.pixels.width} * height, uint64_t{width} * m.pixels.height) * m.pixels.channels;
    }
    if (m.path.empty()) return 0;
    const unsigned denominator = ownSize ? 1 : DenominatorFor(m, width, height);
    const uint64_t w = detail::ScaledDimension(m.info.width, denominator);
    const uint64_t h = detail::ScaledDimension(m.info.height, denominator);
    uint64_t bytes = w * h * channels + m.info.workBytes;
    if (ownSize) {
        if (m.info.orientation != 1) bytes += w * h * channels;  // the turned copy
        return bytes;
    }
    const bool swap = SwapsSides(m.info.orientation);
    const uint64_t tw = swap ? height : width, th = swap ? width : height;
    bytes += std::max(w * th, tw * h) * channels;  // between the two passes
    if (m.info.orientation != 1) bytes += tw * th * channels;
    if (channels == 4) bytes += tw * th * channels;  // the unturned result
    return bytes;
}

bool Bitmap::Decode(Error* error) {
    Impl& m = *impl_;
    if (!m.pixels.Empty() || m.blank) return true;
    Error ignored;
    Error& why = error != nullptr ? *error : ignored;
    if (m.broken) {
        why = m.failure;
        return false;
    }
    if (m.path.empty()) return Fail(why, Failure::BrokenData);
    Pixels pixels;
    bool ok = DecodeStored(m, 1, pixels, why);
    if (ok && !detail::ApplyOrientation(pixels, m.info.orientation)) ok = Fail(why, Failure::OutOfMemory);
    if (!ok) {
        m.broken = true;
        m.failure = why;
        return false;
    }
    m.pixels = std::move(pixels);
    return true;
}

bool Bitmap::Save(const std::string& path, const Codec& format, int quality, Error* error) {
    SaveOptions options;
    options.quality = quality;
    return Save(path, format, options, nullptr, error);
}

namespace {

// One encode into memory, for a search that compares sizes before anything is written.
bool EncodeInMemory(const Codec& format, const Pixels& pixels, const detail::EncodeOptions& options,
                    std::vector<uint8_t>& bytes, Error& error) {
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = ::open_memstream(&buffer, &size);
    if (stream == nullptr) return Fail(error, Failure::OutOfMemory);
    bool ok = false;
    try {
        ok = format.operations->encode(stream, pixels, options, error);
    } catch (...) {
        ok = Fail(error, Failure::OutOfMemory);
    }
    if (std::fclose(stream) != 0 && ok) ok = Fail(error, Failure::OutOfMemory);
    if (ok) {
        try {
            bytes.assign(buffer, buffer + size);
        } catch (...) {
            ok = Fail(error, Failure::OutOfMemory);
        }
    }
    std::free(buffer);
    return ok;
}

// Straight into the file; a file that turns out too large is discarded with its temporary.
bool SaveStraight(const std::string& path, const Codec& format, const Pixels& pixels,
                  const detail::EncodeOptions& options, const Bitmap::SaveOptions& how, Bitmap::SaveOutcome& result,
                  Error& why) {
    result.quality = how.quality;
    result.encodes = 1;
    const bool saved = detail::WriteFileAtomically(
        path,
        [&](FILE* file, Error& e) {
            if (!format.operations->encode(file, pixels, options, e)) return false;
            const long size = std::ftell(file);
            result.bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
            if (how.onlyBelowBytes > 0 && result.bytes >= how.onlyBelowBytes) {
                result.notSmaller = true;
                return false;
            }
            return true;
        },
        why);
    if (result.notSmaller) why = {};
    return saved;
}

// The highest quality not above the given one whose output fits: the given one first, then halving the
// interval below it (sizes grow with the quality, closely enough for a search). When not even the lowest
// quality fits, the smallest output there is, marked as such.
bool EncodeToFit(const Codec& format, const Pixels& pixels, detail::EncodeOptions options,
                 const Bitmap::SaveOptions& how, Bitmap::SaveOutcome& result, std::vector<uint8_t>& chosen,
                 Error& why) {
    std::vector<uint8_t> trial;
    const int top = std::clamp(how.quality, 0, 100);
    auto encode = [&](int quality, std::vector<uint8_t>& bytes) {
        options.quality = quality;
        ++result.encodes;
        return EncodeInMemory(format, pixels, options, bytes, why);
    };
    if (!encode(top, trial)) return false;
    if (trial.size() <= how.maxBytes) {
        chosen.swap(trial);
        result.quality = top;
        return true;
    }
    std::vector<uint8_t> lowest = top == 0 ? std::move(trial) : std::vector<uint8_t>();
    int low = 0;
    int high = top - 1;
    while (low <= high) {
        const int middle = (low + high + 1) / 2;
        if (!encode(middle, trial)) return false;
        if (trial.size() <= how.maxBytes) {
            chosen.swap(trial);
            result.quality = middle;
            low = middle + 1;
        } else {
            if (middle == 0) lowest.swap(trial);
            high = middle - 1;
        }
    }
    if (result.quality < 0) {
        if (lowest.empty() && !encode(0, lowest)) return false;
        chosen.swap(lowest);
        result.quality = 0;
        result.limitMissed = true;
    }
    return true;
}

// An output of ours decoded again by the format's own decoder, to see what a viewer will show.
bool DecodeInMemory(const Codec& format, std::vector<uint8_t>& bytes, Pixels& pixels, Error& why) {
    const detail::CodecOperations& codec = *format.operations;
    if (codec.readHeader == nullptr || codec.decode == nullptr) return Fail(why, Failure::NoEncoder);
    std::unique_ptr<FILE, decltype(&std::fclose)> file(::fmemopen(bytes.data(), bytes.size(), "rb"), &std::fclose);
    if (!file) return Fail(why, Failure::OutOfMemory);
    detail::SourceInfo info;
    info.codec = &format;
    info.fileSize = static_cast<int64_t>(bytes.size());
    if (!codec.readHeader(file.get(), info, why)) return false;
    std::rewind(file.get());
    return codec.decode(file.get(), info, 1, pixels, nullptr, why);
}

// A format without a decoder cannot be measured: it is written at the quality given.
bool SearchesByDistance(const Codec& format, const Bitmap::SaveOptions& how) {
    return how.maxDistance > 0 && format.takesQuality && format.operations->decode != nullptr;
}

// One candidate of the search by distance.
struct Probe {
    int quality = -1;
    float distance = 0;
    std::vector<uint8_t> bytes;
};

bool MeasureBytes(const Codec& format, const Pixels& pixels, Probe& probe, Error& why) {
    Pixels decoded;
    return DecodeInMemory(format, probe.bytes, decoded, why) &&
           detail::ButteraugliDistance(pixels, decoded, probe.distance, why);
}

bool Measure(const Codec& format, const Pixels& pixels, detail::EncodeOptions options, int quality, Probe& probe,
             Bitmap::SaveOutcome& result, Error& why) {
    options.quality = quality;
    ++result.encodes;
    probe.quality = quality;
    return EncodeInMemory(format, pixels, options, probe.bytes, why) && MeasureBytes(format, pixels, probe, why);
}

// Butteraugli costs many times an encode (at 640x480 more than decoding, resizing and encoding a camera photo
// together), so the search stops after a few probes, once the lowest quality within the distance is known to
// within a few steps, or at a probe within the distance and at least three quarters of it, which on photos
// stands only a few steps above the lowest quality (nearer than that cost a third more probes for 2 % of the
// bytes). What the search gives is always a quality it measured.
constexpr int kMaxProbes = 3;
constexpr int kCloseEnough = 3;
constexpr float kNearEnough = 0.75f;

// The distance of photos' outputs grows about as a power of (101 - quality): the exponent measured between
// two probes of this image, else the one typical of photos, aiming a little inside the bound so that the next
// probe lands within it.
int PredictQuality(const Probe& last, const Probe& before, float bound) {
    const auto room = [](int quality) { return 101.0 - quality; };
    double exponent = 0.7;
    if (before.quality >= 0 && before.quality != last.quality && before.distance > 0 && last.distance > 0) {
        exponent =
            std::log(double(last.distance) / before.distance) / std::log(room(last.quality) / room(before.quality));
        exponent = std::clamp(exponent, 0.3, 2.0);
    }
    if (!(last.distance > 0)) return 0;
    const double aim = 0.95 * bound / last.distance;
    return static_cast<int>(std::lround(101.0 - room(last.quality) * std::pow(aim, 1.0 / exponent)));
}

// The lowest quality up to the top whose output stays within the distance, its distances falling as the
// quality rises closely enough for a search: the guess (the answer for a similar image) first, then where the
// distances measured so far point, inside the interval known to bracket it. When not even the top is within,
// the top.
bool EncodeWithin(const Codec& format, const Pixels& pixels, const detail::EncodeOptions& options,
                  const Bitmap::SaveOptions& how, Bitmap::SaveOutcome& result, Probe& best, Error& why) {
    const int top = std::clamp(how.quality, 0, 100);
    int quality = how.qualityGuess >= 0 ? std::min(how.qualityGuess, top) : top;
    int failing = -1;  // the highest quality known to stray too far
    Probe probe, before, atTop;
    for (int probes = 0; probes < kMaxProbes; ++probes) {
        if (!Measure(format, pixels, options, quality, probe, result, why)) return false;
        const int next = PredictQuality(probe, before, how.maxDistance);
        before.quality = probe.quality;
        before.distance = probe.distance;
        if (probe.distance <= how.maxDistance) {
            std::swap(best, probe);
            if (best.distance >= kNearEnough * how.maxDistance) break;
        } else {
            failing = std::max(failing, quality);
            if (quality == top) std::swap(atTop, probe);
        }
        const int within = best.quality >= 0 ? best.quality : top + 1;
        if (within - failing <= (best.quality >= 0 ? kCloseEnough : 1)) break;
        quality = std::clamp(next, failing + 1, within - 1);
    }
    if (best.quality >= 0) return true;
    if (atTop.quality < 0 && !Measure(format, pixels, options, top, atTop, result, why)) return false;
    std::swap(best, atTop);
    return true;
}

// The bytes a save writes when it searches: the lowest quality within the distance, lowered further where
// the size limit asks for it, or the highest quality that fits the size limit alone.
bool ChooseOutput(const Codec& format, const Pixels& pixels, const detail::EncodeOptions& options,
                  const Bitmap::SaveOptions& how, Bitmap::SaveOutcome& result, std::vector<uint8_t>& chosen,
                  Error& why) {
    if (!SearchesByDistance(format, how)) return EncodeToFit(format, pixels, options, how, result, chosen, why);
    Probe within;
    if (!EncodeWithin(format, pixels, options, how, result, within, why)) return false;
    result.quality = within.quality;
    result.distance = within.distance;
    if (how.maxBytes == 0 || within.bytes.size() <= how.maxBytes) {
        chosen.swap(within.bytes);
        return true;
    }
    Bitmap::SaveOptions smaller = how;
    smaller.quality = std::max(0, within.quality - 1);
    result.quality = -1;
    if (!EncodeToFit(format, pixels, options, smaller, result, chosen, why)) return false;
    result.limitWon = true;
    Probe written;
    written.bytes.swap(chosen);
    if (!MeasureBytes(format, pixels, written, why)) return false;
    result.distance = written.distance;
    chosen.swap(written.bytes);
    return true;
}

// True when the file's own JPEG data may stand for its pixels: a JPEG source saved as JPEG XL, neither turned
// nor drawn on. A repack carries the file's EXIF and XMP as they are (the lossless reconstruction needs them),
// so it is made only where that keeps nothing the user asked to leave out: metadata kept, and no GPS position
// when it is to be dropped. Pixel dimensions a resized file's EXIF still states stay as the file has them.
bool RepacksJpeg(const Bitmap::Impl& m, const Codec& format, const Bitmap::SaveOptions& how) {
    if (!how.repackJpeg || m.path.empty() || m.drawnOn || m.info.orientation != 1) return false;
    if (m.info.codec != FindCodecByName("jpg") || &format != FindCodecByName("jxl")) return false;
    if (!how.keepMetadata) return m.exif.empty() && m.xmp.empty();
    if (!how.dropGps) return true;
    const auto noPosition = [&](const std::vector<uint8_t>& block, auto prepare) {
        return block.empty() || prepare(block, m.width, m.height, true) == prepare(block, m.width, m.height, false);
    };
    return noPosition(m.exif, detail::PrepareExif) && noPosition(m.xmp, detail::PrepareXmp);
}

// The source file's bytes, which must still be those whose header was read.
bool ReadSourceFile(const Bitmap::Impl& m, std::vector<uint8_t>& bytes, Error& error) {
    struct stat status {};
    File file = OpenForReading(m.path, status, error);
    if (!file) return false;
    if (status.st_dev != m.device || status.st_ino != m.inode || status.st_size != m.info.fileSize)
        return Fail(error, Failure::SourceChanged);
    bytes.resize(static_cast<size_t>(status.st_size));
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fgetc(file.get()) != EOF)
        return Fail(error, Failure::SourceChanged);
    return true;
}

enum class Repack { Written, Failed, NotSmaller, NotDone };

// The JPEG file repacked without loss into `path`. NotDone when the format cannot carry this JPEG so or the
// result does not fit the size limit: the caller encodes the pixels instead.
Repack SaveRepackedJpeg(const Bitmap::Impl& m, const std::string& path, const Bitmap::SaveOptions& how,
                        Bitmap::SaveOutcome& result, Error& why) {
    // A file far larger than its pixels would be uncompressed holds mostly something else (data after the
    // image): it is not read whole into memory, and the pixels are encoded instead.
    const uint64_t pixelBytes = uint64_t{m.info.width} * m.info.height * static_cast<uint64_t>(m.info.channels);
    if (static_cast<uint64_t>(m.info.fileSize) > 2 * pixelBytes + (uint64_t{1} << 20)) return Repack::NotDone;
    std::vector<uint8_t> source, repacked;
    if (!ReadSourceFile(m, source, why)) return Repack::Failed;
    char* buffer = nullptr;
    size_t size = 0;
    FILE* stream = ::open_memstream(&buffer, &size);
    if (stream == nullptr) {
        Fail(why, Failure::OutOfMemory);
        return Repack::Failed;
    }
    Error refused;
    bool ok = detail::RepackJpegAsJxl(stream, source, refused);
    ok = std::fclose(stream) == 0 && ok;
    if (ok) repacked.assign(buffer, buffer + size);
    std::free(buffer);
    if (!ok || (how.maxBytes > 0 && repacked.size() > how.maxBytes)) return Repack::NotDone;
    result = Bitmap::SaveOutcome{};
    result.encodes = 1;
    result.bytes = repacked.size();
    result.repacked = true;
    if (how.onlyBelowBytes > 0 && result.bytes >= how.onlyBelowBytes) {
        result.notSmaller = true;
        return Repack::NotSmaller;
    }
    const bool written = detail::WriteFileAtomically(
        path,
        [&](FILE* file, Error& e) {
            return std::fwrite(repacked.data(), 1, repacked.size(), file) == repacked.size() ||
                   Fail(e, Failure::WriteFailed, detail::ErrnoText(errno));
        },
        why);
    return written ? Repack::Written : Repack::Failed;
}

}  // namespace

bool Bitmap::Save(const std::string& path, const Codec& format, const SaveOptions& how, SaveOutcome* outcome,
                  Error* error) {
    Impl& m = *impl_;
    Error ignored;
    Error& why = error != nullptr ? *error : ignored;
    SaveOutcome unused;
    SaveOutcome& result = outcome != nullptr ? *outcome : unused;
    result = SaveOutcome{};
    if (!Decode(&why)) return false;
    if (m.blank) {
        if (!MakeOpaqueRgba(m.pixels, m.width, m.height, true)) return Fail(why, Failure::OutOfMemory);
        m.blank = false;
    }
    // Never replace the file this bitmap was read from, under any of its names.
    if (!m.path.empty()) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0 && status.st_dev == m.device && status.st_ino == m.inode)
            return Fail(why, Failure::TargetIsSource);
    }
    if (RepacksJpeg(m, format, how)) {
        switch (SaveRepackedJpeg(m, path, how, result, why)) {
            case Repack::Written: return true;
            case Repack::Failed: return false;
            case Repack::NotSmaller: return false;
            case Repack::NotDone: break;
        }
    }
    detail::EncodeOptions options;
    options.quality = how.quality;
    options.icc = &m.icc;
    options.baseline = how.jpegBaseline;
    std::vector<uint8_t> exif, xmp;
    if (how.keepMetadata) {
        if (!m.exif.empty()) exif = detail::PrepareExif(m.exif, m.width, m.height, how.dropGps);
        if (!exif.empty()) options.exif = &exif;
        if (!m.xmp.empty()) xmp = detail::PrepareXmp(m.xmp, m.width, m.height, how.dropGps);
        if (!xmp.empty()) options.xmp = &xmp;
    }

    if (!format.takesQuality || (how.maxBytes == 0 && !SearchesByDistance(format, how)))
        return SaveStraight(path, format, m.pixels, options, how, result, why);
    std::vector<uint8_t> chosen;
    if (!ChooseOutput(format, m.pixels, options, how, result, chosen, why)) return false;
    result.bytes = chosen.size();
    if (how.onlyBelowBytes > 0 && result.bytes >= how.onlyBelowBytes) {
        result.notSmaller = true;
        why = {};
        return false;
    }
    return detail::WriteFileAtomically(
        path,
        [&](FILE* file, Error& e) {
            return std::fwrite(chosen.data(), 1, chosen.size(), file) == chosen.size() ||
                   Fail(e, Failure::WriteFailed, detail::ErrnoText(errno));
        },
        why);
}

bool Bitmap::GetPixel(uint32_t x, uint32_t y, uint32_t& argb) {
    Impl& m = *impl_;
    if (x >= m.width || y >= m.height || !Decode()) return false;
    if (m.blank) {
        argb = 0;
        return true;
    }
    const uint8_t* p = m.pixels.Row(y) + size_t{x} * m.pixels.channels;
    switch (m.pixels.channels) {
        case 1: argb = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[0]} << 8 | p[0]; break;
        case 3: argb = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; break;
        default: argb = uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; break;
    }
    return true;
}

bool Bitmap::SetPixel(uint32_t x, uint32_t y, uint32_t argb) {
    Impl& m = *impl_;
    if (x >= m.width || y >= m.height || !Decode()) return false;
    if ((m.blank || m.pixels.channels != 4) && !MakeOpaqueRgba(m.pixels, m.width, m.height, m.blank)) return false;
    m.blank = false;
    m.drawnOn = true;
    uint8_t* p = m.pixels.Row(y) + size_t{x} * 4;
    p[0] = static_cast<uint8_t>(argb >> 16);
    p[1] = static_cast<uint8_t>(argb >> 8);
    p[2] = static_cast<uint8_t>(argb);
    p[3] = static_cast<uint8_t>(argb >> 24);
    return true;
}

Graphics::Graphics(Bitmap& target) : target_(target) {}

bool Graphics::DrawImage(Bitmap& source, int x, int y, int width, int height, Error* error) {
    Bitmap::Impl& s = source.impl();
    Bitmap::Impl& t = target_.impl();
    Error ignored;
    Error& why = error != nullptr ? *error : ignored;
    if (width <= 0 || height <= 0) return true;  // nothing to draw
    if (!detail::SizeAllowed(static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
        return Fail(why, Failure::BadSize);
    }
    const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);

    Pixels drawn;
    if (s.blank) {
        return true;  // transparent over anything changes nothing
    } else if (!s.pixels.Empty()) {
        if (!detail::Resample(s.pixels, false, w, h, drawn)) return Fail(why, Failure::OutOfMemory);
    } else {
        if (s.broken) {
            why = s.failure;
            return false;
        }
        if (s.path.empty()) return Fail(why, Failure::BrokenData);
        // Decode only as much as the rectangle needs, filter in the stored orientation, then turn the small
        // result: the same pixels as turning first, for a fraction of the work.
        const bool swap = SwapsSides(s.info.orientation);
        Pixels decoded;
        if (!DecodeStored(s, DenominatorFor(s, w, h), decoded, why)) {
            s.broken = true;
            s.failure = why;
            return false;
        }
        if (!detail::Resample(decoded, true, swap ? h : w, swap ? w : h, drawn)) return Fail(why, Failure::OutOfMemory);
        decoded.Reset();
        if (!detail::ApplyOrientation(drawn, s.info.orientation)) return Fail(why, Failure::OutOfMemory);
    }
    t.drawnOn = true;
    if (&s != &t) {
        t.icc = s.icc;
        t.exif = s.exif;
        t.xmp = s.xmp;
    }
    if (t.blank && x == 0 && y == 0 && w == t.width && h == t.height) {
        t.pixels = std::move(drawn);  // covers the whole transparent surface: the result is the drawing
        t.blank = false;
        return true;
    }
    if (!MakeOpaqueRgba(t.pixels, t.width, t.height, t.blank)) return Fail(why, Failure::OutOfMemory);
    t.blank = false;
    Composite(drawn, x, y, t.pixels);
    return true;
}

}  // namespace qx::imaging
