// One image into one output file, with real files and the real codecs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "engine/compress.h"
#include "engine_test_support.h"
#include "res/strings.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::DecodedSize;
using test::Exists;
using test::ReadBytes;
using test::WriteImage;
using Size = std::pair<uint32_t, uint32_t>;

class CompressFileTest : public test::CompressorTest {
protected:
    void SetRule(int32_t bildsize, uint32_t prozent = 100, uint32_t breite = 640, uint32_t hoehe = 480,
                 int32_t noEnlarge = 0) {
        settings.Bildsize = bildsize;
        settings.Prozent = prozent;
        settings.Breite = breite;
        settings.Hoehe = hoehe;
        settings.NichtVergroessern = noEnlarge;
    }
    // Compresses a fresh w x h PNG into out.png; the decoded size of the output, or nothing.
    std::optional<Size> Run(uint32_t w, uint32_t h) {
        const std::string source = dir / ("src-" + std::to_string(w) + "x" + std::to_string(h) + ".png");
        if (!Exists(source)) WriteImage(source, w, h, "png");
        const std::string target = dir / "out.png";
        std::filesystem::remove(target);
        EXPECT_TRUE(compressor.CompressFile(source, target, test::CodecNamed("png")));
        return DecodedSize(target);
    }
};

TEST_F(CompressFileTest, PercentRule) {
    SetRule(0, 50);
    EXPECT_EQ(Run(333, 201), Size(166, 100));
    SetRule(0, 100);
    EXPECT_EQ(Run(333, 201), Size(333, 201));  // redrawn and saved at the same size
    SetRule(0, 100, 640, 480, 1);
    EXPECT_EQ(Run(333, 201), std::nullopt);  // the same size does not shrink: left alone
    EXPECT_EQ(compressor.SkippedCount.load(), 1);
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CompressFileTest, BoxRuleAndNoEnlarge) {
    SetRule(1);
    EXPECT_EQ(Run(800, 600), Size(640, 480));
    EXPECT_EQ(Run(1000, 500), Size(640, 320));
    EXPECT_EQ(Run(640, 480), Size(640, 480));
    EXPECT_EQ(Run(300, 400), Size(360, 480));  // enlarged
    SetRule(1, 100, 640, 480, 1);
    EXPECT_EQ(Run(300, 400), std::nullopt);
    EXPECT_EQ(compressor.SkippedCount.load(), 1);
    EXPECT_EQ(Run(1000, 300), Size(640, 192));  // wider than the box: processed
    EXPECT_EQ(compressor.SkippedCount.load(), 1);
    EXPECT_EQ(compressor.WrittenCount.load(), 5);
}

TEST_F(CompressFileTest, ASourceWiderThan32BitProductsFitsTheBox) {
    // 250000 * 10000 overflows 32 bits: the fit must still give 10000 x 1, with and without no-enlarge.
    SetRule(1, 100, 10000, 10000);
    EXPECT_EQ(Run(250000, 25), Size(10000, 1));
    SetRule(1, 100, 10000, 10000, 1);
    EXPECT_EQ(Run(250000, 25), Size(10000, 1));
    EXPECT_EQ(compressor.SkippedCount.load(), 0);
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CompressFileTest, SourceSizeRule) {
    SetRule(2, 50, 640, 480, 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Run(120 + i, 80), std::nullopt);
    EXPECT_EQ(compressor.SkippedCount.load(), 3);
    SetRule(2, 50);
    EXPECT_EQ(Run(121, 80), Size(121, 80));
    SetRule(-1, 50);  // no size choice: redrawn at the source size
    EXPECT_EQ(Run(121, 80), Size(121, 80));
}

TEST_F(CompressFileTest, EveryOutputTypeDecodesAtTheTargetSize) {
    const std::string source = dir / "photo.jpg";
    WriteImage(source, 400, 300, "jpg");
    for (int32_t rule : {1, 2}) {
        SetRule(rule, 100, 200, 200);
        for (auto [format, name] : {std::pair{"jpg", "o.jpg"}, {"bmp", "o.bmp"}, {"png", "o.png"}}) {
            for (uint32_t rate : {0u, 100u}) {
                settings.Rate = rate;  // the quality block goes to every encoder
                const std::string target = dir / name;
                ASSERT_TRUE(compressor.CompressFile(source, target, test::CodecNamed(format))) << name;
                EXPECT_EQ(DecodedSize(target), rule == 1 ? Size(200, 150) : Size(400, 300)) << name;
            }
        }
    }
    EXPECT_TRUE(messages.messages().empty());
}

