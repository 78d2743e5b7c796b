// The quality chosen per image by quendrix-batch on real photos: every output type of the codec table whose
// encoder takes a quality, each written file measured again with libjxl's butteraugli against the same
// batch's lossless output, and the option's interplay with the settings file and the size limit.
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>

#include "res/strings.h"
#include "support/child_process.h"
#include "support/images.h"
#include "support/webp_avif.h"

namespace qx::test {
namespace {

struct Rgb {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bytes;
};

// The pixels a viewer shows of an output, each format decoded by its own library (AVIF as RGB, as the
// option measures it).
Rgb DecodeRgb(const std::string& path) {
    Rgb rgb;
    const std::string format = std::filesystem::path(path).extension().string().substr(1);
    const std::string bytes = ReadBytes(path);
    if (const std::optional<Decoded> decoded =
            format == "avif" ? DecodeAvif(bytes, AVIF_RGB_FORMAT_RGB) : DecodeOutput(format, bytes)) {
        rgb = {decoded->width, decoded->height, {}};
        for (size_t at = 0; at < decoded->rgba.size(); at += decoded->channels)
            rgb.bytes.insert(rgb.bytes.end(), decoded->rgba.begin() + at, decoded->rgba.begin() + at + 3);
        return rgb;
    }
    auto bitmap = imaging::Bitmap::FromFile(path);
    if (!bitmap) return rgb;
    rgb = {bitmap->Width(), bitmap->Height(), {}};
    for (uint32_t y = 0, argb = 0; y < rgb.height; ++y)
        for (uint32_t x = 0; x < rgb.width && bitmap->GetPixel(x, y, argb); ++x)
            rgb.bytes.insert(rgb.bytes.end(), {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)});
    return rgb;
}

// The butteraugli 3-norm, as the option measures it.
float Distance(const Rgb& reference, const Rgb& output) {
    EXPECT_EQ(reference.bytes.size(), output.bytes.size());
    if (reference.bytes.size() != output.bytes.size() || reference.bytes.empty()) return 1e9f;
    return WholeImageButteraugli(reference.width, reference.height, 3, reference.bytes.data(), output.bytes.data());
}

std::vector<QJsonObject> ReportRows(const std::string& path) {
    std::vector<QJsonObject> rows;
    for (const QByteArray& line : QByteArray::fromStdString(ReadBytes(path)).split('\n'))
        if (!line.isEmpty()) rows.push_back(QJsonDocument::fromJson(line).object());
    return rows;
}

class AutoQualityTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDir(dir / "fotos");
        for (const auto& camera : std::filesystem::directory_iterator(kCorpus + "/cameras"))
            if (camera.path().extension() == ".jpg")
                WriteBytes(dir / ("fotos/" + camera.path().filename().string()), ReadBytes(camera.path()));
        WriteImage(dir / "fotos/gemacht.jpg", 800, 600);
        settings = dir / "quendrix.ini";
        WriteBytes(settings, "[Allg]\nRate=80\nBildsize=1\nBreite=320\nHoehe=240\n[Parameter]\nThreadAnzahl=2\n");
    }
    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--settings", settings, "--quiet"});
        return RunChild(kBatchProgram, {.args = args, .env = {{"HOME", dir / "home"}}});
    }
    ScratchDir dir;
    std::string settings;
};

