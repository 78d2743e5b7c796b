// The scaling filter: accurate on smooth content, exact on flat areas, no colour from transparent pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine/imaging/internal.h"
#include "support.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

std::unique_ptr<Bitmap> Draw(Bitmap& source, uint32_t w, uint32_t h) {
    std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(w, h);
    Graphics graphics(*target);
    if (!graphics.DrawImage(source, 0, 0, static_cast<int>(w), static_cast<int>(h))) return nullptr;
    return target;
}

TEST(Resample, FlatAreasStayExactlyFlatWhenShrunkOrEnlarged) {
    std::unique_ptr<Bitmap> flat = Bitmap::CreateArgb(301, 207);
    for (uint32_t y = 0; y < 207; ++y)
        for (uint32_t x = 0; x < 301; ++x) flat->SetPixel(x, y, Argb(255, 200, 17, 93));
    for (auto [w, h] : {std::pair{37u, 19u}, std::pair{300u, 206u}, std::pair{1000u, 13u}, std::pair{1u, 1u}}) {
        std::unique_ptr<Bitmap> scaled = Draw(*flat, w, h);
        ASSERT_TRUE(scaled);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint32_t pixel = 0;
                ASSERT_TRUE(scaled->GetPixel(x, y, pixel));
                ASSERT_EQ(pixel, Argb(255, 200, 17, 93)) << w << "x" << h << " at " << x << "," << y;
            }
    }
}

TEST(Resample, SmoothGradientShrinksToTheAverageOfEachCell) {
    // A linear ramp: any symmetric filter that sums to one gives the cell centre's value, away from the edges.
    const uint32_t w = 1000, h = 12;
    std::unique_ptr<Bitmap> ramp = Bitmap::CreateArgb(w, h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t v = x * 255 / (w - 1);
            ramp->SetPixel(x, y, Argb(255, v, v, 255 - v));
        }
    std::unique_ptr<Bitmap> scaled = Draw(*ramp, 100, 3);
    ASSERT_TRUE(scaled);
    for (uint32_t x = 3; x < 97; ++x) {
        uint32_t pixel = 0;
        ASSERT_TRUE(scaled->GetPixel(x, 1, pixel));
        double expected = 0;  // the mean of the cell's (truncated) input values
        for (uint32_t i = x * 10; i < x * 10 + 10; ++i) expected += (i * 255 / (w - 1)) / 10.0;
        EXPECT_NEAR(Channel(pixel, 16), expected, 1.01) << x;
        EXPECT_NEAR(Channel(pixel, 0), 255 - expected, 1.01) << x;
    }
}

TEST(Resample, TransparentPixelsLendNoColour) {
    // Left half opaque red, right half fully transparent green: no green may appear anywhere.
    std::unique_ptr<Bitmap> half = Bitmap::CreateArgb(64, 8);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 64; ++x) half->SetPixel(x, y, x < 32 ? Argb(255, 255, 0, 0) : Argb(0, 0, 255, 0));
    std::unique_ptr<Bitmap> scaled = Draw(*half, 16, 2);
    ASSERT_TRUE(scaled && scaled->HasAlpha());
    for (uint32_t x = 0; x < 16; ++x) {
        uint32_t pixel = 0;
        ASSERT_TRUE(scaled->GetPixel(x, 0, pixel));
        if (Channel(pixel, 24) > 8) {
            EXPECT_EQ(Channel(pixel, 8), 0) << x;
            EXPECT_GT(Channel(pixel, 16), 240) << x;
        }
        if (x < 4) {
            EXPECT_EQ(Channel(pixel, 24), 255) << x;
        }
        if (x > 11) {
            EXPECT_EQ(Channel(pixel, 24), 0) << x;
        }
    }
}

TEST(Resample, DrawingIntoAPartOfTheSurfaceLeavesTheRestTransparent) {
    std::unique_ptr<Bitmap> source = Bitmap::FromFile(Corpus("pillow/hopper.jpg"));
    ASSERT_TRUE(source);
    std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(40, 40);
    Graphics graphics(*target);
    ASSERT_TRUE(graphics.DrawImage(*source, 10, 10, 20, 20));
    uint32_t inside = 0, outside = 0;
    ASSERT_TRUE(target->GetPixel(20, 20, inside) && target->GetPixel(5, 35, outside));
    EXPECT_EQ(inside >> 24, 255u);
    EXPECT_EQ(outside, 0u);
    // Partly off the surface: clipped, not refused.
    EXPECT_TRUE(graphics.DrawImage(*source, -10, 30, 20, 20));
    ASSERT_TRUE(target->GetPixel(0, 39, outside));
    EXPECT_EQ(outside >> 24, 255u);
}

TEST(Resample, TheWideVectorPathGivesTheSameBytesAsTheNarrowOne) {
    // Noise, so that every tap counts; widths that leave tails after 16 and 32 bytes; grey, RGB and RGBA;
    // shrinking, enlarging and one side only.
    std::mt19937 random(7);
    struct Case {
        uint32_t w, h;
        int channels;
        uint32_t outW, outH;
    };
    for (const Case& c : {Case{517, 300, 3, 100, 61}, Case{1000, 37, 4, 333, 12}, Case{64, 64, 1, 20, 21},
                          Case{13, 9, 3, 40, 30}, Case{250, 80, 3, 250, 17}, Case{33, 500, 4, 11, 500}}) {
        detail::Pixels source;
        ASSERT_TRUE(source.Allocate(c.w, c.h, c.channels));
        for (size_t i = 0; i < source.Bytes(); ++i) source.data[i] = static_cast<uint8_t>(random());
        detail::Pixels results[2];
        for (bool avx2 : {false, true}) {
            detail::AllowAvx2Resampling(avx2);
            ASSERT_TRUE(detail::Resample(source, false, c.outW, c.outH, results[avx2]));
        }
        detail::AllowAvx2Resampling(true);
        ASSERT_EQ(results[0].Bytes(), results[1].Bytes());
        EXPECT_EQ(std::memcmp(results[0].data.get(), results[1].data.get(), results[0].Bytes()), 0)
            << c.w << "x" << c.h << "x" << c.channels << " to " << c.outW << "x" << c.outH;
    }
}

}  // namespace
}  // namespace qx::test
