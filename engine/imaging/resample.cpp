// Separable Lanczos3 resampling in 14-bit fixed point: precomputed weights per output column and row, the
// vertical pass vectorised over whole rows, the horizontal pass with one 4-lane vector per tap.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/imaging/internal.h"

namespace qx::imaging::detail {
namespace {

constexpr int kBits = 14;
constexpr int32_t kOne = 1 << kBits;
constexpr int32_t kHalf = 1 << (kBits - 1);
constexpr double kSupport = 3.0;

double Lanczos3(double x) {
    if (x == 0.0) return 1.0;
    if (x <= -kSupport || x >= kSupport) return 0.0;
    const double px = M_PI * x;
    return kSupport * std::sin(px) * std::sin(px / kSupport) / (px * px);
}

struct Weights {
    int taps = 0;                 // stride of `values`
    std::vector<int32_t> first;   // first input index per output
    std::vector<int32_t> count;   // inputs used per output
    std::vector<int16_t> values;  // out x taps
};

// Weights that sum to exactly one in fixed point, so that flat areas stay exactly flat.
bool MakeWeights(uint32_t inSize, uint32_t outSize, Weights& weights) {
    const double scale = double(inSize) / double(outSize);
    const double filterScale = std::max(scale, 1.0);
    const double support = kSupport * filterScale;
    weights.taps = static_cast<int>(std::ceil(support)) * 2 + 1;
    try {
        weights.first.resize(outSize);
        weights.count.resize(outSize);
        weights.values.assign(size_t{outSize} * weights.taps, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<double> k(weights.taps);
    for (uint32_t o = 0; o < outSize; ++o) {
        const double center = (o + 0.5) * scale;
        const int64_t lo = std::max<int64_t>(static_cast<int64_t>(center - support + 0.5), 0);
        const int64_t hi = std::min<int64_t>(static_cast<int64_t>(center + support + 0.5), inSize);
        const int n = static_cast<int>(std::min<int64_t>(hi - lo, weights.taps));
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            k[i] = Lanczos3((lo + i - center + 0.5) / filterScale);
            sum += k[i];
        }
        int16_t* w = &weights.values[size_t{o} * weights.taps];
        int32_t fixedSum = 0;
        int largest = 0;
        for (int i = 0; i < n; ++i) {
            const double v = sum != 0 ? k[i] / sum : (i == 0 ? 1.0 : 0.0);
            w[i] = static_cast<int16_t>(std::lround(v * kOne));
            fixedSum += w[i];
            if (w[i] > w[largest]) largest = i;
        }
        if (n > 0) w[largest] = static_cast<int16_t>(w[largest] + (kOne - fixedSum));
        weights.first[o] = static_cast<int32_t>(lo);
        weights.count[o] = std::max(n, 0);
    }
    return true;
}

inline uint8_t Clip8(int32_t v) {
    v >>= kBits;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

__attribute__((target_clones("avx2", "default")))
void AccumulateRow(int32_t* acc, const uint8_t* row, int16_t weight, size_t n) {
    const int32_t w = weight;
    for (size_t i = 0; i < n; ++i) acc[i] += int32_t{row[i]} * w;
}

__attribute__((target_clones("avx2", "default")))
void StoreRow(uint8_t* dst, const int32_t* acc, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        int32_t v = acc[i] >> kBits;
        v = v < 0 ? 0 : v;
        v = v > 255 ? 255 : v;
        dst[i] = static_cast<uint8_t>(v);
    }
}

bool VerticalPass(const Pixels& in, uint32_t outHeight, Pixels& out) {
    Weights weights;
    if (!MakeWeights(in.height, outHeight, weights)) return false;
    if (!out.Allocate(in.width, outHeight, in.channels)) return false;
    const size_t n = in.Stride();
    // In column blocks, so that the accumulators stay in the first-level cache.
    constexpr size_t kBlock = 2048;
    int32_t acc[kBlock];
    for (uint32_t y = 0; y < outHeight; ++y) {
        const int16_t* w = &weights.values[size_t{y} * weights.taps];
        const int32_t first = weights.first[y], count = weights.count[y];
        uint8_t* dst = out.Row(y);
        for (size_t start = 0; start < n; start += kBlock) {
            const size_t len = std::min(kBlock, n - start);
            std::fill_n(acc, len, kHalf);
            for (int32_t k = 0; k < count; ++k)
                AccumulateRow(acc, in.Row(static_cast<uint32_t>(first + k)) + start, w[k], len);
            StoreRow(dst + start, acc, len);
        }
    }
    return true;
}

typedef int32_t V4i __attribute__((vector_size(16)));
typedef uint8_t V4b __attribute__((vector_size(4)));

template <int Channels>
void HorizontalRow(const uint8_t* src, uint8_t* dst, uint32_t outWidth, const Weights& weights) {
    for (uint32_t x = 0; x < outWidth; ++x, dst += Channels) {
        const int16_t* w = &weights.values[size_t{x} * weights.taps];
        const uint8_t* p = src + size_t(weights.first[x]) * Channels;
        const int32_t count = weights.count[x];
        if constexpr (Channels == 1) {
            int32_t acc = kHalf;
            for (int32_t k = 0; k < count; ++k) acc += int32_t{p[k]} * w[k];
            dst[0] = Clip8(acc);
        } else {
            // One vector per tap; with 3 channels the fourth lane reads the next pixel (or the row slack) and
            // is thrown away.
            V4i acc = {kHalf, kHalf, kHalf, kHalf};
            for (int32_t k = 0; k < count; ++k, p += Channels) {
                V4b bytes;
                std::memcpy(&bytes, p, 4);
                acc += __builtin_convertvector(bytes, V4i) * int32_t{w[k]};
            }
            acc >>= kBits;
            const V4i zero = {0, 0, 0, 0}, top = {255, 255, 255, 255};
            acc = acc < zero ? zero : acc;
            acc = acc > top ? top : acc;
            const V4b packed = __builtin_convertvector(acc, V4b);
            std::memcpy(dst, &packed, Channels);
        }
    }
}

bool HorizontalPass(const Pixels& in, uint32_t outWidth, Pixels& out) {
    Weights weights;
    if (!MakeWeights(in.width, outWidth, weights)) return false;
    if (!out.Allocate(outWidth, in.height, in.channels)) return false;
    for (uint32_t y = 0; y < in.height; ++y) {
        switch (in.channels) {
            case 1: HorizontalRow<1>(in.Row(y), out.Row(y), outWidth, weights); break;
            case 3: HorizontalRow<3>(in.Row(y), out.Row(y), outWidth, weights); break;
            default: HorizontalRow<4>(in.Row(y), out.Row(y), outWidth, weights); break;
        }
    }
    return true;
}

void Premultiply(Pixels& p) {
    uint8_t* d = p.data.get();
    const size_t count = size_t{p.width} * p.height;
    for (size_t i = 0; i < count; ++i, d += 4) {
        const unsigned a = d[3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c) {
            const unsigned t = d[c] * a + 128;
            d[c] = static_cast<uint8_t>((t + (t >> 8)) >> 8);
        }
    }
}

void Unpremultiply(Pixels& p) {
    uint8_t* d = p.data.get();
    const size_t count = size_t{p.width} * p.height;
    for (size_t i = 0; i < count; ++i, d += 4) {
        const unsigned a = d[3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            d[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (d[c] * 255u + a / 2) / a));
    }
}

bool Copy(const Pixels& in, Pixels& out) {
    if (!out.Allocate(in.width, in.height, in.channels)) return false;
    std::memcpy(out.data.get(), in.data.get(), in.Bytes());
    return true;
}

}  // namespace

bool Resample(Pixels& in, bool mayModifyInput, uint32_t width, uint32_t height, Pixels& out) {
    if (in.Empty() || width == 0 || height == 0) return false;
    Pixels premultiplied;
    const Pixels* source = &in;
    const bool alpha = in.channels == 4;
    if (alpha) {
        if (!mayModifyInput) {
            if (!Copy(in, premultiplied)) return false;
            source = &premultiplied;
            Premultiply(premultiplied);
        } else {
            Premultiply(in);
        }
    }
    const bool vertical = height != source->height, horizontal = width != source->width;
    bool ok = true;
    if (!vertical && !horizontal) {
        ok = Copy(*source, out);
    } else if (!horizontal) {
        ok = VerticalPass(*source, height, out);
    } else if (!vertical) {
        ok = HorizontalPass(*source, width, out);
    } else {
        // The vertical pass runs on whole rows in vectors and costs about an eighth of a horizontal tap.
        const double taps = [](uint32_t in, uint32_t out) { return 2 * std::ceil(3.0 * std::max(1.0, double(in) / out)) + 1; }(source->height, height);
        const double tapsX = 2 * std::ceil(3.0 * std::max(1.0, double(source->width) / width)) + 1;
        const double ch = source->channels;
        const double verticalFirst = double(source->width) * height * taps * ch / 8 + double(width) * height * tapsX;
        const double horizontalFirst = double(source->height) * width * tapsX + double(width) * height * taps * ch / 8;
        Pixels middle;
        if (verticalFirst <= horizontalFirst)
            ok = VerticalPass(*source, height, middle) && HorizontalPass(middle, width, out);
        else
            ok = HorizontalPass(*source, width, middle) && VerticalPass(middle, height, out);
    }
    if (!ok) {
        out.Reset();
        return false;
    }
    if (alpha) Unpremultiply(out);
    return true;
}

}  // namespace qx::imaging::detail
