// Separable Lanczos3 resampling in 14-bit fixed point: precomputed weights per output column and row, the
// vertical pass 16 (or, with AVX2, 32) bytes at a time, the horizontal pass one pixel per vector; two taps per
// multiply-add. Both instruction sets give the same bytes.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "engine/imaging/internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QX_HAVE_AVX2_PATH 1
#endif

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
    std::vector<int16_t> values;  // out x taps, with a zero after the last so that taps pair up
};

// Weights that sum to exactly one in fixed point, so that flat areas stay exactly flat.
bool MakeWeights(uint32_t inSize, uint32_t outSize, Weights& weights) {
    const double scale = double(inSize) / double(outSize);
    const double filterScale = std::max(scale, 1.0);
    const double support = kSupport * filterScale;
    weights.taps = static_cast<int>(std::ceil(support)) * 2 + 2;  // even, so a pair never reads the next output's
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

// Two 16-bit weights side by side, as pmaddwd takes them.
inline int32_t WeightPair(const int16_t* w) {
    return static_cast<int32_t>(static_cast<uint16_t>(w[0]) | static_cast<uint32_t>(static_cast<uint16_t>(w[1])) << 16);
}

#if defined(__SSE2__)
inline __m128i Load32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}
#endif

// The bytes of one output row from `count` input rows, from byte `i` on; what a vector loop left over.
void VerticalTail(const Pixels& in, uint8_t* dst, size_t i, int32_t first, int32_t count, const int16_t* w) {
    const size_t n = in.Stride();
    for (; i < n; ++i) {
        int32_t acc = kHalf;
        for (int32_t k = 0; k < count; ++k) acc += int32_t{in.Row(static_cast<uint32_t>(first + k))[i]} * w[k];
        dst[i] = Clip8(acc);
    }
}

// One output row from `count` input rows: 16 bytes at a time, two input rows per multiply-add.
void VerticalRowSse2(const Pixels& in, uint8_t* dst, int32_t first, int32_t count, const int16_t* w) {
    size_t i = 0;
#if defined(__SSE2__)
    const size_t n = in.Stride();
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i s0 = _mm_set1_epi32(kHalf), s1 = s0, s2 = s0, s3 = s0;
        for (int32_t k = 0; k < count; k += 2) {
            const __m128i a =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.Row(static_cast<uint32_t>(first + k)) + i));
            const __m128i b = k + 1 < count ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                  in.Row(static_cast<uint32_t>(first + k + 1)) + i))
                                            : zero;
            const __m128i weights = _mm_set1_epi32(WeightPair(w + k));
            const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), weights));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), weights));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), weights));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), weights));
        }
        const __m128i low = _mm_packs_epi32(_mm_srai_epi32(s0, kBits), _mm_srai_epi32(s1, kBits));
        const __m128i high = _mm_packs_epi32(_mm_srai_epi32(s2, kBits), _mm_srai_epi32(s3, kBits));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(low, high));
    }
#endif
    VerticalTail(in, dst, i, first, count, w);
}

#if defined(QX_HAVE_AVX2_PATH)
// The same sums 32 bytes at a time. The unpacks and packs work within each 128-bit half, so the halves come out
// in order without a permute.
__attribute__((target("avx2"))) void VerticalRowAvx2(const Pixels& in, uint8_t* dst, int32_t first, int32_t count,
                                                     const int16_t* w) {
    const size_t n = in.Stride();
    const __m256i zero = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i s0 = _mm256_set1_epi32(kHalf), s1 = s0, s2 = s0, s3 = s0;
        for (int32_t k = 0; k < count; k += 2) {
            const __m256i a =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in.Row(static_cast<uint32_t>(first + k)) + i));
            const __m256i b = k + 1 < count ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(
                                                  in.Row(static_cast<uint32_t>(first + k + 1)) + i))
                                            : zero;
            const __m256i weights = _mm256_set1_epi32(WeightPair(w + k));
            const __m256i lo = _mm256_unpacklo_epi8(a, b), hi = _mm256_unpackhi_epi8(a, b);
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), weights));
            s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), weights));
            s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), weights));
            s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), weights));
        }
        const __m256i low = _mm256_packs_epi32(_mm256_srai_epi32(s0, kBits), _mm256_srai_epi32(s1, kBits));
        const __m256i high = _mm256_packs_epi32(_mm256_srai_epi32(s2, kBits), _mm256_srai_epi32(s3, kBits));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(low, high));
    }
    // The compiler leaves out its own vzeroupper before a tail call; without it every SSE instruction after
    // this function pays for the dirty upper halves (measured: the horizontal pass ran 2.7 times slower).
    _mm256_zeroupper();
    VerticalTail(in, dst, i, first, count, w);
}
#endif

using VerticalRowFunction = void (*)(const Pixels&, uint8_t*, int32_t, int32_t, const int16_t*);

std::atomic<bool> avx2Allowed{true};

VerticalRowFunction ChooseVerticalRow() {
#if defined(QX_HAVE_AVX2_PATH)
    static const bool available = __builtin_cpu_supports("avx2");
    if (available && avx2Allowed.load(std::memory_order_relaxed)) return VerticalRowAvx2;
#endif
    return VerticalRowSse2;
}

