// quendrix-compress, the desktop's "Mit Quendrix komprimieren": real quendrix-batch on real images with the
// settings of quendrix in a scratch home, the outcome in a notification (a recording notify-send), in the
// message window (quendrix-notice printing what it would show), or on standard error.
#include <map>
#include <vector>

#include "engine/report.h"
#include "support/child_process.h"
#include "support/images.h"

namespace qx::test {
namespace {

using test::DecodedSize;
using test::Describe;
using test::Exists;
using test::MakeDir;
using test::ReadBytes;
using test::RunChild;
using test::RunResult;
using test::ScratchDir;
using test::WriteBytes;
using test::WriteImage;

const std::string kCompress = QUENDRIX_BINARY_DIR "/quendrix-compress";
const std::string kNotice = QUENDRIX_BINARY_DIR "/quendrix-notice";
const std::string kSucceeded = "Komprimiert: alle Bilder geschrieben oder übersprungen";
const std::string kFailed = "Komprimieren mit Fehlern beendet: nicht alle Bilder geschrieben";

// A name with blanks, both quotes, markup characters and a byte that is no UTF-8, as file systems allow.
const std::string kAwkward = "Urlaub \"am\" 'See' <&> \xFF";
const std::string kAwkwardShown = "Urlaub \"am\" 'See' <&> \xEF\xBF\xBD";  // U+FFFD

// quendrix-batch's closing line for these images written (source, output), `skipped` and `failed`.
std::string SummaryOf(const std::vector<std::pair<std::string, std::string>>& written, int skipped, int failed) {
    ReportTotals totals{static_cast<int>(written.size()), skipped, failed, 0, 0};
    for (const auto& [source, output] : written) {
        totals.bytesBefore += static_cast<int64_t>(ReadBytes(source).size());
        totals.bytesAfter += static_cast<int64_t>(ReadBytes(output).size());
    }
    return FormatSummaryLine(totals);
}

std::vector<std::string> SplitAtNul(const std::string& bytes) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
        parts.push_back(bytes.substr(start, end - start));
    }
    return parts;
}

// The full path of `tool` on the PATH of this process.
std::string OnPath(const std::string& tool) {
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(':', start);
        const std::string candidate = path.substr(start, end - start) + "/" + tool;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return tool;
        start = end + 1;
    }
}

// quendrix-notice keeps Qt's platform and font caches until it ends; sanitized builds must not call them leaks.
std::map<std::string, std::string> WithQtCachesAllowed(std::map<std::string, std::string> env) {
    if (test::kSanitized) {
        const char* options = std::getenv("ASAN_OPTIONS");
        env["ASAN_OPTIONS"] = std::string(options ? options : "") + ":detect_leaks=0";
    }
    return env;
}

class CompressHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        // quendrix's settings: everything into one target folder, at most 200 x 200.
        MakeDir(dir / "config");
        MakeDir(dir / "config/quendrix");
        WriteBytes(dir / "config/quendrix/quendrix.ini",
                   "[Allg]\nBildsize=1\nBreite=200\nHoehe=200\nZielPath=1\nVerz=" + dir / "klein" +
                       "\nRate=80\n[Parameter]\nThreadAnzahl=2\n");
        MakeDir(dir / "Fotos vom See");
        MakeDir(dir / "Fotos vom See/Tag 2");
        WriteImage(dir / "Fotos vom See/blau.jpg", 640, 480);
        WriteImage(dir / "Fotos vom See/Tag 2/" + kAwkward + ".png", 300, 400, "png");
        WriteImage(dir / ("-am Ufer.bmp"), 500, 500, "bmp");

        // Only what the helper itself runs, so that no notify-send is found unless a test puts one here.
        MakeDir(dir / "bin");
        for (const char* tool : {"readlink", "dirname", "sed", "perl"}) {
            ASSERT_EQ(::symlink(OnPath(tool).c_str(), (dir / "bin/" + tool).c_str()), 0) << tool;
        }
        env = {{"HOME", dir / "home"},       {"XDG_CONFIG_HOME", dir / "config"},
               {"PATH", dir / "bin"},        {"DISPLAY", ""},
               {"WAYLAND_DISPLAY", ""},      {"QT_QPA_PLATFORM", ""},
               {"QUENDRIX_NOTICE_PRINT", ""}};
    }

    // A notify-send that records its arguments, NUL after each, and ends with `code`.
    void FakeNotifySend(int code = 0) {
        WriteBytes(dir / "bin/notify-send", "#!/bin/sh\nprintf '%s\\0' \"$@\" >> '" + dir / "notified" + "'\nexit " +
                                                std::to_string(code) + "\n");
        ASSERT_EQ(::chmod((dir / "bin/notify-send").c_str(), 0755), 0);
    }
    std::vector<std::string> Notified() { return SplitAtNul(ReadBytes(dir / "notified")); }

    RunResult Compress(const std::vector<std::string>& operands) {
        return RunChild(kCompress, {.args = operands, .env = WithQtCachesAllowed(env)});
    }

    ScratchDir dir;
    std::map<std::string, std::string> env;
};

