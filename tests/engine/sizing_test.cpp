// The size rules, the no-enlarge rule and the text conversion, without images.
#include <gtest/gtest.h>

#include <climits>

#include "engine/compress.h"

namespace qx::test {
namespace {

std::pair<int32_t, int32_t> Fit(int32_t w, int32_t h, int32_t maxW, int32_t maxH) {
    FitIntoBox(w, h, maxW, maxH);
    return {w, h};
}

TEST(FitIntoBox, FillsHeightFirstThenWidthAndEnlarges) {
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ(Fit(800, 600, 640, 480), P(640, 480));
    EXPECT_EQ(Fit(1000, 500, 640, 480), P(640, 320));  // candidate width 960 > 640
    EXPECT_EQ(Fit(640, 480, 640, 480), P(640, 480));   // width exactly the box: first branch
    EXPECT_EQ(Fit(300, 400, 640, 480), P(360, 480));   // enlarged until it touches the box
    EXPECT_EQ(Fit(1000, 300, 640, 480), P(640, 192));
}

TEST(FitIntoBox, TruncatesAndLeavesDegenerateSizesAlone) {
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ(Fit(0, 300, 640, 480), P(0, 300));
    EXPECT_EQ(Fit(300, 0, 640, 480), P(300, 0));
    EXPECT_EQ(Fit(333, 201, 100, 100), P(100, 60));  // 201*100/333 = 60.36 truncated
    EXPECT_EQ(Fit(100000, 1, 640, 480), P(640, 0));  // very thin: a height of 0
}

TEST(FitIntoBox, WideSourcesDoNotWrap) {
    using P = std::pair<int32_t, int32_t>;
    // 250000 * 10000 does not fit in 32 bits; the width fills the box and the height is 25 * 10000 / 250000.
    EXPECT_EQ(Fit(250000, 25, 10000, 10000), P(10000, 1));
    EXPECT_EQ(Fit(25, 250000, 10000, 10000), P(1, 10000));
    EXPECT_EQ(Fit(262144, 262144, 10000, 10000), P(10000, 10000));
    EXPECT_EQ(Fit(3000000, 2, 10000, 10000), P(10000, 0));  // thin enough for a height of 0
    // A candidate that no 32-bit side can hold fits no box; INT_MIN / -1 must not trap.
    EXPECT_EQ(Fit(INT_MIN, -1, 1, 1), P(1, 0));
    EXPECT_EQ(Fit(INT_MAX, 1, INT_MAX, INT_MAX), P(INT_MAX, 1));
    EXPECT_EQ(Fit(262144, 1, 5, INT_MIN), P(262144, 1));  // the candidate width lies below INT_MIN
}

MainSettings Rule(int32_t bildsize, uint32_t prozent = 100, uint32_t breite = 640, uint32_t hoehe = 480,
                  int32_t noEnlarge = 0) {
    MainSettings s;
    s.Bildsize = bildsize;
    s.Prozent = prozent;
    s.Breite = breite;
    s.Hoehe = hoehe;
    s.NichtVergroessern = noEnlarge;
    return s;
}

TEST(ComputeTargetSize, PercentIsUnsignedModulo32BitThenDividedBy100) {
    TargetSize t = ComputeTargetSize(Rule(0, 50), 333, 201);
    EXPECT_EQ(t.width, 166u);
    EXPECT_EQ(t.height, 100u);
    t = ComputeTargetSize(Rule(0, 999), 5000000, 3);
    EXPECT_EQ(t.width, static_cast<uint32_t>(5000000u * 999u) / 100u);  // the product wraps
    EXPECT_EQ(t.height, 29u);
    t = ComputeTargetSize(Rule(0, 1), 99, 99);
    EXPECT_EQ(t.width, 0u);
}

TEST(ComputeTargetSize, BoxSourceAndNoChoice) {
    TargetSize t = ComputeTargetSize(Rule(1), 300, 400);
    EXPECT_EQ(t.width, 360u);
    EXPECT_EQ(t.height, 480u);
    t = ComputeTargetSize(Rule(1, 100, 10000, 10000), 250000, 25);
    EXPECT_EQ(t.width, 10000u);
    EXPECT_EQ(t.height, 1u);
    for (int32_t rule : {2, -1, 7}) {
        t = ComputeTargetSize(Rule(rule, 50), 333, 201);
        EXPECT_EQ(t.width, 333u) << rule;
        EXPECT_EQ(t.height, 201u) << rule;
    }
}

TEST(NoEnlarge, SkipsUnlessOneDimensionShrinks) {
    MainSettings box = Rule(1, 100, 640, 480, 1);
    EXPECT_TRUE(IsLeftAloneByNoEnlarge(box, 300, 400, ComputeTargetSize(box, 300, 400)));
    EXPECT_FALSE(IsLeftAloneByNoEnlarge(box, 1000, 300, ComputeTargetSize(box, 1000, 300)));
    MainSettings same = Rule(0, 100, 640, 480, 1);
    EXPECT_TRUE(IsLeftAloneByNoEnlarge(same, 333, 201, ComputeTargetSize(same, 333, 201)));
    MainSettings source = Rule(2, 100, 640, 480, 1);
    EXPECT_TRUE(IsLeftAloneByNoEnlarge(source, 5, 5, ComputeTargetSize(source, 5, 5)));
    source.NichtVergroessern = 0;
    EXPECT_FALSE(IsLeftAloneByNoEnlarge(source, 5, 5, ComputeTargetSize(source, 5, 5)));
    // Compared unsigned: a negative box result is a huge target, so the image is left alone.
    EXPECT_TRUE(IsLeftAloneByNoEnlarge(box, 10, 10, TargetSize{0xFFFFFFF0u, 0xFFFFFFF0u}));
}

}  // namespace
}  // namespace qx::test