void VerticalRow(const Pixels& in, uint8_t* dst, int32_t first, int32_t count, const int16_t* w) {
    ChooseVerticalRow()(in, dst, first, count, w);
}

bool VerticalPass(const Pixels& in, uint32_t outHeight, Pixels& out) {
    Weights weights;
    if (!MakeWeights(in.height, outHeight, weights)) return false;
    if (!out.Allocate(in.width, outHeight, in.channels)) return false;
    for (uint32_t y = 0; y < outHeight; ++y)
        VerticalRow(in, out.Row(y), weights.first[y], weights.count[y], &weights.values[size_t{y} * weights.taps]);
    return true;
}

template <int Channels>
void HorizontalRow(const uint8_t* src, uint8_t* dst, uint32_t outWidth, const Weights& weights) {
    for (uint32_t x = 0; x < outWidth; ++x, dst += Channels) {
        const int16_t* w = &weights.values[size_t{x} * weights.taps];
        const uint8_t* p = src + size_t(weights.first[x]) * Channels;
        const int32_t count = weights.count[x];
#if defined(__SSE2__)
        if constexpr (Channels != 1) {
            // A whole pixel per lane group, two taps per multiply-add; an odd last tap pairs with a zero weight
            // and the pixel after it, which may be the row slack. With 3 channels the fourth lane reads the next
            // pixel (or the row slack) and is thrown away; the 4-byte store is overwritten by the next pixel or
            // lands in the slack.
            const __m128i zero = _mm_setzero_si128();
            __m128i acc = _mm_set1_epi32(kHalf);
            for (int32_t k = 0; k < count; k += 2) {
                const __m128i pairs = _mm_unpacklo_epi8(Load32(p + k * Channels), Load32(p + (k + 1) * Channels));
                acc = _mm_add_epi32(acc,
                                    _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), _mm_set1_epi32(WeightPair(w + k))));
            }
            const __m128i packed = _mm_srai_epi32(acc, kBits);
            const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(packed, packed), zero));
            std::memcpy(dst, &bytes, 4);
            continue;
        }
#endif
        int32_t acc[Channels];
        for (int c = 0; c < Channels; ++c) acc[c] = kHalf;
        for (int32_t k = 0; k < count; ++k)
            for (int c = 0; c < Channels; ++c) acc[c] += int32_t{p[k * Channels + c]} * w[k];
        for (int c = 0; c < Channels; ++c) dst[c] = Clip8(acc[c]);
    }
}

void HorizontalRowOf(int channels, const uint8_t* src, uint8_t* dst, uint32_t outWidth, const Weights& weights) {
    switch (channels) {
        case 1: HorizontalRow<1>(src, dst, outWidth, weights); break;
        case 3: HorizontalRow<3>(src, dst, outWidth, weights); break;
        default: HorizontalRow<4>(src, dst, outWidth, weights); break;
    }
}

bool HorizontalPass(const Pixels& in, uint32_t outWidth, Pixels& out) {
    Weights weights;
    if (!MakeWeights(in.width, outWidth, weights)) return false;
    if (!out.Allocate(outWidth, in.height, in.channels)) return false;
    for (uint32_t y = 0; y < in.height; ++y) HorizontalRowOf(in.channels, in.Row(y), out.Row(y), outWidth, weights);
    return true;
}

// Both passes row by row: each vertically filtered row goes through the horizontal filter while it is still in
// the cache, and no image-sized buffer sits between the passes.
bool VerticalThenHorizontal(const Pixels& in, uint32_t width, uint32_t height, Pixels& out) {
    Weights rows, columns;
    if (!MakeWeights(in.height, height, rows) || !MakeWeights(in.width, width, columns)) return false;
    Pixels row;
    if (!row.Allocate(in.width, 1, in.channels)) return false;
    if (!out.Allocate(width, height, in.channels)) return false;
    for (uint32_t y = 0; y < height; ++y) {
        VerticalRow(in, row.Row(0), rows.first[y], rows.count[y], &rows.values[size_t{y} * rows.taps]);
        HorizontalRowOf(in.channels, row.Row(0), out.Row(y), width, columns);
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
        for (int c = 0; c < 3; ++c) d[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (d[c] * 255u + a / 2) / a));
    }
}

bool Copy(const Pixels& in, Pixels& out) {
    if (!out.Allocate(in.width, in.height, in.channels)) return false;
    std::memcpy(out.data.get(), in.data.get(), in.Bytes());
    return true;
}

}  // namespace

void AllowAvx2Resampling(bool allowed) { avx2Allowed.store(allowed, std::memory_order_relaxed); }

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
        const double taps = [](uint32_t inSide, uint32_t outSide) {
            return 2 * std::ceil(3.0 * std::max(1.0, double(inSide) / outSide)) + 1;
        }(source->height, height);
        const double tapsX = 2 * std::ceil(3.0 * std::max(1.0, double(source->width) / width)) + 1;
        const double ch = source->channels;
        const double verticalFirst = double(source->width) * height * taps * ch / 8 + double(width) * height * tapsX;
        const double horizontalFirst = double(source->height) * width * tapsX + double(width) * height * taps * ch / 8;
        Pixels middle;
        if (verticalFirst <= horizontalFirst)
            ok = VerticalThenHorizontal(*source, width, height, out);
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