TEST_F(CompressHelperTest, FilesAndFoldersWithTheStoredSettingsThenANotification) {
    FakeNotifySend();
    const std::string awkwardSource = ReadBytes(dir / "Fotos vom See/Tag 2/" + kAwkward + ".png");
    const RunResult r = Compress({dir / "Fotos vom See", dir / "-am Ufer.bmp"});
    ASSERT_TRUE(r.Exited(0)) << Describe(r);

    // The settings of quendrix: one target folder, fitted into 200 x 200, sources untouched.
    EXPECT_EQ(DecodedSize(dir / "klein/blau.jpg"), std::make_pair(200u, 150u));
    EXPECT_EQ(DecodedSize(dir / "klein/" + kAwkward + ".jpg"), std::make_pair(150u, 200u));
    EXPECT_EQ(DecodedSize(dir / "klein/-am Ufer.jpg"), std::make_pair(200u, 200u));
    EXPECT_EQ(ReadBytes(dir / "Fotos vom See/Tag 2/" + kAwkward + ".png"), awkwardSource);

    const std::vector<std::string> args = Notified();
    ASSERT_GE(args.size(), 2u) << r.err;
    EXPECT_NE(std::find(args.begin(), args.end(), "--urgency=normal"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "--app-name=Quendrix"), args.end());
    // Options end before the texts, so that no text is ever read as one.
    ASSERT_EQ(args[args.size() - 3], "--");
    EXPECT_EQ(args[args.size() - 2], kSucceeded);
    // Below the outcome quendrix-batch's summary, without its progress lines.
    const std::string summary =
        SummaryOf({{dir / "Fotos vom See/blau.jpg", dir / "klein/blau.jpg"},
                   {dir / "Fotos vom See/Tag 2/" + kAwkward + ".png", dir / "klein/" + kAwkward + ".jpg"},
                   {dir / "-am Ufer.bmp", dir / "klein/-am Ufer.jpg"}},
                  0, 0);
    EXPECT_EQ(summary.rfind("3 Bilder geschrieben, 0 übersprungen, 0 fehlgeschlagen: ", 0), 0u) << summary;
    EXPECT_EQ(args.back(), summary);
    EXPECT_EQ(r.err, "");
}

TEST_F(CompressHelperTest, ASecondRunInTheSourceFoldersCompressesNoOutputAgain) {
    WriteBytes(dir / "config/quendrix/quendrix.ini", "[Allg]\nZielPath=0\n[Parameter]\nThreadAnzahl=2\n");
    ASSERT_TRUE(Compress({dir / "Fotos vom See"}).Exited(0));
    // A user renames one output; it is still known by its content.
    ASSERT_EQ(::rename((dir / "Fotos vom See/blau_c.jpg").c_str(), (dir / "Fotos vom See/umbenannt.jpg").c_str()), 0);
    const RunResult again = Compress({dir / "Fotos vom See"});
    ASSERT_TRUE(again.Exited(0)) << Describe(again);
    EXPECT_EQ(test::Tree(dir / "Fotos vom See"),
              (std::vector<std::string>{".quendrix-ausgaben", "Tag 2", "Tag 2/.quendrix-ausgaben",
                                        "Tag 2/" + kAwkward + ".png", "Tag 2/" + kAwkward + "_c.jpg", "blau.jpg",
                                        "blau_c.jpg", "umbenannt.jpg"}));
}

