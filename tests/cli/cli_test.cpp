// quendrix-batch run as a program on real folders of real images, with real settings files.
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "res/strings.h"
#include "res/version.h"
#include "settings/settings.h"
#include "support/child_process.h"
#include "support/images.h"
#include "support/webp_avif.h"

namespace qx::test {
namespace {

using test::DecodedSize;
using test::Exists;
using test::FolderEntries;
using test::kBatchProgram;
using test::MakeDir;
using test::ReadBytes;
using test::RunChild;
using test::RunResult;
using test::ScratchDir;
using test::WriteBytes;
using test::WriteImage;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDir(dir / "fotos");
        MakeDir(dir / "fotos/urlaub");
        WriteImage(dir / "fotos/a.jpg", 800, 600, "jpg");
        WriteImage(dir / "fotos/b.JPG", 600, 800, "jpg");
        WriteImage(dir / "fotos/c.png", 400, 300, "png");
        WriteImage(dir / "fotos/urlaub/d.bmp", 320, 240, "bmp");
        WriteBytes(dir / "fotos/liesmich.txt", "kein Bild");
        settings = dir / "quendrix.ini";
        WriteBytes(settings, "[Allg]\nRate=75\n[Parameter]\nThreadAnzahl=2\n");
        env = {{"XDG_CONFIG_HOME", dir / "config"}, {"HOME", dir / "home"}};
    }

    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--settings", settings});
        return RunChild(kBatchProgram, {.args = args, .env = env});
    }

    std::map<std::string, std::string> Sources() {
        std::map<std::string, std::string> bytes;
        for (const char* name : {"a.jpg", "b.JPG", "c.png", "urlaub/d.bmp"})
            bytes[name] = ReadBytes(dir / "fotos/" + name);
        return bytes;
    }

    ScratchDir dir;
    std::string settings;
    std::map<std::string, std::string> env;
};