TEST_F(AutoQualityTest, EachLossyOutputStaysWithinTheDistanceAndBelowRate) {
    // Far enough above Rate 80's distances that the search has room to go lower in every format (it stops at
    // a probe near the distance, so a distance close to Rate's may leave every file at Rate).
    constexpr int kDistance = 3;
    ASSERT_EQ(Run({"--type", "png", "--target-folder", dir / "png", dir / "fotos"}).exitCode, 0);
    for (const imaging::Codec& codec : imaging::Codecs()) {
        // A format the program does not read cannot be measured: it keeps Rate.
        if (!codec.takesQuality || codec.outputType < 0 || codec.inputTypeBit < 0) continue;
        const std::string report = dir / (std::string(codec.name) + ".jsonl");
        const RunResult r = Run({"--auto-quality", std::to_string(kDistance), "--type", codec.name, "--target-folder",
                                 dir / codec.name, "--report", report, dir / "fotos"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        int lowered = 0;
        for (const QJsonObject& row : ReportRows(report)) {
            const std::string target = row["target"].toString().toStdString();
            const std::string reference = (std::filesystem::path(dir / "png") /
                                           std::filesystem::path(target).filename().replace_extension(".png"));
            const int quality = row["quality"].toInt(-1);
            const float measured = Distance(DecodeRgb(reference), DecodeRgb(target));
            EXPECT_LE(quality, 80) << target;
            EXPECT_NEAR(measured, row["distance"].toDouble(), 0.006) << target;
            if (quality < 80) {
                EXPECT_LE(measured, float(kDistance)) << target;
            }
            lowered += quality < 80;
        }
        EXPECT_GT(lowered, 0) << codec.name;
    }
}

TEST_F(AutoQualityTest, TheKeyFromTheFileTheOptionAndTheSizeLimitThatWins) {
    WriteBytes(settings, ReadBytes(settings) + "[Erweitert]\nAutoQualitaet=10\nMaxKBAktiv=1\nMaxKB=6\n");
    EXPECT_NE(Run({"--show-settings"}).out.find("\nAutoQualitaet=10\n"), std::string::npos);
    for (const auto& [given, stored] : {std::pair{"1.5", "15"}, {"2,0", "20"}, {"3", "30"}, {"0", "0"}, {"10", "100"}})
        EXPECT_NE(Run({"--show-settings", "--auto-quality", given}).out.find(std::string("\nAutoQualitaet=") + stored),
                  std::string::npos)
            << given;
    for (const char* bad : {"1.25", "10.1", "-1", "x", "", "1."}) {
        const RunResult r = Run({"--auto-quality", bad, "--target-folder", dir / "aus", dir / "fotos"});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find(res::LoadString(res::IDS_CLI_AUTO_QUALITY_FORMS)), std::string::npos) << bad;
        EXPECT_FALSE(Exists(dir / "aus")) << bad;
    }
    // Distance 1.0 from the file with a limit of 6 KB: the limit decides, and the report says so.
    ASSERT_EQ(Run({"--target-folder", dir / "aus", "--report", dir / "r.jsonl", dir / "fotos"}).exitCode, 0);
    int limitWon = 0;
    for (const QJsonObject& row : ReportRows(dir / "r.jsonl")) {
        const std::string reason = row["reason"].toString().toStdString();
        EXPECT_LE(row["quality"].toInt(-1), 80);
        EXPECT_GE(row["distance"].toDouble(-1), 0);
        if (reason != res::LoadString(res::IDS_LIMIT_NOT_REACHED)) {
            EXPECT_LE(row["bytes_after"].toInt(), 6 * 1024);
        }
        limitWon += reason == res::LoadString(res::IDS_LIMIT_WON);
    }
    EXPECT_GT(limitWon, 0);
}

TEST_F(AutoQualityTest, GreySourcesAtTheirOwnSizeAreMeasuredToo) {
    // At its own size a grey source is not redrawn into colour, so the search measures grey pixels.
    MakeDir(dir / "grau");
    for (const char* grey : {"pillow/hopper_gray.jpg", "pngsuite/basn0g08.png", "pngsuite/basn0g16.png"})
        WriteBytes(dir / ("grau/" + std::filesystem::path(grey).filename().string()), ReadBytes(kCorpus + "/" + grey));
    for (const char* type : {"jpg", "webp"}) {
        const std::string report = dir / (std::string(type) + ".jsonl");
        const RunResult r = Run({"--size", "source", "--auto-quality", "2", "--type", type, "--target-folder",
                                 dir / type, "--report", report, dir / "grau"});
        ASSERT_EQ(r.exitCode, 0) << type << ": " << r.err;
        const std::vector<QJsonObject> rows = ReportRows(report);
        EXPECT_EQ(rows.size(), 3u) << type;
        for (const QJsonObject& row : rows) {
            const double distance = row["distance"].toDouble(-1);
            EXPECT_GE(distance, 0) << row["source"].toString().toStdString();
            if (row["quality"].toInt() < 80) {
                EXPECT_LE(distance, 2.0) << row["source"].toString().toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace qx::test