TEST_F(CompressHelperTest, TheStartIsAnnouncedAndTheOutcomeReplacesTheAnnouncement) {
    // libnotify 0.8's notify-send: an id when asked for one; "after" once the first output exists.
    const std::string log = " >> '" + dir / "notified" + "'\n";
    WriteBytes(dir / "bin/notify-send", "#!/bin/sh\n[ -e '" + dir / "klein" + "' ] && printf 'after\\0'" + log +
                                            "printf '%s\\0' \"$@\"" + log +
                                            "[ \"$1\" = --print-id ] && echo 42\nexit 0\n");
    ASSERT_EQ(::chmod((dir / "bin/notify-send").c_str(), 0755), 0);
    ASSERT_TRUE(Compress({dir / "Fotos vom See"}).Exited(0));
    const std::vector<std::string> args = Notified();
    ASSERT_GE(args.size(), 2u);
    const auto at = [&](const std::string& arg) { return std::find(args.begin(), args.end(), arg) - args.begin(); };
    EXPECT_EQ(at("--print-id"), 0);
    EXPECT_LT(at("Komprimieren läuft …"), at("after")) << "before the batch";
    EXPECT_EQ(at("--replace-id=42"), at("after") + 1);
    EXPECT_EQ(args[args.size() - 2], kSucceeded);
}

TEST_F(CompressHelperTest, AFailedImageGivesAnUrgentNotificationWithTheMessages) {
    FakeNotifySend();
    const std::string broken = dir / "Fotos vom See/Tag 2/" + kAwkward + " kaputt.png";
    WriteBytes(broken, test::PngWithBrokenPixels(40, 30));
    const RunResult r = Compress({dir / "Fotos vom See"});
    ASSERT_TRUE(r.Exited(1)) << Describe(r);
    EXPECT_TRUE(Exists(dir / "klein/blau.jpg"));  // the others are written all the same

    const std::vector<std::string> args = Notified();
    ASSERT_GE(args.size(), 3u);
    EXPECT_NE(std::find(args.begin(), args.end(), "--urgency=critical"), args.end());
    EXPECT_EQ(args[args.size() - 2], kFailed);
    // The summary first, then quendrix-batch's message, in valid UTF-8 and with the markup characters of the
    // name escaped.
    const std::string summary =
        SummaryOf({{dir / "Fotos vom See/blau.jpg", dir / "klein/blau.jpg"},
                   {dir / "Fotos vom See/Tag 2/" + kAwkward + ".png", dir / "klein/" + kAwkward + ".jpg"}},
                  0, 1);
    const std::string shown = dir / "Fotos vom See/Tag 2/Urlaub \"am\" 'See' &lt;&amp;&gt; \xEF\xBF\xBD kaputt.png";
    EXPECT_EQ(args.back(), summary + "\nKeine gültige Bilddatei: " + shown);
}

TEST_F(CompressHelperTest, ABadStoredValueWritesNothingAndSaysWhich) {
    FakeNotifySend();
    WriteBytes(dir / "config/quendrix/quendrix.ini", "[Allg]\nRate=150\n");
    const std::vector<std::string> before = test::Tree(dir / "Fotos vom See");
    const RunResult r = Compress({dir / "Fotos vom See"});
    ASSERT_TRUE(r.Exited(2)) << Describe(r);
    EXPECT_EQ(test::Tree(dir / "Fotos vom See"), before);
    const std::vector<std::string> args = Notified();
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[args.size() - 2], "Nicht komprimiert: ungültiger Wert in den Einstellungen");
    EXPECT_EQ(args.back(),
              "quendrix-batch: Einstellungsdatei Rate=150: Bitte geben Sie eine ganze Zahl zwischen 0 und 100 ein.");
}

