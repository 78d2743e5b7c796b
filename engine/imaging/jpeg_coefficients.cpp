// Colour conversion, chroma sampling choice, DCT and trellis quantisation for the JPEG encoder.
#include "engine/imaging/jpeg_coefficients.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace qx::imaging::detail {
namespace {

constexpr int kBlock = 8;
constexpr int kCoefficients = 64;

// Zig-zag position -> row-major index.
constexpr std::array<int, kCoefficients> kZigzag = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                                    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                                    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                                    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The largest AC magnitude baseline JPEG codes for 8-bit samples (size category 10).
constexpr int kMaxAc = 1023;
constexpr int kMaxDc = 2047;

// One 8-point pass of the Arai-Agui-Nakajima factorisation, in place over values `step` apart; its outputs are
// the DCT's scaled by the factors of DctScale.
void DctPass(float* d, int step) {
    const float t0 = d[0] + d[7 * step], t7 = d[0] - d[7 * step];
    const float t1 = d[step] + d[6 * step], t6 = d[step] - d[6 * step];
    const float t2 = d[2 * step] + d[5 * step], t5 = d[2 * step] - d[5 * step];
    const float t3 = d[3 * step] + d[4 * step], t4 = d[3 * step] - d[4 * step];
    const float e10 = t0 + t3, e13 = t0 - t3, e11 = t1 + t2, e12 = t1 - t2;
    d[0] = e10 + e11;
    d[4 * step] = e10 - e11;
    const float z1 = (e12 + e13) * 0.707106781f;
    d[2 * step] = e13 + z1;
    d[6 * step] = e13 - z1;
    const float o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
    const float z5 = (o10 - o12) * 0.382683433f;
    const float z2 = 0.541196100f * o10 + z5, z4 = 1.306562965f * o12 + z5, z3 = o11 * 0.707106781f;
    const float z11 = t7 + z3, z13 = t7 - z3;
    d[5 * step] = z13 + z2;
    d[3 * step] = z13 - z2;
    d[step] = z11 + z4;
    d[7 * step] = z11 - z4;
}

// What turns the two passes' outputs into the coefficients JPEG defines (the orthonormal DCT-II, on the
// scale its quantisation tables divide).
struct DctScale {
    float factor[kCoefficients];
    DctScale() {
        double aan[kBlock] = {1};
        for (int k = 1; k < kBlock; ++k) aan[k] = std::cos(k * M_PI / 16) * std::sqrt(2.0);
        for (int v = 0; v < kBlock; ++v)
            for (int u = 0; u < kBlock; ++u) factor[v * kBlock + u] = static_cast<float>(1.0 / (8 * aan[u] * aan[v]));
    }
};
const DctScale kDctScale;

// The coefficients of one 8x8 block whose top-left sample is at `samples`, rows `stride` apart.
void ForwardDct(const float* samples, size_t stride, float out[kCoefficients]) {
    for (int y = 0; y < kBlock; ++y) std::copy_n(samples + y * stride, kBlock, out + y * kBlock);
    for (int y = 0; y < kBlock; ++y) DctPass(out + y * kBlock, 1);
    for (int x = 0; x < kBlock; ++x) DctPass(out + x, kBlock);
    for (int k = 0; k < kCoefficients; ++k) out[k] *= kDctScale.factor[k];
}

int SizeCategory(int magnitude) {
    int bits = 0;
    while (magnitude > 0) {
        ++bits;
        magnitude >>= 1;
    }
    return bits;
}

// Code length of every AC symbol in `table`; a symbol the table lacks costs more than any code.
std::array<uint8_t, 256> CodeLengths(const JHUFF_TBL* table) {
    std::array<uint8_t, 256> lengths;
    lengths.fill(24);
    if (table == nullptr) return lengths;
    int symbol = 0;
    for (int length = 1; length <= 16; ++length) {
        for (int i = 0; i < table->bits[length]; ++i) lengths[table->huffval[symbol++]] = static_cast<uint8_t>(length);
    }
    return lengths;
}

// How much a unit of squared error, in quantisation steps, weighs against a bit: more in flat blocks, where
// an error shows, less in busy ones, where it hides.
float BlockLambda(const float coefficients[kCoefficients]) {
    float energy = 0;
    for (int k = 1; k < kCoefficients; ++k) energy += coefficients[k] * coefficients[k];
    // Measured on the benchmark photos against butteraugli: a weight four times the one that balances
    // rounding error and bits by the mean square error alone keeps fine texture that butteraugli misses.
    constexpr float kWeight = 4 * 64 * 27554.0f;  // 4 * 64 * 2^14.75
    constexpr float kBusy = 92682.0f;             // 2^16.5
    return kWeight / (kBusy + 64 * energy / 63);
}

// How the eye's sensitivity falls with a coefficient's frequency (row-major; the contrast-sensitivity weights
// of mozjpeg's trellis, jcdctmgr.c, Copyright (C) 2014 Mozilla Corporation, under the IJG licence).
constexpr std::array<float, kCoefficients> kContrastSensitivity = {
    3.35630f, 3.59892f, 3.20921f, 2.28102f, 1.42378f, 0.88079f, 0.58190f, 0.43454f,  //
    3.59893f, 3.21284f, 2.71282f, 1.98092f, 1.30506f, 0.83852f, 0.56346f, 0.42146f,  //
    3.20921f, 2.71282f, 2.12574f, 1.48616f, 0.99660f, 0.66132f, 0.45610f, 0.34609f,  //
    2.28102f, 1.98092f, 1.48616f, 0.97492f, 0.64622f, 0.43812f, 0.31074f, 0.24072f,  //
    1.42378f, 1.30506f, 0.99660f, 0.64623f, 0.42051f, 0.28446f, 0.20380f, 0.15975f,  //
    0.88079f, 0.83852f, 0.66132f, 0.43812f, 0.28446f, 0.19092f, 0.13635f, 0.10701f,  //
    0.58190f, 0.56346f, 0.45610f, 0.31074f, 0.20380f, 0.13635f, 0.09674f, 0.07558f,  //
    0.43454f, 0.42146f, 0.34609f, 0.24072f, 0.15975f, 0.10701f, 0.07558f, 0.05875f,
};

// The weight of a squared error of one quantisation step at each zig-zag position of a table: the step squared
// (how large the error is in the picture), against the table's mean, times how much of that frequency the eye
// sees. Weighing every step alike cost 4-6 % of the bytes at equal butteraugli at Rate 60 to 80 (bench/FORMATS.md).
using ErrorWeights = std::array<float, kCoefficients>;
ErrorWeights WeightsFor(const UINT16* steps) {
    float meanSquare = 0;
    for (int k = 1; k < kCoefficients; ++k) meanSquare += float(steps[k]) * float(steps[k]);
    meanSquare /= kCoefficients - 1;
    ErrorWeights weights;
    for (int k = 0; k < kCoefficients; ++k) {
        const int index = kZigzag[k];
        weights[k] = kContrastSensitivity[index] * float(steps[index]) * float(steps[index]) / meanSquare;
    }
    return weights;
}

// The quantised block (row-major) that minimises bits + lambda * weighted squared error, over the values that
// round each coefficient to nearest or one step toward zero, and zero; the DC is rounded to nearest.
void TrellisQuantise(const float coefficients[kCoefficients], const UINT16* steps, const ErrorWeights& weights,
                     const std::array<uint8_t, 256>& codeLengths, JCOEF* out) {
    const float lambda = BlockLambda(coefficients);
    float magnitude[kCoefficients];  // in quantisation steps, zig-zag order
    float errorWeight[kCoefficients];
    float zeroCost[kCoefficients];  // cost of dropping positions 1..k
    zeroCost[0] = 0;
    for (int k = 1; k < kCoefficients; ++k) {
        magnitude[k] = std::fabs(coefficients[kZigzag[k]]) / steps[kZigzag[k]];
        errorWeight[k] = lambda * weights[k];
        zeroCost[k] = zeroCost[k - 1] + errorWeight[k] * magnitude[k] * magnitude[k];
    }
    // The positions a value may stay at, and for each the cheapest way to have it as the last value so far.
    int positions[kCoefficients];
    float best[kCoefficients];
    int from[kCoefficients];
    int value[kCoefficients];
    int count = 1;
    positions[0] = 0;
    best[0] = 0;
    const int zeroRunLength = codeLengths[0xF0];
    for (int k = 1; k < kCoefficients; ++k) {
        const int nearest = std::min(static_cast<int>(magnitude[k] + 0.5f), kMaxAc);
        if (nearest == 0) continue;
        float bestCost = INFINITY;
        int bestFrom = 0, bestValue = nearest;
        for (int candidate = nearest; candidate >= std::max(1, nearest - 1); --candidate) {
            const float error = magnitude[k] - static_cast<float>(candidate);
            const int size = SizeCategory(candidate);
            const float own = errorWeight[k] * error * error + static_cast<float>(size);
            for (int i = 0; i < count; ++i) {
                const int previous = positions[i];
                const int run = k - previous - 1;
                const float cost =
                    best[i] + zeroCost[k - 1] - zeroCost[previous] + own +
                    static_cast<float>((run >> 4) * zeroRunLength + codeLengths[((run & 15) << 4) | size]);
                if (cost < bestCost) {
                    bestCost = cost;
                    bestFrom = i;
                    bestValue = candidate;
                }
            }
        }
        positions[count] = k;
        best[count] = bestCost;
        from[count] = bestFrom;
        value[count] = bestValue;
        ++count;
    }
    // Where the block's last value is: after it an end-of-block code, unless it is the 63rd.
    int last = 0;
    float lastCost = INFINITY;
    for (int i = 0; i < count; ++i) {
        const int k = positions[i];
        const float cost =
            best[i] + zeroCost[kCoefficients - 1] - zeroCost[k] + (k < kCoefficients - 1 ? codeLengths[0x00] : 0);
        if (cost < lastCost) {
            lastCost = cost;
            last = i;
        }
    }
    std::fill(out, out + kCoefficients, JCOEF{0});
    for (int i = last; i > 0; i = from[i]) {
        const int index = kZigzag[positions[i]];
        out[index] = static_cast<JCOEF>(coefficients[index] < 0 ? -value[i] : value[i]);
    }
    const int dc = static_cast<int>(std::lround(coefficients[0] / steps[0]));
    out[0] = static_cast<JCOEF>(std::clamp(dc, -kMaxDc, kMaxDc));
}

// One row of the picture as RGB or grey bytes; RGBA is flattened on white, JPEG having no alpha.
const uint8_t* OpaqueRow(const Pixels& pixels, uint32_t y, std::vector<uint8_t>& flattened) {
    const uint8_t* src = pixels.Row(y);
    if (pixels.channels != 4) return src;
    flattened.resize(size_t{pixels.width} * 3);
    for (uint32_t x = 0; x < pixels.width; ++x, src += 4) {
        const unsigned alpha = src[3];
        for (int c = 0; c < 3; ++c)
            flattened[x * 3 + c] = static_cast<uint8_t>((src[c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
    return flattened.data();
}

// Level-shifted Y, Cb and Cr (or grey) of `rows` picture rows from `top`, each `width` samples wide with the
// last column and row repeated past the picture's edge.
struct YccStrip {
    size_t width = 0;
    int rows = 0;
    int planes = 0;
    std::vector<float> samples;  // plane after plane
    std::vector<uint8_t> flattened;

    YccStrip(size_t width_, int rows_, int planes_)
        : width(width_), rows(rows_), planes(planes_), samples(width_ * rows_ * planes_) {}
    float* Plane(int p) { return samples.data() + size_t(p) * width * rows; }

    void Load(const Pixels& pixels, uint32_t top) {
        for (int r = 0; r < rows; ++r) {
            const uint8_t* src = OpaqueRow(pixels, std::min(top + r, pixels.height - 1), flattened);
            float* y = Plane(0) + r * width;
            if (planes == 1) {
                for (uint32_t x = 0; x < pixels.width; ++x) y[x] = src[x] - 128.0f;
            } else {
                float* cb = Plane(1) + r * width;
                float* cr = Plane(2) + r * width;
                for (uint32_t x = 0; x < pixels.width; ++x, src += 3) {
                    const float red = src[0], green = src[1], blue = src[2];
                    y[x] = 0.299f * red + 0.587f * green + 0.114f * blue - 128.0f;
                    cb[x] = -0.168736f * red - 0.331264f * green + 0.5f * blue;
                    cr[x] = 0.5f * red - 0.418688f * green - 0.081312f * blue;
                }
            }
            for (int p = 0; p < planes; ++p) {
                float* row = Plane(p) + r * width;
                std::fill(row + pixels.width, row + width, row[pixels.width - 1]);
            }
        }
    }
};

// Averages `plane` (width x rows) down by `fx` x `fy` in place, rows then `width / fx` apart.
void Downsample(float* plane, size_t width, int rows, int fx, int fy) {
    if (fx == 1 && fy == 1) return;
    const size_t outWidth = width / fx;
    const float scale = 1.0f / static_cast<float>(fx * fy);
    for (int r = 0; r < rows / fy; ++r) {
        for (size_t x = 0; x < outWidth; ++x) {
            float sum = 0;
            for (int dy = 0; dy < fy; ++dy)
                for (int dx = 0; dx < fx; ++dx) sum += plane[(size_t(r) * fy + dy) * width + x * fx + dx];
            plane[size_t(r) * outWidth + x] = sum * scale;
        }
    }
}

size_t RoundUp(size_t value, size_t step) { return (value + step - 1) / step * step; }

// The largest horizontal and vertical sampling factors of the components: an MCU's size in blocks. (libjpeg
// works them out only once the coding has started.)
std::pair<int, int> LargestSampling(j_compress_ptr cinfo) {
    int maxH = 1, maxV = 1;
    for (int c = 0; c < cinfo->num_components; ++c) {
        maxH = std::max(maxH, cinfo->comp_info[c].h_samp_factor);
        maxV = std::max(maxV, cinfo->comp_info[c].v_samp_factor);
    }
    return {maxH, maxV};
}

}  // namespace

bool NeedsFullChroma(const Pixels& pixels, const JQUANT_TBL& chromaTable) {
    if (pixels.channels == 1) return false;
    // What halving removes is, near enough, the upper half of each direction's frequencies.
    std::array<float, kCoefficients> threshold;
    for (int v = 0; v < kBlock; ++v) {
        for (int u = 0; u < kBlock; ++u) {
            const int k = v * kBlock + u;
            threshold[k] = u >= kBlock / 2 || v >= kBlock / 2 ? chromaTable.quantval[k] * 0.5f : INFINITY;
        }
    }
    const size_t width = RoundUp(pixels.width, kBlock);
    YccStrip strip(width, kBlock, 3);
    double kept = 0;
    uint64_t measured = 0;  // pixels looked at
    float coefficients[kCoefficients];
    // Every fourth row of blocks tells enough about a picture's colour detail, for a quarter of the work.
    for (uint32_t top = 0; top < pixels.height; top += 4 * kBlock) {
        strip.Load(pixels, top);
        measured += uint64_t{pixels.width} * std::min<uint32_t>(kBlock, pixels.height - top);
        for (int p = 1; p < 3; ++p) {
            for (size_t x = 0; x < width; x += kBlock) {
                ForwardDct(strip.Plane(p) + x, width, coefficients);
                for (int k = 0; k < kCoefficients; ++k)
                    if (std::fabs(coefficients[k]) > threshold[k]) kept += coefficients[k] * coefficients[k];
            }
        }
    }
    // Squared chroma error per pixel, in 8-bit levels, that 4:2:0 would add over what the table keeps anyway.
    constexpr double kVisibleChromaError = 4.0;
    return kept / static_cast<double>(measured) > kVisibleChromaError;
}

void CopyCoefficients(j_compress_ptr from, jvirt_barray_ptr* fromArrays, j_compress_ptr to,
                      jvirt_barray_ptr* toArrays) {
    for (int c = 0; c < from->num_components; ++c) {
        const jpeg_component_info& comp = from->comp_info[c];
        const JDIMENSION rows = JDIMENSION(RoundUp(comp.height_in_blocks, comp.v_samp_factor));
        const size_t blocks = RoundUp(comp.width_in_blocks, comp.h_samp_factor);
        for (JDIMENSION row = 0; row < rows; row += comp.v_samp_factor) {
            JBLOCKARRAY source =
                (*from->mem->access_virt_barray)(j_common_ptr(from), fromArrays[c], row, comp.v_samp_factor, FALSE);
            JBLOCKARRAY target =
                (*to->mem->access_virt_barray)(j_common_ptr(to), toArrays[c], row, comp.v_samp_factor, TRUE);
            for (int r = 0; r < comp.v_samp_factor; ++r)
                std::copy_n(source[r][0], blocks * kCoefficients, target[r][0]);
        }
    }
}

jvirt_barray_ptr* RequestCoefficientArrays(j_compress_ptr cinfo) {
    auto* arrays = static_cast<jvirt_barray_ptr*>(
        (*cinfo->mem->alloc_small)(j_common_ptr(cinfo), JPOOL_IMAGE, sizeof(jvirt_barray_ptr) * cinfo->num_components));
    const auto [maxH, maxV] = LargestSampling(cinfo);
    const size_t mcusWide = RoundUp(cinfo->image_width, size_t(kBlock) * maxH) / (kBlock * maxH);
    const size_t mcusHigh = RoundUp(cinfo->image_height, size_t(kBlock) * maxV) / (kBlock * maxV);
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& comp = cinfo->comp_info[c];
        arrays[c] = (*cinfo->mem->request_virt_barray)(
            j_common_ptr(cinfo), JPOOL_IMAGE, TRUE, JDIMENSION(mcusWide * comp.h_samp_factor),
            JDIMENSION(mcusHigh * comp.v_samp_factor), JDIMENSION(comp.v_samp_factor));
    }
    return arrays;
}

void FillCoefficients(j_compress_ptr cinfo, jvirt_barray_ptr* arrays, const Pixels& pixels) {
    const int components = cinfo->num_components;
    const auto [maxH, maxV] = LargestSampling(cinfo);
    const size_t width = RoundUp(pixels.width, size_t(kBlock) * maxH);
    const int mcuRows = kBlock * maxV;
    YccStrip strip(width, mcuRows, components);
    std::vector<std::array<uint8_t, 256>> codeLengths;
    std::vector<ErrorWeights> weights;
    for (int c = 0; c < components; ++c) {
        codeLengths.push_back(CodeLengths(cinfo->ac_huff_tbl_ptrs[cinfo->comp_info[c].ac_tbl_no]));
        weights.push_back(WeightsFor(cinfo->quant_tbl_ptrs[cinfo->comp_info[c].quant_tbl_no]->quantval));
    }
    float coefficients[kCoefficients];
    for (uint32_t top = 0, mcuRow = 0; top < pixels.height; top += mcuRows, ++mcuRow) {
        strip.Load(pixels, top);
        for (int c = 0; c < components; ++c) {
            const jpeg_component_info& comp = cinfo->comp_info[c];
            const int fx = maxH / comp.h_samp_factor, fy = maxV / comp.v_samp_factor;
            float* plane = strip.Plane(c);
            Downsample(plane, width, mcuRows, fx, fy);
            const size_t planeWidth = width / fx;
            const UINT16* steps = cinfo->quant_tbl_ptrs[comp.quant_tbl_no]->quantval;
            JBLOCKARRAY rows = (*cinfo->mem->access_virt_barray)(j_common_ptr(cinfo), arrays[c],
                                                                 mcuRow * comp.v_samp_factor, comp.v_samp_factor, TRUE);
            for (int by = 0; by < comp.v_samp_factor; ++by) {
                for (size_t bx = 0; bx < planeWidth / kBlock; ++bx) {
                    ForwardDct(plane + size_t(by) * kBlock * planeWidth + bx * kBlock, planeWidth, coefficients);
                    TrellisQuantise(coefficients, steps, weights[c], codeLengths[c], rows[by][bx]);
                }
            }
        }
    }
}

}  // namespace qx::imaging::detail