TEST_F(CompressFileTest, NonImageNamesTheSource) {
    const std::string source = dir / "kein bild.jpg";
    test::WriteBytes(source, "this is text, not a picture");
    const std::string target = dir / "out.jpg";
    EXPECT_FALSE(compressor.CompressFile(source, target, test::CodecNamed("jpg")));
    EXPECT_EQ(messages.messages(), std::vector<std::string>{"Keine gültige Bilddatei: " + source});
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(compressor.SkippedCount.load(), 0);
    // A missing source is unreadable too.
    EXPECT_FALSE(compressor.CompressFile(dir / "missing.png", target, test::CodecNamed("jpg")));
    EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "missing.png"));
}

TEST_F(CompressFileTest, TruncatedImageIsUnreadableUnderEveryRule) {
    const std::string whole = dir / "whole.jpg";
    WriteImage(whole, 400, 300, "jpg");
    const std::string bytes = ReadBytes(whole);
    const std::string source = dir / "cut.jpg";
    test::WriteBytes(source, bytes.substr(0, 700));  // the header survives, the scan data does not
    for (int32_t rule : {1, 2}) {
        SetRule(rule, 100, 100, 100);
        const std::string target = dir / "out.png";
        bool ok = compressor.CompressFile(source, target, test::CodecNamed("png"));
        if (!ok) {
            EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_NOT_AN_IMAGE, source));
            EXPECT_FALSE(Exists(target));
        }
    }
}

TEST_F(CompressFileTest, SaveFailuresNameTheTarget) {
    const std::string source = dir / "a.png";
    WriteImage(source, 50, 50, "png");
    SetRule(1, 100, 40, 40);
    const std::string intoMissing = dir / "nicht da/a.png";
    EXPECT_FALSE(compressor.CompressFile(source, intoMissing, test::CodecNamed("png")));
    EXPECT_EQ(messages.messages().back(),
              "Beim Erzeugen der Zieldatei: " + intoMissing + " ist ein Fehler aufgetreten.");

    const std::string target = dir / "b.gif";
    EXPECT_FALSE(compressor.CompressFile(source, target, nullptr));  // no output format
    EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_SAVE_FAILED, target));
    EXPECT_FALSE(Exists(target));

    SetRule(0, 1);  // 50 * 1 / 100 = 0: no target bitmap
    const std::string zero = dir / "zero.png";
    EXPECT_FALSE(compressor.CompressFile(source, zero, test::CodecNamed("png")));
    EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_SAVE_FAILED, zero));
    SetRule(1, 100, 640, 480);
    WriteImage(source, 100000, 1, "png");  // a very thin source: the fit gives a height of 0
    EXPECT_FALSE(compressor.CompressFile(source, zero, test::CodecNamed("png")));
    EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_SAVE_FAILED, zero));
    EXPECT_FALSE(Exists(zero));
    EXPECT_EQ(compressor.FailedCount.load(), 4);
    EXPECT_EQ(compressor.SkippedCount.load(), 0);
}

TEST_F(CompressFileTest, FailedSaveLeavesTheOldTargetIntact) {
    const std::string source = dir / "a.png";
    WriteImage(source, 200, 200, "png");
    SetRule(2);
    const std::string target = dir / "old.bmp";
    test::WriteBytes(target, "the old file");
    // A disk that is full for this file: a size limit, with the signal it raises ignored.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = compressor.CompressFile(source, target, test::CodecNamed("bmp"));  // 120000 bytes of pixels
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_SAVE_FAILED, target));
    EXPECT_EQ(ReadBytes(target), "the old file");
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"a.png", "old.bmp"}));
}

TEST_F(CompressFileTest, TargetThatIsTheSourceLeavesItUntouched) {
    const std::string source = dir / "foto.jpg";
    WriteImage(source, 300, 200, "jpg");
    const std::string original = ReadBytes(source);
    ASSERT_EQ(::symlink(source.c_str(), (dir / "link.jpg").c_str()), 0);
    ASSERT_EQ(::link(source.c_str(), (dir / "hard.jpg").c_str()), 0);
    for (int32_t rule : {1, 2}) {
        SetRule(rule, 100, 100, 100);
        for (const std::string& target : {source, dir / "link.jpg", dir / "hard.jpg", dir / "./foto.jpg"}) {
            EXPECT_FALSE(compressor.CompressFile(source, target, test::CodecNamed("jpg"))) << target;
            EXPECT_EQ(messages.messages().back(), res::FormatString(res::IDS_SAVE_FAILED, target));
            EXPECT_EQ(ReadBytes(source), original);
        }
        // Also when the source is named through the link.
        EXPECT_FALSE(compressor.CompressFile(dir / "link.jpg", source, test::CodecNamed("jpg")));
    }
    EXPECT_EQ(ReadBytes(source), original);
    EXPECT_EQ(test::FolderEntries(dir.path()), (std::vector<std::string>{"foto.jpg", "hard.jpg", "link.jpg"}));
}

