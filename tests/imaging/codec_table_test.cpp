// The codec table and its lookups, and the reasons that failed operations give.
#include <gtest/gtest.h>

#include <set>

#include "support.h"

namespace qx::test {

using namespace qx::imaging;
namespace {

TEST(CodecTable, RowsKeepTheStoredNumbersAndAreFoundEveryWay) {
    // Output types and input-type bits live in settings files: these numbers may never move.
    const struct {
        const char* name;
        const char* mime;
        const char* extension;
        int outputType;
        int inputBit;
    } expected[] = {{"jpg", "image/jpeg", ".jpg", 0, 1},   {"bmp", "image/bmp", ".bmp", 1, 0},
                    {"png", "image/png", ".png", 2, 2},    {"webp", "image/webp", ".webp", 3, 4},
                    {"avif", "image/avif", ".avif", 4, 5}, {"heic", "image/heic", ".heic", -1, 3},
                    {"jxl", "image/jxl", ".jxl", 5, 6}};
    std::set<int> outputTypes, inputBits;
    for (const Codec& codec : Codecs()) {
        outputTypes.insert(codec.outputType);
        if (codec.inputTypeBit >= 0) inputBits.insert(codec.inputTypeBit);
        EXPECT_EQ(FindCodecByName(codec.name), &codec);
        EXPECT_EQ(FindCodecByMimeType(codec.mimeType), &codec);
        if (codec.outputType >= 0) {
            EXPECT_EQ(FindCodecByOutputType(codec.outputType), &codec);
        }
    }
    EXPECT_EQ(outputTypes.size(), Codecs().size());  // no number twice
    // EingabeTyp's three bits and WeitereEingabeTypen's four above them, each once.
    EXPECT_EQ(inputBits, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
    for (const auto& row : expected) {
        SCOPED_TRACE(row.name);
        const Codec* codec = FindCodecByName(row.name);
        ASSERT_NE(codec, nullptr);
        EXPECT_STREQ(codec->mimeType, row.mime);
        EXPECT_STREQ(codec->extension, row.extension);
        EXPECT_EQ(codec->outputType, row.outputType);
        EXPECT_EQ(codec->inputTypeBit, row.inputBit);
    }
    EXPECT_EQ(FindCodecByOutputType(static_cast<int32_t>(Codecs().size())), nullptr);  // the next free number
    EXPECT_EQ(FindCodecByOutputType(-1), nullptr);
    EXPECT_EQ(FindCodecByName("JPG"), nullptr);  // words are exact
    EXPECT_EQ(FindCodecByMimeType("IMAGE/PNG"), nullptr);
    EXPECT_EQ(FindCodecByName("jpeg"), nullptr);  // an input name, not the format's word
}

TEST(CodecTable, ExtensionsIgnoreLetterCaseAndNothingElse) {
    const Codec& jpeg = *FindCodecByName("jpg");
    for (const char* yes : {".jpg", ".JPG", ".jpeg", ".JpEg"}) EXPECT_TRUE(jpeg.HasExtension(yes)) << yes;
    for (const char* no : {"jpg", ".jpe", ".jfif", ".jpgx", ".jp", "", ".png"})
        EXPECT_FALSE(jpeg.HasExtension(no)) << no;
    EXPECT_TRUE(FindCodecByName("png")->HasExtension(".PnG"));
    EXPECT_FALSE(FindCodecByName("bmp")->HasExtension(".dib"));
}

TEST(Reasons, ReadingSaysWhyAFileIsNoImage) {
    ScratchDir folder;
    Error error;
    EXPECT_FALSE(Bitmap::FromFile((folder / "nothing.png"), &error));
    EXPECT_EQ(error.failure, Failure::OpenFailed);
    EXPECT_EQ(error.detail, "No such file or directory");

    EXPECT_FALSE(Bitmap::FromFile(folder.path(), &error));
    EXPECT_EQ(error.failure, Failure::NotAFile);

    // Content, not name: a PNG called .jpg is read as the PNG it is; text is no format at all.
    WriteBytes((folder / "text.jpg"), "just some text, long enough to sniff");
    EXPECT_FALSE(Bitmap::FromFile((folder / "text.jpg"), &error));
    EXPECT_EQ(error.failure, Failure::UnknownFormat);
    WriteBytes((folder / "png.jpg"), ReadBytes(Corpus("pillow/hopper.png")));
    EXPECT_TRUE(Bitmap::FromFile((folder / "png.jpg"), &error));

    // libjpeg's own words survive: a start marker and then nothing it can use.
    WriteBytes((folder / "empty.jpg"), std::string("\xFF\xD8\xFF\x01\x02\x03", 6) + std::string(40, '\0'));
    EXPECT_FALSE(Bitmap::FromFile((folder / "empty.jpg"), &error));
    EXPECT_EQ(error.failure, Failure::BadHeader);
    EXPECT_EQ(error.detail, "JPEG datastream contains no image");

    EXPECT_FALSE(Bitmap::FromFile(Corpus("generated/bombs/png-ihdr-100000x100000.png"), &error));
    EXPECT_EQ(error.failure, Failure::TooLarge);
    EXPECT_FALSE(Bitmap::FromFile(Corpus("generated/bombs/bmp-header-100000x100000.bmp"), &error));
    EXPECT_EQ(error.failure, Failure::TooLarge);
}

TEST(Reasons, BrokenPixelsGiveTheCodecsWordsOnEveryPathAndAgain) {
    ScratchDir folder;
    std::string bytes = ReadBytes(Corpus("pillow/hopper.png"));
    bytes.resize(bytes.size() / 2);
    WriteBytes((folder / "cut.png"), bytes);
    std::unique_ptr<Bitmap> bitmap = Bitmap::FromFile((folder / "cut.png"));
    ASSERT_TRUE(bitmap);
    Error first;
    EXPECT_FALSE(bitmap->Decode(&first));
    EXPECT_EQ(first.failure, Failure::BrokenData);
    EXPECT_FALSE(first.detail.empty());  // spng_strerror's text
    Error again;
    EXPECT_FALSE(bitmap->Decode(&again));  // a known-broken bitmap repeats its reason without decoding anew
    EXPECT_EQ(again.failure, first.failure);
    EXPECT_EQ(again.detail, first.detail);
    Error saved;
    EXPECT_FALSE(bitmap->Save((folder / "x.png"), *FindCodecByName("png"), 80, &saved));
    EXPECT_EQ(saved.failure, Failure::BrokenData);

    std::unique_ptr<Bitmap> fresh = Bitmap::FromFile((folder / "cut.png"));
    std::unique_ptr<Bitmap> target = Bitmap::CreateArgb(10, 10);
    Error drawn;
    EXPECT_FALSE(Graphics(*target).DrawImage(*fresh, 0, 0, 10, 10, &drawn));
    EXPECT_EQ(drawn.failure, Failure::BrokenData);
    EXPECT_EQ(drawn.detail, first.detail);
}

TEST(Reasons, SavingSaysWhyAndLeavesNothing) {
    ScratchDir folder;
    std::unique_ptr<Bitmap> bitmap = Bitmap::CreateArgb(8, 8);
    const Codec& png = *FindCodecByName("png");
    Error error;
    EXPECT_FALSE(bitmap->Save((folder / "missing/out.png"), png, 80, &error));
    EXPECT_EQ(error.failure, Failure::CreateFailed);
    EXPECT_EQ(error.detail, "No such file or directory");

    ASSERT_EQ(::mkdir((folder / "dir.png").c_str(), 0755), 0);
    EXPECT_FALSE(bitmap->Save((folder / "dir.png"), png, 80, &error));
    EXPECT_EQ(error.failure, Failure::WriteFailed);  // the rename over a folder
    EXPECT_EQ(error.detail, "Is a directory");
    EXPECT_EQ(FolderEntries(folder.path()).size(), 1u);

    WriteBytes((folder / "source.png"), ReadBytes(Corpus("pillow/hopper.png")));
    std::unique_ptr<Bitmap> source = Bitmap::FromFile((folder / "source.png"));
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->Save((folder / "source.png"), png, 80, &error));
    EXPECT_EQ(error.failure, Failure::TargetIsSource);
}

}  // namespace
}  // namespace qx::test
