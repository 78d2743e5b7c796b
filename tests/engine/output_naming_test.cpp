// Output types and the output naming rule.
#include <gtest/gtest.h>

#include <string>

#include "engine/batch.h"
#include "engine/imaging/imaging.h"

namespace qx::test {
namespace {

PathParts Split(const std::string& path) {
    PathParts parts;
    parts.directory = path.substr(0, path.rfind('/') + 1);
    std::string file = path.substr(parts.directory.size());
    size_t dot = file.rfind('.');
    parts.title = dot == std::string::npos ? file : file.substr(0, dot);
    parts.extension = dot == std::string::npos ? "" : file.substr(dot);
    return parts;
}

ParameterSettings Pattern(const std::string& prefix, int32_t stellen, int32_t lfdNr) {
    ParameterSettings p;
    p.AusgabeDateiTyp = 1;
    p.Prefix = prefix;
    p.Stellen = stellen;
    p.LfdNr = lfdNr;
    return p;
}

TEST(OutputNaming, PatternPadsAndGrowsPastItsDigits) {
    const PathParts source = Split("/bilder/urlaub.png");
    ParameterSettings p = Pattern("Pic", 3, 1);
    EXPECT_EQ(MakeOutputName(p, 1, source, 0), "Pic001");
    EXPECT_EQ(MakeOutputName(p, 1, source, 1), "Pic002");
    EXPECT_EQ(MakeOutputName(p, 1, source, 2), "Pic003");
    p.LfdNr = 998;
    EXPECT_EQ(MakeOutputName(p, 1, source, 0), "Pic998");
    EXPECT_EQ(MakeOutputName(p, 1, source, 1), "Pic999");
    EXPECT_EQ(MakeOutputName(p, 1, source, 2), "Pic1000");
    // In the source's own folder the pattern gets no "_c".
    EXPECT_EQ(MakeOutputName(Pattern("Pic", 3, 1), 0, source, 0), "Pic001");
    EXPECT_EQ(MakeOutputName(Pattern("", 1, 5), 0, source, 0), "5");
}

TEST(OutputNaming, HandEditedPatternValuesStayBounded) {
    const PathParts source = Split("/a/b.jpg");
    EXPECT_EQ(MakeOutputName(Pattern("P", -3, 7), 1, source, 0), "P7  ");  // C's left-justify for a negative width
    EXPECT_EQ(MakeOutputName(Pattern("P", 2000000000, 7), 1, source, 0).size(), 1u + 4096u);
    EXPECT_EQ(MakeOutputName(Pattern("P", 1, INT32_MAX), 1, source, 1), "P-2147483648");  // wraps as 32-bit
}

TEST(OutputNaming, NamesLikeTheSourcesGetCOnlyInTheirOwnFolder) {
    ParameterSettings p;
    p.AusgabeDateiTyp = 0;
    const PathParts source = Split("/bilder/urlaub.png");
    EXPECT_EQ(MakeOutputName(p, 0, source, 0), "urlaub_c");
    EXPECT_EQ(MakeOutputName(p, 1, source, 0), "urlaub");
    EXPECT_EQ(MakeOutputName(p, -1, source, 0), "urlaub");
    p.AusgabeDateiTyp = 2;  // no naming rule: empty name
    EXPECT_EQ(MakeOutputName(p, 1, source, 0), "");
}

TEST(OutputNaming, TargetFolderGetsOneTrailingSeparator) {
    EXPECT_EQ(TargetFolderText("/out"), "/out/");
    EXPECT_EQ(TargetFolderText("/out/"), "/out/");
    EXPECT_EQ(TargetFolderText("/"), "/");
    EXPECT_EQ(TargetFolderText(""), "/");
    EXPECT_EQ(TargetFolderText("C:\\Out\\"), "C:\\Out\\/");  // "\" is an ordinary character here
}

TEST(OutputFormats, TableAndOutOfRangeTypes) {
    ASSERT_NE(FindOutputFormat(0), nullptr);
    EXPECT_STREQ(FindOutputFormat(0)->extension, ".jpg");
    EXPECT_STREQ(FindOutputFormat(0)->mimeType, "image/jpeg");
    EXPECT_STREQ(FindOutputFormat(1)->extension, ".bmp");
    EXPECT_STREQ(FindOutputFormat(1)->mimeType, "image/bmp");
    EXPECT_STREQ(FindOutputFormat(2)->extension, ".png");
    EXPECT_STREQ(FindOutputFormat(2)->mimeType, "image/png");
    EXPECT_STREQ(FindOutputFormat(3)->extension, ".webp");
    EXPECT_STREQ(FindOutputFormat(3)->mimeType, "image/webp");
    EXPECT_STREQ(FindOutputFormat(4)->extension, ".avif");
    EXPECT_STREQ(FindOutputFormat(4)->mimeType, "image/avif");
    EXPECT_STREQ(FindOutputFormat(5)->extension, ".jxl");
    EXPECT_STREQ(FindOutputFormat(5)->mimeType, "image/jxl");
    EXPECT_EQ(FindOutputFormat(static_cast<int32_t>(imaging::Codecs().size())), nullptr);  // the next free type
    EXPECT_EQ(FindOutputFormat(-1), nullptr);
}

TEST(ThreadAnzahl, StoredValuesOutsideTheDialogRangeTakeTheNearestBound) {
    EXPECT_EQ(EffectiveThreadAnzahl(-5), 0);
    EXPECT_EQ(EffectiveThreadAnzahl(0), 0);
    EXPECT_EQ(EffectiveThreadAnzahl(10), 10);
    EXPECT_EQ(EffectiveThreadAnzahl(1000), 1000);
    EXPECT_EQ(EffectiveThreadAnzahl(5000), 1000);
}

}  // namespace
}  // namespace qx::test