TEST_F(CompressFileTest, ProtectedFilesAreNeverReplaced) {
    const std::string a = dir / "a.png";
    const std::string other = dir / "a.jpg";
    WriteImage(a, 60, 60, "png");
    WriteImage(other, 60, 60, "jpg");
    const std::string otherBytes = ReadBytes(other);
    FileIdentity id;
    ASSERT_TRUE(GetFileIdentity(other, id));
    compressor.ProtectFiles({id});
    SetRule(1, 100, 30, 30);
    EXPECT_FALSE(compressor.CompressFile(a, other, test::CodecNamed("jpg")));
    EXPECT_EQ(ReadBytes(other), otherBytes);
    EXPECT_TRUE(compressor.CompressFile(a, dir / "new.jpg", test::CodecNamed("jpg")));
}

TEST_F(CompressFileTest, NamesThatAreNotUtf8) {
    const std::string source = dir / "bild\xff\xfe.png";
    WriteImage(source, 80, 60, "png");
    SetRule(0, 50);
    const std::string target = dir / "ziel\xe4.jpg";
    ASSERT_TRUE(compressor.CompressFile(source, target, test::CodecNamed("jpg")));
    EXPECT_EQ(DecodedSize(target), Size(40, 30));
}

TEST_F(CompressFileTest, OversizedDecodesRunAloneUnderASmallBudget) {
    // A budget smaller than one image still lets every file through, one at a time.
    MemoryBudget tiny(1);
    Compressor small(settings, messages, tiny);
    const std::string source = dir / "a.png";
    WriteImage(source, 300, 300, "png");
    SetRule(1, 100, 100, 100);
    std::vector<std::thread> threads;
    std::atomic<int> ok{0};
    for (int i = 0; i < 6; ++i)
        threads.emplace_back([&, i] {
            if (small.CompressFile(source, dir / ("o" + std::to_string(i) + ".png"), test::CodecNamed("png"))) ++ok;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), 6);
    EXPECT_EQ(tiny.InUse(), 0u);
    EXPECT_GT(tiny.PeakInUse(), 100u * 100u * 4u);  // the target bitmap was counted
}

TEST_F(CompressFileTest, EveryFailureKeepsItsMessageAndGivesItsReason) {
    const std::string broken = dir / "broken.png";
    test::WriteBytes(broken, test::PngWithBrokenPixels(40, 30));
    const std::string good = dir / "good.png";
    WriteImage(good, 50, 50, "png");
    const imaging::Codec* png = imaging::FindCodecByName("png");
    const std::string missingFolder = dir / "fehlt/x.png";
    const std::string zero = dir / "zero.png";
    struct Case {
        std::string source;
        std::string target;
        const imaging::Codec* format;
        int32_t bildsize;
        std::string message;
        std::string reason;
    } cases[] = {
        {broken, dir / "o.png", png, 2, res::FormatString(res::IDS_NOT_AN_IMAGE, broken),
         res::LoadString(res::IDS_REASON_BROKEN_DATA) + ": "},
        {broken, dir / "o.png", png, 1, res::FormatString(res::IDS_NOT_AN_IMAGE, broken),  // through the scaled draw
         res::LoadString(res::IDS_REASON_BROKEN_DATA) + ": "},
        {good, missingFolder, png, 2, res::FormatString(res::IDS_SAVE_FAILED, missingFolder),
         res::LoadString(res::IDS_REASON_CREATE_FAILED) + ": No such file or directory"},
        {good, dir / "o.x", nullptr, 2, res::FormatString(res::IDS_SAVE_FAILED, dir / "o.x"),
         res::LoadString(res::IDS_REASON_NO_ENCODER)},
        {good, good, png, 2, res::FormatString(res::IDS_SAVE_FAILED, good),
         res::LoadString(res::IDS_REASON_TARGET_IS_SOURCE)},
        {good, zero, png, 0, res::FormatString(res::IDS_SAVE_FAILED, zero),
         res::LoadString(res::IDS_REASON_BAD_SIZE) + ": 0 x 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        SetRule(c.bildsize, 1, 640, 480);
        EXPECT_FALSE(compressor.CompressFile(c.source, c.target, c.format));
        ASSERT_FALSE(messages.messages().empty());
        EXPECT_EQ(messages.messages().back(), c.message);  // the box's text, word for word
        const std::string reason = messages.reasons().back();
        const std::string expected = "  Grund: " + c.reason;
        EXPECT_EQ(reason.substr(0, expected.size()), expected) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos);  // one line
    }
    // The UTF-16 MIME route finds the same codec; an unknown MIME type has no encoder.
    SetRule(2);
    EXPECT_FALSE(compressor.CompressFile(good, dir / "b.gif", nullptr));
    EXPECT_EQ(messages.reasons().back(), "  Grund: " + res::LoadString(res::IDS_REASON_NO_ENCODER));
    EXPECT_TRUE(compressor.CompressFile(good, dir / "c.bmp", test::CodecNamed("bmp")));
    EXPECT_EQ(ReadBytes(dir / "c.bmp").substr(0, 2), "BM");
}

}  // namespace
}  // namespace qx::test