TEST_F(CompressHelperTest, WithoutNotificationsTheMessageWindowThenStandardError) {
    WriteBytes(dir / "Fotos vom See/kaputt.png", test::PngWithBrokenPixels(40, 30));
    const std::string message = "Keine gültige Bilddatei: " + dir / "Fotos vom See/kaputt.png";

    // No notify-send at all: the window, here printing what it would show.
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["QUENDRIX_NOTICE_PRINT"] = "1";
    RunResult r = Compress({dir / "Fotos vom See"});
    ASSERT_TRUE(r.Exited(1)) << Describe(r);
    const std::string summary =
        SummaryOf({{dir / "Fotos vom See/blau.jpg", dir / "klein/blau.jpg"},
                   {dir / "Fotos vom See/Tag 2/" + kAwkward + ".png", dir / "klein/" + kAwkward + ".jpg"}},
                  0, 1);
    EXPECT_EQ(r.out, "warning\nQuendrix\n" + kFailed + "\n\n" + summary + "\n" + message + "\n");

    // A notify-send that finds no notification service: the window too.
    FakeNotifySend(1);
    r = Compress({dir / "Fotos vom See/blau.jpg"});
    ASSERT_TRUE(r.Exited(0)) << Describe(r);
    const std::string one = SummaryOf({{dir / "Fotos vom See/blau.jpg", dir / "klein/blau.jpg"}}, 0, 0);
    EXPECT_EQ(one.rfind("1 Bild geschrieben, 0 übersprungen, 0 fehlgeschlagen: ", 0), 0u) << one;
    EXPECT_EQ(r.out, "information\nQuendrix\n" + kSucceeded + "\n\n" + one + "\n");
    EXPECT_EQ(Notified().size(), 8u + 7u);  // it was asked first: at the start, and for the outcome

    // No graphical session: standard error.
    env["QT_QPA_PLATFORM"] = "";
    r = Compress({dir / "Fotos vom See"});
    ASSERT_TRUE(r.Exited(1)) << Describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kFailed + "\n" + summary + "\n" + message + "\n");

    // Nothing selected: a word of its own instead of quendrix-batch's hint at --help.
    r = Compress({});
    ASSERT_TRUE(r.Exited(2)) << Describe(r);
    EXPECT_EQ(r.err, "Nichts komprimiert: keine Datei und kein Ordner ausgewählt\n");
}

TEST_F(CompressHelperTest, LongOutputIsCutToTwentyLinesAndKeepsTheSummary) {
    FakeNotifySend();
    MakeDir(dir / "viele");
    for (int i = 0; i < 30; ++i) {
        WriteBytes(dir / "viele/kaputt" + std::to_string(100 + i) + ".png", test::PngWithBrokenPixels(8, 8));
    }
    const RunResult r = Compress({dir / "viele"});
    ASSERT_TRUE(r.Exited(1)) << Describe(r);
    const std::string body = Notified().back();
    EXPECT_EQ(std::count(body.begin(), body.end(), '\n'), 19);
    EXPECT_EQ(body.substr(0, body.find('\n')), "0 Bilder geschrieben, 0 übersprungen, 30 fehlgeschlagen");
    EXPECT_TRUE(body.ends_with("\n\xE2\x80\xA6 und 12 weitere Zeilen")) << body;
}

TEST(Notice, TextsArePlainAndNeverTakenForOptionsOfQt) {
    const std::map<std::string, std::string> env =
        WithQtCachesAllowed({{"QT_QPA_PLATFORM", "offscreen"}, {"QUENDRIX_NOTICE_PRINT", "1"}});
    RunResult r = RunChild(kNotice, {.args = {"--", "-reverse", "<b>fett</b>", "-style x"}, .env = env});
    ASSERT_TRUE(r.Exited(0)) << Describe(r);
    EXPECT_EQ(r.out, "information\n-reverse\n<b>fett</b>\n\n-style x\n");

    r = RunChild(kNotice, {.args = {"--bunt", "Titel", "Text"}, .env = env});
    EXPECT_TRUE(r.Exited(2)) << Describe(r);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "Aufruf: quendrix-notice [--information|--warning] [--] TITEL TEXT [DETAILS]");
    EXPECT_TRUE(RunChild(kNotice, {.args = {"nur ein Titel"}, .env = env}).Exited(2));
}

}  // namespace
}  // namespace qx::test