TEST_F(CliTest, FolderOfPhotosIntoATargetFolder) {
    const auto before = Sources();
    const std::string settingsBefore = ReadBytes(settings);
    const RunResult r = Run({"--size", "box:200x200", "--target-folder", dir / "aus", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "aus"), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
    EXPECT_EQ(DecodedSize(dir / "aus/a.jpg"), std::make_pair(200u, 150u));
    EXPECT_EQ(DecodedSize(dir / "aus/b.jpg"), std::make_pair(150u, 200u));
    EXPECT_EQ(DecodedSize(dir / "aus/c.jpg"), std::make_pair(200u, 150u));
    EXPECT_EQ(DecodedSize(dir / "aus/d.jpg"), std::make_pair(200u, 150u));
    EXPECT_EQ(Sources(), before) << "no source is touched";
    EXPECT_EQ(ReadBytes(settings), settingsBefore) << "the settings file is only read";
    EXPECT_NE(r.err.find("Fortschritt: 4/4\n"), std::string::npos)
        << "plain progress lines when stderr is no terminal: " << r.err;
    EXPECT_FALSE(Exists(dir / "config")) << "no settings folder is made";
}

TEST_F(CliTest, WrittenOnlyFormatsFromTheTypeOption) {
    // Every output type of the codec table is a word of --type that the help and the error name.
    const std::string help = Run({"--help"}).out;
    const size_t line = help.find("  --type ");
    ASSERT_NE(line, std::string::npos);
    const std::string words = help.substr(line, help.find('\n', line) - line);
    for (const imaging::Codec& codec : imaging::Codecs()) {
        if (codec.outputType < 0) continue;
        EXPECT_NE(words.find(codec.name), std::string::npos) << codec.name;
    }
    EXPECT_NE(help.find("Qualität 0..100 (für JPG-, WebP-, AVIF- und JPEG-XL-Ausgabedateien)"), std::string::npos);
    const auto before = Sources();
    for (const std::string type : {"webp", "avif", "jxl"}) {
        SCOPED_TRACE(type);
        const RunResult r =
            Run({"--quiet", "--type", type, "--size", "box:200x200", "--target-folder", dir / type, dir / "fotos"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(FolderEntries(dir / type),
                  (std::vector<std::string>{"a." + type, "b." + type, "c." + type, "d." + type}));
        const auto decoded = [&](const std::string& name) {
            const std::string bytes = ReadBytes(dir / type + "/" + name + "." + type);
            return test::DecodedOutputSize(type, bytes);
        };
        EXPECT_EQ(decoded("a"), std::make_pair(200u, 150u));
        EXPECT_EQ(decoded("b"), std::make_pair(150u, 200u));
        EXPECT_EQ(decoded("d"), std::make_pair(200u, 150u));
        std::string peerName = type;
        for (char& c : peerName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const std::string peer = test::PeerReaderFor(peerName);
        if (!peer.empty()) {
            EXPECT_EQ(test::PeerDecodedSize(peer, dir / type + "/c." + type), std::make_pair(200u, 150u)) << peer;
        }
    }
    EXPECT_EQ(Sources(), before);
}

TEST_F(CliTest, SettingsFileValuesAndPatternNamesInTheSourceFolders) {
    WriteBytes(settings,
               "[Allg]\nBildsize=0\nProzent=50\nZielPath=0\n"
               "[Parameter]\nAusgabeDateiTyp=1\nPrefix=Bild\nLfdNr=9\nStellen=1\nAusgabeTyp=2\nEingabeTyp=4\n"
               "ThreadAnzahl=1\n");
    const RunResult r = Run({"--quiet", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "") << "--quiet prints no progress";
    // Only PNG is accepted; the one row gets the first number.
    EXPECT_EQ(DecodedSize(dir / "fotos/Bild9.png"), std::make_pair(200u, 150u));
    EXPECT_EQ(FolderEntries(dir / "fotos").size(), 6u);

    // Options override single values: all types, names like the sources, "_c" in the source folder.
    const RunResult again = Run({"--quiet", "--accept", "jpg,bmp,png", "--names", "source", "--type", "bmp", "--size",
                                 "source", dir / "fotos/urlaub"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(DecodedSize(dir / "fotos/urlaub/d_c.bmp"), std::make_pair(320u, 240u));
}

TEST_F(CliTest, FailedFilesGiveExitCodeOneAndTheMessage) {
    // A target folder that cannot be made: every save fails with the system's message.
    WriteBytes(dir / "datei", "x");
    const std::string target = dir / "datei/aus";
    const RunResult r = Run({"--quiet", "--target-folder", target, dir / "fotos/a.jpg", dir / "fotos/c.png"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(res::FormatString(res::IDS_SAVE_FAILED, target + "/a.jpg")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(res::FormatString(res::IDS_SAVE_FAILED, target + "/c.jpg")), std::string::npos) << r.err;

    // With no threads the first failure ends the batch: the second file is not tried.
    const RunResult serial =
        Run({"--quiet", "--threads", "0", "--target-folder", target, dir / "fotos/a.jpg", dir / "fotos/c.png"});
    EXPECT_EQ(serial.exitCode, 1);
    EXPECT_EQ(serial.err, res::FormatString(res::IDS_SAVE_FAILED, target + "/a.jpg") + "\n");
}

TEST_F(CliTest, UndecodableImageIsReportedAndTheOthersAreWritten) {
    // An intact header passes the intake; the broken pixel data fails when decoded.
    WriteBytes(dir / "fotos/kaputt.png", test::PngWithBrokenPixels(40, 30));
    const RunResult r = Run({"--quiet", "--target-folder", dir / "aus", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "fotos/kaputt.png") + "\n");
    EXPECT_EQ(FolderEntries(dir / "aus"), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.jpg"}));
}

// HEIC, WebP and AVIF sources through the real batch: decoded, turned as their container says, written.
TEST_F(CliTest, HeicWebpAndAvifSourcesAndTheirAcceptWords) {
    MakeDir(dir / "neu");
    for (const auto& [from, to] :
         {std::pair{"photo.heic", "h.heic"}, std::pair{"photo.webp", "w.webp"}, std::pair{"photo.avif", "a.avif"},
          std::pair{"irot-1.avif", "gedreht.avif"}, std::pair{"animated.webp", "anim.webp"}})
        WriteBytes(dir / "neu/" + to, ReadBytes(test::kCorpus + "/photo-formats/" + from));
    RunResult r =
        Run({"--quiet", "--type", "png", "--report", dir / "r.jsonl", "--target-folder", dir / "aus", dir / "neu"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "aus"),
              (std::vector<std::string>{"a.png", "anim.png", "gedreht.png", "h.png", "w.png"}));
    // The animation's row, and only its, says that the first frame was all that was taken.
    const std::string report = ReadBytes(dir / "r.jsonl");
    const std::string note = res::LoadString(res::IDS_FIRST_FRAME_ONLY);
    EXPECT_NE(report.find(note), std::string::npos);
    EXPECT_EQ(report.find(note), report.rfind(note));
    EXPECT_LT(report.rfind("anim.webp", report.find(note)), report.find(note));
    for (const char* name : {"a.png", "h.png", "w.png"})
        EXPECT_EQ(DecodedSize(dir / "aus/" + name), std::make_pair(48u, 32u)) << name;
    EXPECT_EQ(DecodedSize(dir / "aus/gedreht.png"), std::make_pair(32u, 48u));

    r = Run({"--quiet", "--accept", "heic,webp", "--target-folder", dir / "nur", dir / "neu"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "nur"), (std::vector<std::string>{"anim.jpg", "h.jpg", "w.jpg"}));

    // The key of the advanced settings, as the dialog writes it: AVIF only.
    WriteBytes(settings, "[Parameter]\nEingabeTyp=0\n[Erweitert]\nWeitereEingabeTypen=4\n");
    r = Run({"--quiet", "--target-folder", dir / "avif", dir / "neu", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "avif"), (std::vector<std::string>{"a.jpg", "gedreht.jpg"}));
}

TEST_F(CliTest, AVeryWideSourceFitsTheBox) {
    WriteImage(dir / "breit.png", 250000, 25, "png");
    for (const char* enlarge : {"--enlarge", "--no-enlarge"}) {
        const RunResult r = Run({"--quiet", enlarge, "--size", "box:10000x10000", "--type", "png", "--target-folder",
                                 dir / "aus", dir / "breit.png"});
        EXPECT_EQ(r.exitCode, 0) << enlarge << ": " << r.err;
        EXPECT_EQ(r.err, "") << enlarge;
        EXPECT_EQ(DecodedSize(dir / "aus/breit.png"), std::make_pair(10000u, 1u)) << enlarge;
        std::filesystem::remove(dir / "aus/breit.png");
    }
}

TEST_F(CliTest, SkippedImagesAreReportedAndCountAsDone) {
    const RunResult r =
        Run({"--quiet", "--no-enlarge", "--size", "box:5000x5000", "--target-folder", dir / "aus", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, res::FormatString(res::IDS_SKIPPED_REPORT, 4) + "\n");
    EXPECT_TRUE(FolderEntries(dir / "aus").empty());
}

TEST_F(CliTest, NothingAcceptedSaysSoAndFails) {
    const RunResult r = Run({"--quiet", "--accept", "png", dir / "fotos/a.jpg", dir / "fotos/liesmich.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "quendrix-batch: \"" + dir / "fotos/a.jpg" + "\": Eingabedateityp JPG nicht angenommen\n" +
                         "quendrix-batch: \"" + dir / "fotos/liesmich.txt" + "\": unbekanntes Dateiformat\n" +
                         "quendrix-batch: keine Bilddatei angenommen\n");
    const RunResult folder = Run({"--quiet", "--accept", "png", dir / "fotos/urlaub"});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err, "quendrix-batch: keine Bilddatei angenommen\n") << "a folder's files are passed over";
}

// Files named one by one are judged by their content: every one not taken is a failure with its reason, in
// the report and in the exit code; a source cut short fails, and a missed size limit is said per file.
TEST_F(CliTest, NamedFilesThatAreNotTakenFailWithTheirReason) {
    std::filesystem::copy_file(dir / "fotos/a.jpg", dir / "fotos/e.jpe");
    std::filesystem::copy_file(dir / "fotos/a.jpg", dir / "fotos/ohne_endung");
    std::filesystem::copy_file(test::kCorpus + "/generated/jpeg/truncated-half.jpg", dir / "fotos/halb.jpg");
    const RunResult r =
        Run({"--verbose", "--target-folder", dir / "aus", "--max-size", "1", "--report", dir / "bericht.jsonl",
             dir / "fotos/a.jpg", dir / "fotos/fehlt.jpg", dir / "fotos/liesmich.txt", dir / "fotos/e.jpe",
             dir / "fotos/ohne_endung", dir / "fotos/halb.jpg", dir / "fotos/urlaub"});
    EXPECT_EQ(r.exitCode, 1);
    const struct {
        std::string line;
        std::string inReport;
    } said[] = {
        {"quendrix-batch: \"" + dir / "fotos/fehlt.jpg" + "\": Datei nicht gefunden", "\"result\":\"failed\""},
        {"quendrix-batch: \"" + dir / "fotos/liesmich.txt" + "\": unbekanntes Dateiformat", "\"result\":\"failed\""},
        {res::FormatString(res::IDS_NOT_AN_IMAGE, dir / "fotos/halb.jpg") + "\n  Grund: Bilddaten unvollständig",
         "\"result\":\"failed\""},
        {"Grenze nicht erreicht: " + dir / "aus/a.jpg", "Grenze nicht erreicht"},
        {"Grenze nicht erreicht: " + dir / "aus/ohne_endung.jpg", "Grenze nicht erreicht"},
        {"4 Bilder geschrieben, 0 übersprungen, 3 fehlgeschlagen: ", "d.jpg\",\"result\":\"written\""},
        {"; Grenze nicht erreicht: 3\n", "e.jpg\",\"result\":\"written\""},
    };
    const std::string report = ReadBytes(dir / "bericht.jsonl");
    for (const auto& s : said) {
        EXPECT_NE(r.err.find(s.line), std::string::npos) << s.line << "\n" << r.err;
        EXPECT_NE(report.find(s.inReport), std::string::npos) << s.inReport;
    }
    EXPECT_EQ(FolderEntries(dir / "aus"), (std::vector<std::string>{"a.jpg", "d.jpg", "e.jpg", "ohne_endung.jpg"}));

    const RunResult png =
        Run({"--max-size", "1", "--type", "png", "--target-folder", dir / "png", dir / "fotos/c.png"});
    EXPECT_EQ(png.exitCode, 0);
    EXPECT_NE(png.err.find("; Grenze gilt nicht für den Ausgabedateityp: 1\n"), std::string::npos) << png.err;
}

TEST_F(CliTest, BadValuesStopBeforeAnyFileIsTouched) {
    const auto before = Sources();
    const std::vector<std::vector<std::string>> bad = {
        {"--quality", "101"},    {"--quality", "-1"},        {"--quality", "abc"},    {"--quality", ""},
        {"--size", "percent:0"}, {"--size", "percent:1000"}, {"--size", "box:0x100"}, {"--size", "box:100x10001"},
        {"--size", "box:100"},   {"--size", "gross"},        {"--first", "0"},        {"--first", "10000"},
        {"--digits", "5"},       {"--digits", "0"},          {"--threads", "1001"},   {"--threads", "99999999999"},
        {"--type", "gif"},       {"--names", "zufall"},      {"--accept", "gif"},     {"--accept", "jpg,"},
        {"--accept", ""},        {"--target-folder", ""},    {"--unbekannt"},         {"--quality"},
    };
    for (std::vector<std::string> args : bad) {
        const std::string shown = args[0] + (args.size() > 1 ? " " + args[1] : "");
        args.insert(args.begin(), {"--target-folder", dir / "aus"});
        args.push_back(dir / "fotos");
        const RunResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << shown;
        EXPECT_NE(r.err.find("quendrix-batch: "), std::string::npos) << shown << ": " << r.err;
        EXPECT_FALSE(Exists(dir / "aus")) << shown;
    }
    EXPECT_EQ(Sources(), before);

    const RunResult range = Run({"--quality", "101", dir / "fotos"});
    EXPECT_NE(range.err.find("Bitte geben Sie eine ganze Zahl zwischen 0 und 100 ein."), std::string::npos)
        << range.err;
    // Boundaries are allowed.
    EXPECT_EQ(Run({"--show-settings", "--quality", "0", "--size", "percent:999", "--first", "9999", "--digits", "4",
                   "--threads", "1000", "--size", "box:10000x1"})
                  .exitCode,
              0);

    // A value out of range in a hand-edited settings file stops the batch as the window would.
    WriteBytes(settings, "[Allg]\nRate=150\n");
    const RunResult stored = Run({"--target-folder", dir / "aus", dir / "fotos"});
    EXPECT_EQ(stored.exitCode, 2);
    EXPECT_NE(stored.err.find("Rate=150"), std::string::npos) << stored.err;
    EXPECT_FALSE(Exists(dir / "aus"));
}

TEST_F(CliTest, ANamingModeWithoutANamingRuleInTheSettingsFileIsRefused) {
    const auto before = Sources();
    for (const char* naming : {"2", "-1"}) {
        WriteBytes(settings, std::string("[Allg]\nZielPath=1\n[Parameter]\nAusgabeDateiTyp=") + naming + "\n");
        const RunResult r = Run({"--target-folder", dir / "aus", dir / "fotos"});
        EXPECT_EQ(r.exitCode, 2) << naming;
        EXPECT_EQ(r.err, std::string("quendrix-batch: Einstellungsdatei AusgabeDateiTyp=") + naming +
                             ": Bitte geben Sie eine ganze Zahl zwischen 0 und 1 ein.\n");
        EXPECT_FALSE(Exists(dir / "aus")) << naming;
    }
    EXPECT_EQ(Sources(), before);
    // An option in its place is the user's choice.
    const RunResult chosen =
        Run({"--quiet", "--names", "pattern", "--target-folder", dir / "aus", dir / "fotos/c.png"});
    EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
    EXPECT_EQ(FolderEntries(dir / "aus"), std::vector<std::string>{"Pic001.jpg"});
}

TEST_F(CliTest, ASizeLimitOutOfRangeInTheSettingsFileIsRefused) {
    const auto before = Sources();
    const std::string range = ": Bitte geben Sie eine ganze Zahl zwischen 1 und 1000000 ein.\n";
    // "abc" reads as 0, as every number of the file does that does not start with digits.
    for (const auto& [stored, shown] : std::vector<std::pair<std::string, std::string>>{
             {"0", "0"}, {"-5", "-5"}, {"2000000", "2000000"}, {"abc", "0"}}) {
        WriteBytes(settings, "[Erweitert]\nMaxKBAktiv=1\nMaxKB=" + stored + "\n");
        const RunResult r = Run({"--target-folder", dir / "aus", dir / "fotos"});
        EXPECT_EQ(r.exitCode, 2) << stored;
        EXPECT_EQ(r.err, "quendrix-batch: Einstellungsdatei MaxKB=" + shown + range) << stored;
        EXPECT_FALSE(Exists(dir / "aus")) << stored;
    }
    EXPECT_EQ(Sources(), before);
    // An option in its place is the user's choice; a limit that is off leaves its value unused.
    const RunResult chosen = Run({"--quiet", "--max-size", "40K", "--target-folder", dir / "aus", dir / "fotos/a.jpg"});
    EXPECT_EQ(chosen.exitCode, 0) << chosen.err;
    EXPECT_LE(ReadBytes(dir / "aus/a.jpg").size(), 40u * 1024);
    WriteBytes(settings, "[Erweitert]\nMaxKBAktiv=0\nMaxKB=0\n");
    const RunResult off = Run({"--quiet", "--target-folder", dir / "aus", dir / "fotos/c.png"});
    EXPECT_EQ(off.exitCode, 0) << off.err;
    EXPECT_TRUE(Exists(dir / "aus/c.jpg"));
}

TEST_F(CliTest, UsageErrors) {
    EXPECT_EQ(Run({}).exitCode, 2) << "no file or folder";
    const RunResult missing =
        RunChild(kBatchProgram, {.args = {"--settings", dir / "fehlt.ini", dir / "fotos"}, .env = env});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find(dir / "fehlt.ini"), std::string::npos);
    const RunResult folder = RunChild(
        kBatchProgram, {.args = {"--settings", dir.path(), "--target-folder", dir / "aus", dir / "fotos"}, .env = env});
    EXPECT_EQ(folder.exitCode, 2) << "a folder is no settings file";
    EXPECT_FALSE(Exists(dir / "aus"));
    const RunResult help = Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--target-folder"), std::string::npos);
}

TEST_F(CliTest, MessagesAreWordedExactly) {
    const std::string tryHelp = "Weitere Informationen mit \"quendrix-batch --help\".\n";
    const std::string fotos = dir / "fotos";
    EXPECT_EQ(Run({"--bogus", fotos}).err, "quendrix-batch: --bogus: unbekannte Option\n" + tryHelp);
    EXPECT_EQ(Run({"--quality"}).err, "quendrix-batch: --quality: Wert fehlt\n" + tryHelp);
    EXPECT_EQ(Run({}).err, "quendrix-batch: keine Datei und kein Ordner angegeben\n" + tryHelp);
    EXPECT_EQ(Run({"--quality", "x", fotos}).err,
              "quendrix-batch: --quality \"x\": Bitte geben Sie eine ganze Zahl ein.\n" + tryHelp);
    EXPECT_EQ(
        Run({"--size", "box:640x0", fotos}).err,
        "quendrix-batch: --size \"box:640x0\": Bitte geben Sie eine ganze Zahl zwischen 1 und 10000 ein.\n" + tryHelp);
    EXPECT_EQ(Run({"--size", "box:640", fotos}).err,
              "quendrix-batch: --size \"box:640\": erwartet source, percent:N oder box:BxH\n" + tryHelp);
    // The output types in the codec table's order: "jpg, bmp, png, webp oder avif" and what was added since.
    std::vector<std::string> types;
    for (const imaging::Codec& codec : imaging::Codecs())
        if (codec.outputType >= 0) types.push_back(codec.name);
    std::string expected;
    for (size_t i = 0; i < types.size(); ++i)
        expected += (i == 0 ? "" : i + 1 == types.size() ? " oder " : ", ") + types[i];
    EXPECT_EQ(Run({"--type", "gif", fotos}).err,
              "quendrix-batch: --type \"gif\": erwartet " + expected + "\n" + tryHelp);
    EXPECT_EQ(Run({"--names", "zufall", fotos}).err,
              "quendrix-batch: --names \"zufall\": erwartet source oder pattern\n" + tryHelp);
    EXPECT_EQ(
        Run({"--accept", "jpg,gif", fotos}).err,
        "quendrix-batch: --accept \"jpg,gif\": erwartet eine Liste aus jpg, bmp, png, webp, avif, heic und jxl, etwa "
        "jpg,png\n" +
            tryHelp);
    EXPECT_EQ(Run({"--target-folder", "", fotos}).err,
              "quendrix-batch: --target-folder \"\": Das Zielverzeichnis ist leer\n" + tryHelp);
    EXPECT_EQ(RunChild(kBatchProgram, {.args = {"--settings", dir / "fehlt.ini", fotos}, .env = env}).err,
              "quendrix-batch: --settings \"" + dir / "fehlt.ini" + "\": Einstellungsdatei nicht gefunden\n" + tryHelp);
    EXPECT_EQ(RunChild(kBatchProgram, {.args = {"--settings", fotos, fotos}, .env = env}).err,
              "quendrix-batch: --settings \"" + fotos + "\": ist keine Datei\n" + tryHelp);

    WriteBytes(settings, "[Allg]\nBreite=0\n");
    EXPECT_EQ(
        Run({fotos}).err,
        "quendrix-batch: Einstellungsdatei Breite=0: Bitte geben Sie eine ganze Zahl zwischen 1 und 10000 ein.\n");

    const std::string help = Run({"--help"}).out;
    EXPECT_EQ(help.substr(0, help.find('\n')), "Aufruf: quendrix-batch [Optionen] DATEI|ORDNER...");
    EXPECT_NE(help.find("  --size box:BxH          höchstens B Pixel breit und H Pixel hoch (je 1..10000)\n"),
              std::string::npos);
    const std::string end = "2 falscher Aufruf oder ungültiger Wert.\n";
    EXPECT_EQ(help.substr(help.size() - std::min(help.size(), end.size())), end);
}

TEST_F(CliTest, EmptyTargetFolderFromTheSettingsFile) {
    WriteBytes(settings, "[Allg]\nZielPath=1\nVerz=\n");
    const RunResult r = Run({"--quiet", dir / "fotos"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, res::LoadString(res::IDS_TARGET_EMPTY) + "\n");
}

TEST_F(CliTest, TheDevicePathPlaceholderKeepsTheDevicePathsCase) {
    // A relative device path, so that a wrong case could only make folders inside the scratch folder.
    MakeDir(dir / "media");
    MakeDir(dir / "media/usb");
    WriteBytes(settings, "[Allg]\nZielPath=1\nVerz=%U3_DEVICE_PATH%/Bilder\n");
    env["U3_DEVICE_PATH"] = "media/usb";
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const RunResult shown = Run({"--show-settings"});
    const RunResult r = Run({"--quiet", dir / "fotos/c.png"});
    ASSERT_EQ(::chdir("/"), 0);
    EXPECT_NE(shown.out.find("\nVerz=media/usb/Bilder\n"), std::string::npos) << shown.out;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "media/usb/Bilder"), std::vector<std::string>{"c.jpg"});
    EXPECT_FALSE(Exists(dir / "MEDIA"));
}

// --verbose adds the reason on the line after each failure's message; the message itself stays word for word.
TEST_F(CliTest, VerboseGivesTheReasonUnderTheMessage) {
    const std::string broken = dir / "fotos/kaputt.png";  // a whole header, so the drop takes it
    WriteBytes(broken, test::PngWithBrokenPixels(40, 30));
    const std::string message = res::FormatString(res::IDS_NOT_AN_IMAGE, broken) + "\n";
    const std::string reason = "  Grund: " + res::LoadString(res::IDS_REASON_BROKEN_DATA) + ": ";
    for (const char* threads : {"0", "2"}) {
        SCOPED_TRACE(std::string("threads ") + threads);
        const RunResult plain = Run({"--quiet", "--threads", threads, "--target-folder", dir / "aus", broken});
        EXPECT_EQ(plain.exitCode, 1);
        EXPECT_EQ(plain.err, message);

        const RunResult verbose =
            Run({"--quiet", "--verbose", "--threads", threads, "--target-folder", dir / "aus", broken});
        EXPECT_EQ(verbose.exitCode, 1);
        ASSERT_EQ(verbose.err.substr(0, message.size() + reason.size()), message + reason) << verbose.err;
        EXPECT_EQ(verbose.err.find('\n', message.size()), verbose.err.size() - 1) << "one reason line: " << verbose.err;
    }
    // Good files say nothing more under --verbose.
    const RunResult good = Run({"--quiet", "--verbose", "--target-folder", dir / "aus", dir / "fotos/a.jpg"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.err, "");
}

TEST_F(CliTest, DoubleDashEndsTheOptions) {
    WriteImage(dir / "--quality.jpg", 40, 30, "jpg");
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const RunResult r = Run({"--quiet", "--target-folder", dir / "aus", "--", "--quality.jpg"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(FolderEntries(dir / "aus"), std::vector<std::string>{"--quality.jpg"});
    ASSERT_EQ(::chdir("/"), 0);
}

TEST_F(CliTest, NonUtf8FileNameIsProcessed) {
    const std::string name = std::string("bild-\xff-\xe4");
    WriteImage(dir / "fotos/" + name + ".png", 50, 40, "png");
    const RunResult r = Run({"--quiet", "--target-folder", dir / "aus", dir / "fotos/" + name + ".png"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(DecodedSize(dir / "aus/" + name + ".jpg"), std::make_pair(50u, 40u));
}

TEST_F(CliTest, ShowSettingsPrintsThePathAndEveryEffectiveValue) {
    WriteBytes(settings, "[Allg]\nRate=33\nVerz=/ziel\n[Parameter]\nPrefix=Foto\n");
    const RunResult r = Run({"--show-settings", "--threads", "3", "--accept", "png,bmp", "--size", "percent:25"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "Einstellungsdatei: " + settings +
            "\n[Allg]\nRate=33\nVerz=/ziel\nBildsize=0\nProzent=25\nBreite=640\nHoehe=480\nZielPath=0\n"
            "NichtVergroessern=0\n[Parameter]\nAusgabeDateiTyp=0\nPrefix=Foto\nLfdNr=1\nStellen=3\n"
            "EingabeTyp=5\nAusgabeTyp=0\nThreadAnzahl=3\n[Erweitert]\nMetadatenUebernehmen=0\n"
            "GpsEntfernen=1\nNurWennKleiner=0\nMaxKBAktiv=0\nMaxKB=500\nDatumUebernehmen=0\nWeitereEingabeTypen=0\n"
            "AutoQualitaet=0\nOrdnerstrukturBeibehalten=0\nVorhandeneUeberspringen=0\nEigeneAusgabenUeberspringen=0\n"
            "JpegVerlustfreiUmpacken=0\nJpegBaseline=0\n");
}

// Each option a settings row names is parsed into that row's key and has its line in the help.
TEST_F(CliTest, EveryOptionOfASettingsRowSetsItsKey) {
    const std::string help = Run({"--help"}).out;
    for (const settings::SettingKey& row : settings::kSchema) {
        for (const settings::CommandOption& option : row.options) {
            if (option.word == nullptr) continue;
            const std::string word = std::string("--") + option.word;
            std::vector<std::string> args{"--show-settings", word};
            int64_t expected = option.sets;
            if (option.sets == settings::kTakesValue) {
                expected = row.words[1].word != nullptr ? row.words[1].value : row.upper;
                args.push_back(row.IsText()        ? "Bild"
                               : row.words[1].word ? row.words[1].word
                                                   : std::to_string(expected));
            }
            const std::string line = std::string(row.key) + "=" + (row.IsText() ? "Bild" : std::to_string(expected));
            EXPECT_NE(Run(args).out.find("\n" + line + "\n"), std::string::npos) << word << " " << line;
            EXPECT_NE(help.find(word + (option.sets == settings::kTakesValue ? " " : "")), std::string::npos) << word;
        }
    }
}

TEST_F(CliTest, AdvancedOptions) {
    const RunResult shown = Run({"--show-settings", "--metadata", "keep", "--keep-gps", "--skip-larger", "--max-size",
                                 "2M", "--keep-date", "--jpeg-lossless", "--baseline"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_NE(shown.out.find("[Erweitert]\nMetadatenUebernehmen=1\nGpsEntfernen=0\nNurWennKleiner=1\nMaxKBAktiv=1\n"
                             "MaxKB=2048\nDatumUebernehmen=1\nWeitereEingabeTypen=15\nAutoQualitaet=0\n"
                             "OrdnerstrukturBeibehalten=0\nVorhandeneUeberspringen=0\nEigeneAusgabenUeberspringen=0\n"
                             "JpegVerlustfreiUmpacken=1\nJpegBaseline=1\n"),
              std::string::npos)
        << shown.out;
    // A JPEG kept at its own size comes back out of its JPEG XL file byte for byte.
    const RunResult packed = Run({"--quiet", "--type", "jxl", "--jpeg-lossless", "--size", "source", "--target-folder",
                                  dir / "xl", dir / "fotos/a.jpg"});
    EXPECT_EQ(packed.exitCode, 0) << packed.err;
    EXPECT_EQ(test::ReconstructedJpeg(ReadBytes(dir / "xl/a.jxl")), ReadBytes(dir / "fotos/a.jpg"));
    EXPECT_NE(Run({"--show-settings", "--max-size", "300K"}).out.find("MaxKB=300\n"), std::string::npos);
    EXPECT_NE(Run({"--show-settings", "--max-size", "1000000"}).out.find("MaxKB=1000000\n"), std::string::npos);
    for (const char* bad : {"0", "0K", "1000001", "977M", "-5", "2G", "K", ""}) {
        const RunResult r = Run({"--max-size", bad, "--target-folder", dir / "aus", dir / "fotos"});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_FALSE(Exists(dir / "aus")) << bad;
    }
    EXPECT_NE(
        Run({"--max-size", "0", dir / "fotos"}).err.find("Bitte geben Sie eine ganze Zahl zwischen 1 und 1000000 ein."),
        std::string::npos);
    EXPECT_EQ(Run({"--metadata", "alles", dir / "fotos"}).exitCode, 2);

    // Only smaller outputs: at quality 100 the photos of the folder grow, so none is written and all count.
    const RunResult skipped = Run({"--quality", "100", "--skip-larger", "--type", "png", "--target-folder", dir / "aus",
                                   "--accept", "jpg", dir / "fotos"});
    EXPECT_EQ(skipped.exitCode, 0) << skipped.err;
    EXPECT_NE(skipped.err.find("2 Bilder wurden nicht gespeichert."), std::string::npos) << skipped.err;
    EXPECT_TRUE(test::FolderEntries(dir / "aus").empty());
}

TEST_F(CliTest, ReadsTheSettingsOfTheGuiBesideItWhateverItsOwnName) {
    // A copy under another name still reads quendrix's file, by the GUI's location rule.
    const std::string copy = dir / "anders-genannt";
    WriteBytes(copy, ReadBytes(kBatchProgram));
    ASSERT_EQ(::chmod(copy.c_str(), 0700), 0);
    MakeDir(dir / "config");
    MakeDir(dir / "config/quendrix");
    WriteBytes(dir / "config/quendrix/quendrix.ini", "[Allg]\nRate=42\n");
    const RunResult xdg = RunChild(copy, {.args = {"--show-settings"}, .env = env});
    EXPECT_EQ(xdg.exitCode, 0);
    EXPECT_EQ(xdg.out.substr(0, xdg.out.find('\n')), "Einstellungsdatei: " + dir / "config/quendrix/quendrix.ini");
    EXPECT_NE(xdg.out.find("Rate=42\n"), std::string::npos);

    auto withAppData = env;
    withAppData["APPDATA"] = dir / "appdata";
    const RunResult appData = RunChild(copy, {.args = {"--show-settings"}, .env = withAppData});
    EXPECT_EQ(appData.out.substr(0, appData.out.find('\n')),
              "Einstellungsdatei: " + dir / "appdata/quendrix/quendrix.ini");
    EXPECT_NE(appData.out.find("Rate=80\n"), std::string::npos) << "a missing file gives the defaults";
    EXPECT_FALSE(Exists(dir / "appdata")) << "only read: no settings folder is made";

    auto withU3 = withAppData;
    withU3["U3_APP_DATA_PATH"] = dir / "u3";
    const RunResult u3 =
        RunChild(copy, {.args = {"--quiet", "--target-folder", dir / "aus", dir / "fotos/c.png"}, .env = withU3});
    EXPECT_EQ(u3.exitCode, 0) << u3.err;
    EXPECT_TRUE(Exists(dir / "aus/c.jpg"));
    EXPECT_FALSE(Exists(dir / "u3")) << "a batch makes no settings folder either";
    const std::string shown = RunChild(copy, {.args = {"--show-settings"}, .env = withU3}).out;
    EXPECT_EQ(shown.substr(0, shown.find('\n')), "Einstellungsdatei: " + dir / "u3/quendrix.ini");
}

// A file far larger than any settings file is not read: named with --settings it stops the program; as the
// window's file it gives the defaults; both say so.
TEST_F(CliTest, ASettingsFileTooLargeIsRefusedWithAWord) {
    const std::string gui = dir / "config/quendrix/quendrix.ini";
    MakeDir(dir / "config");
    MakeDir(dir / "config/quendrix");
    for (const std::string& path : {settings, gui}) {
        WriteBytes(path, "[Allg]\nRate=42\n");
        std::filesystem::resize_file(path, 2 << 20);
    }
    const RunResult named = Run({"--show-settings"});
    EXPECT_EQ(named.exitCode, 2);
    EXPECT_EQ(named.err, "quendrix-batch: --settings \"" + settings +
                             "\": Einstellungsdatei größer als 1 MB, nicht gelesen\n"
                             "Weitere Informationen mit \"quendrix-batch --help\".\n");
    const RunResult window = RunChild(kBatchProgram, {.args = {"--show-settings"}, .env = env});
    EXPECT_EQ(window.exitCode, 0);
    EXPECT_EQ(window.err, "quendrix-batch: \"" + gui +
                              "\": Einstellungsdatei größer als 1 MB, nicht gelesen; es gelten die "
                              "Standardeinstellungen\n");
    EXPECT_NE(window.out.find("Rate=80\n"), std::string::npos);
}

TEST(Version, ReadFromTheProgramFile) {
    const RunResult r = RunChild(kBatchProgram, {.args = {"--version"}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "1.0.0.6\n");
    EXPECT_EQ(GetVersionString(kBatchProgram), "1,0,0,6");
    EXPECT_EQ(GetVersionString(), "1,0,0,6") << "this test program carries the record too";

    VersionInfo info;
    ASSERT_TRUE(ReadVersionRecord(kBatchProgram, info));
    EXPECT_EQ(info.productVersion, (std::array<uint16_t, 4>{1, 0, 0, 1}));
    EXPECT_EQ(info.fileFlagsMask, 0x3Fu);
    EXPECT_EQ(info.language, 0x0407);
    const std::map<std::string, std::string> strings(info.strings.begin(), info.strings.end());
    EXPECT_EQ(strings.at("FileDescription"), "Komprimieren von Bildern");
    EXPECT_EQ(strings.at("FileVersion"), "1, 0, 0, 6");
    EXPECT_EQ(strings.at("ProductName"), "Anwendung Quendrix");
    EXPECT_EQ(strings.at("OriginalFilename"), "Quendrix.EXE");
    EXPECT_EQ(strings.at("Comments"), "");
}

TEST(Version, FilesWithoutARecordGiveTheEmptyText) {
    ScratchDir dir;
    EXPECT_EQ(GetVersionString("/bin/true"), "");
    EXPECT_EQ(GetVersionString(dir / "fehlt"), "");
    EXPECT_EQ(GetVersionString(dir.path()), "");
    WriteBytes(dir / "leer", "");
    EXPECT_EQ(GetVersionString(dir / "leer"), "");
    WriteBytes(dir / "text", "QXVERS1 und .qx_version als Text");
    EXPECT_EQ(GetVersionString(dir / "text"), "");
    const std::string program = ReadBytes(kBatchProgram);
    WriteBytes(dir / "halb", program.substr(0, program.size() / 2));
    EXPECT_EQ(GetVersionString(dir / "halb"), "") << "section headers cut off";
    std::string damaged = program;
    const std::string magic("QXVERS1\0", 8);
    ASSERT_NE(damaged.find(magic), std::string::npos);
    for (size_t at = damaged.find(magic); at != std::string::npos; at = damaged.find(magic, at)) damaged[at] = 'X';
    WriteBytes(dir / "beschaedigt", damaged);
    EXPECT_EQ(GetVersionString(dir / "beschaedigt"), "");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(GetVersionString(dir / "pipe"), "") << "returns without waiting for a writer";
}

}  // namespace
}  // namespace qx::test
