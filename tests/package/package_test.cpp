// The Debian package as cpack makes it from the build: what it holds, its control data, that the desktop entry
// and the metainfo pass the validators the software centres use, and that lintian finds nothing in it.

#include "engine/imaging/imaging.h"
#include "support/child_process.h"

namespace qx::test {
namespace {

using test::Describe;
using test::Exists;
using test::FolderEntries;
using test::ReadBytes;
using test::RunChild;
using test::RunResult;
using test::ScratchDir;

// The package of this build, extracted: made once, as cpack strips the programs and asks dpkg-shlibdeps,
// which takes seconds.
struct Package {
    ScratchDir scratch;
    std::string debName;

    std::string Deb() const { return scratch / "out/" + debName; }
    std::string Root() const { return scratch / "root"; }
    std::string Field(const std::string& name) const {
        const RunResult r = RunChild(QUENDRIX_DPKG_DEB, {.args = {"--field", Deb(), name}});
        EXPECT_TRUE(r.Exited(0)) << Describe(r);
        return r.out.substr(0, r.out.find_last_not_of('\n') + 1);
    }
};

void Build(Package& package) {
    const RunResult built = RunChild(QUENDRIX_CPACK, {.args = {"--config", QUENDRIX_BINARY_DIR "/CPackConfig.cmake",
                                                               "-G", "DEB", "-B", package.scratch / "out"}});
    ASSERT_TRUE(built.Exited(0)) << Describe(built) << built.out;
    for (const std::string& name : FolderEntries(package.scratch / "out")) {
        if (name.ends_with(".deb")) package.debName = name;
    }
    ASSERT_FALSE(package.debName.empty()) << built.out;
    const RunResult extracted = RunChild(QUENDRIX_DPKG_DEB, {.args = {"-x", package.Deb(), package.Root()}});
    ASSERT_TRUE(extracted.Exited(0)) << Describe(extracted);
}

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

void CheckControlData(const Package& p) {
    EXPECT_EQ(p.debName, "quendrix_" QUENDRIX_VERSION "_" + p.Field("Architecture") + ".deb");
    EXPECT_EQ(p.Field("Package"), "quendrix");
    EXPECT_EQ(p.Field("Version"), QUENDRIX_VERSION);
    // The libraries the programs link, as dpkg-shlibdeps found them.
    const std::string depends = p.Field("Depends");
    for (const char* library : {"libqt6widgets6", "libqt6gui6", "libjpeg62-turbo", "libspng0", "libc6"}) {
        EXPECT_NE(depends.find(library), std::string::npos) << depends;
    }
    EXPECT_TRUE(depends.starts_with("qt6-translations-l10n, ")) << depends;
    EXPECT_NE(p.Field("Recommends").find("libnotify-bin"), std::string::npos);
    EXPECT_FALSE(p.Field("Maintainer").empty());
    EXPECT_FALSE(p.Field("Description").empty());
}

void CheckContents(const Package& p) {
    const std::string usr = p.Root() + "/usr";
    for (const char* program :
         {"bin/quendrix", "bin/quendrix-batch", "bin/quendrix-compress", "libexec/quendrix/quendrix-notice"}) {
        EXPECT_TRUE(Executable(usr + "/" + program)) << program;
    }
    for (const char* file :
         {"share/applications/quendrix.desktop", "share/metainfo/io.github.quendrix.metainfo.xml",
          "share/icons/hicolor/scalable/apps/quendrix.svg", "share/pixmaps/quendrix.xpm",
          "share/kio/servicemenus/quendrix-compress.desktop", "share/quendrix/actions/thunar-uca.xml"}) {
        EXPECT_TRUE(Exists(usr + "/" + file)) << file;
    }
    EXPECT_TRUE(Executable(usr + "/share/quendrix/actions/Mit Quendrix komprimieren"));
    EXPECT_NE(ReadBytes(usr + "/share/icons/hicolor/scalable/apps/quendrix.svg").find("viewBox=\"0 0 32 32\""),
              std::string::npos);
    // Gzipped as Debian wants them: German pages in de/, English ones where man looks in any other locale.
    for (const char* page : {"quendrix", "quendrix-batch", "quendrix-compress"}) {
        for (const auto& [folder, heading] : {std::pair{"de/man1", ".SH BEZEICHNUNG\n"}, {"man1", ".SH NAME\n"}}) {
            const std::string path = usr + "/share/man/" + folder + "/" + page + ".1.gz";
            EXPECT_EQ(ReadBytes(path).substr(0, 4), std::string("\x1f\x8b\x08\x00", 4)) << path;  // no name
            const RunResult text = RunChild("/bin/gzip", {.args = {"-dc", path}});
            EXPECT_NE(text.out.find(heading), std::string::npos) << path;
        }
    }
    // help2man's page carries the options of --help.
    const RunResult page = RunChild("/bin/gzip", {.args = {"-dc", usr + "/share/man/de/man1/quendrix-batch.1.gz"}});
    EXPECT_NE(page.out.find("\\-\\-target\\-folder"), std::string::npos);

    // The licence of every file, and the history, whose newest entry is this version.
    const std::string doc = usr + "/share/doc/quendrix/";
    EXPECT_EQ(ReadBytes(doc + "copyright"), ReadBytes(QUENDRIX_SOURCE_DIR "/res/debian/copyright"));
    const std::string changelog = p.scratch / "changelog";
    test::WriteBytes(changelog, RunChild("/bin/gzip", {.args = {"-dc", doc + "changelog.gz"}}).out);
    const RunResult parsed = RunChild(QUENDRIX_DPKG_PARSECHANGELOG, {.args = {"-l", changelog, "-S", "Version"}});
    EXPECT_TRUE(parsed.Exited(0)) << Describe(parsed);
    EXPECT_EQ(parsed.out, QUENDRIX_VERSION "\n");
}

// The design of the 32 x 32 pixel icon at every size: black frame, sky, sun, meadow and the red arrow.
void CheckIcons(const Package& p) {
    struct Landmark {
        double x, y;  // on the 32-unit grid, the middle of a pixel of the design
        uint32_t rgb;
    };
    const Landmark landmarks[] = {{1.5, 10.5, 0x000000},  {2.5, 10.5, 0xC0C0C0},  {6.5, 7.5, 0x80C0FF},
                                  {22.5, 10.5, 0xFFFF00}, {24.5, 15.5, 0x008000}, {8.5, 22.5, 0x40C040},
                                  {25.5, 27.5, 0xC00000}};
    for (uint32_t size : {16u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string path = p.Root() + "/usr/share/icons/hicolor/" + std::to_string(size) + "x" +
                                 std::to_string(size) + "/apps/quendrix.png";
        auto icon = imaging::Bitmap::FromFile(path);
        ASSERT_TRUE(icon && icon->Decode()) << path;
        EXPECT_EQ(icon->Width(), size);
        EXPECT_EQ(icon->Height(), size);
        if (size < 32) continue;  // below the design's own size pixels blend
        for (const Landmark& mark : landmarks) {
            uint32_t argb = 0;
            ASSERT_TRUE(icon->GetPixel(static_cast<uint32_t>(mark.x * size / 32),
                                       static_cast<uint32_t>(mark.y * size / 32), argb));
            EXPECT_EQ(argb >> 24, 0xFFu) << size << " at " << mark.x << "," << mark.y;
            EXPECT_EQ(argb & 0xFFFFFF, mark.rgb) << size << " at " << mark.x << "," << mark.y;
        }
        uint32_t corner = 0;
        ASSERT_TRUE(icon->GetPixel(0, 0, corner));
        EXPECT_EQ(corner >> 24, 0u) << size;  // transparent around the picture
    }
}

void CheckValidators(const Package& p) {
    const std::string entry = p.Root() + "/usr/share/applications/quendrix.desktop";
    const RunResult desktop = RunChild(QUENDRIX_DESKTOP_FILE_VALIDATE, {.args = {entry}});
    EXPECT_TRUE(desktop.Exited(0)) << Describe(desktop) << desktop.out;
    EXPECT_EQ(desktop.out, "");  // not even a hint
    const std::string text = ReadBytes(entry);
    EXPECT_NE(text.find("\nExec=quendrix %F\n"), std::string::npos);
    EXPECT_NE(
        text.find("\nMimeType=image/jpeg;image/png;image/bmp;image/heic;image/heif;image/webp;image/avif;image/jxl;\n"),
        std::string::npos);
    EXPECT_NE(text.find("\nActions=compress;\n\n[Desktop Action compress]\nName=Mit Quendrix komprimieren\n"
                        "Exec=quendrix-compress %F\n"),
              std::string::npos);

    const RunResult metainfo =
        RunChild(QUENDRIX_APPSTREAMCLI, {.args = {"validate", "--no-net", "--pedantic",
                                                  p.Root() + "/usr/share/metainfo/io.github.quendrix.metainfo.xml"}});
    EXPECT_TRUE(metainfo.Exited(0)) << Describe(metainfo) << metainfo.out;
    const std::string xml = ReadBytes(p.Root() + "/usr/share/metainfo/io.github.quendrix.metainfo.xml");
    EXPECT_NE(xml.find("<launchable type=\"desktop-id\">quendrix.desktop</launchable>"), std::string::npos);
    EXPECT_NE(xml.find("<release version=\"" QUENDRIX_VERSION "\""), std::string::npos);
    // What a software centre shows beside the description; the validator accepts a file without them.
    for (const char* element : {"<project_license>GPL-3.0-or-later</project_license>",
                                "<url type=\"homepage\">https://", "<image type=\"source\">https://"}) {
        EXPECT_NE(xml.find(element), std::string::npos) << element;
    }
    // The web site serves the screenshot kept in res/screenshots/, at least as wide as software centres show it.
    const size_t image = xml.find("<image type=\"source\">");
    ASSERT_NE(image, std::string::npos);
    const size_t end = xml.find("</image>", image);
    const std::string name = xml.substr(xml.rfind('/', end) + 1, end - xml.rfind('/', end) - 1);
    auto screenshot = imaging::Bitmap::FromFile(QUENDRIX_SOURCE_DIR "/res/screenshots/" + name);
    ASSERT_TRUE(screenshot && screenshot->Decode()) << name;
    EXPECT_GE(screenshot->Width(), 620u);
    const size_t release = xml.find("<release version=\"" QUENDRIX_VERSION "\"");
    EXPECT_LT(xml.find("<description>", release), xml.find("</release>", release));  // release notes
}

TEST(Package, BuiltFromThisTreeHoldsAndDeclaresEverything) {
    Package package;
    ASSERT_NO_FATAL_FAILURE(Build(package));
    {
        SCOPED_TRACE("control data");
        CheckControlData(package);
    }
    {
        SCOPED_TRACE("contents");
        CheckContents(package);
    }
    {
        SCOPED_TRACE("icons");
        CheckIcons(package);
    }
    {
        SCOPED_TRACE("validators");
        CheckValidators(package);
    }
}

// lintian with Debian's checks, and hardening-check on every compiled program: a program that reads image
// files from anywhere is built with fortified libc calls, stack canaries, as PIE and with read-only relocations
// bound at start-up. Control-flow protection is left out of the check: Debian 12's C start files carry no
// IBT/SHSTK mark, so no program linked against them is marked, whatever its own objects are.
TEST(Package, LintianAndHardeningCheckFindNothing) {
    if (std::string(QUENDRIX_LINTIAN).ends_with("NOTFOUND") ||
        std::string(QUENDRIX_HARDENING_CHECK).ends_with("NOTFOUND")) {
        GTEST_SKIP() << "lintian or hardening-check is not installed (packages.txt installs both)";
    }
    Package package;
    ASSERT_NO_FATAL_FAILURE(Build(package));
    const RunResult lint = RunChild(
        QUENDRIX_LINTIAN,
        {.args = {"--fail-on", "error,warning", "--tag-display-limit", "0", package.Deb()}, .timeoutSeconds = 300});
    EXPECT_TRUE(lint.Exited(0)) << Describe(lint) << lint.out;
    for (const char* kind : {"E: ", "W: "}) EXPECT_EQ(lint.out.find(kind), std::string::npos) << lint.out;

    if (!QUENDRIX_HARDENED) return;  // the sanitizer and debug builds go without the flags
    const std::string usr = package.Root() + "/usr/";
    const RunResult hardening = RunChild(QUENDRIX_HARDENING_CHECK,
                                         {.args = {"--nocfprotection", usr + "bin/quendrix", usr + "bin/quendrix-batch",
                                                   usr + "libexec/quendrix/quendrix-notice"}});
    EXPECT_TRUE(hardening.Exited(0)) << Describe(hardening) << hardening.out;
}

// The licence of the project, and of every set of test images beside it, where Debian and the software centres
// look for them.
TEST(Licence, EveryFileOfTheSourceTreeHasItsLicenceDeclared) {
    const std::string licence = ReadBytes(QUENDRIX_SOURCE_DIR "/LICENSE");
    EXPECT_TRUE(licence.find("GNU GENERAL PUBLIC LICENSE") < 100 && licence.find("Version 3, 29 June 2007") < 200);
    EXPECT_NE(licence.find("END OF TERMS AND CONDITIONS"), std::string::npos);  // the full text
    EXPECT_NE(ReadBytes(QUENDRIX_SOURCE_DIR "/res/io.github.quendrix.metainfo.xml")
                  .find("<project_license>GPL-3.0-or-later</project_license>"),
              std::string::npos);

    const std::string copyright = ReadBytes(QUENDRIX_SOURCE_DIR "/res/debian/copyright");
    EXPECT_TRUE(copyright.starts_with("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"));
    EXPECT_NE(copyright.find("\n\nFiles: *\nCopyright: 2026 Quendrix-Projekt\nLicense: GPL-3+\n"), std::string::npos);
    // Every set that came from elsewhere has its own stanza, so a new set cannot slip in under the project's.
    for (const std::string& set : FolderEntries(QUENDRIX_SOURCE_DIR "/tests/corpus")) {
        if (set == "generated" || !std::filesystem::is_directory(QUENDRIX_SOURCE_DIR "/tests/corpus/" + set)) continue;
        EXPECT_NE(copyright.find("\n\nFiles: tests/corpus/" + set + "/*\n"), std::string::npos) << set;
    }
    // Each licence named in a stanza is spelled out in it or in a paragraph of its own.
    size_t at = 0;
    while ((at = copyright.find("\nLicense: ", at)) != std::string::npos) {
        at += 10;
        const std::string name = copyright.substr(at, copyright.find('\n', at) - at);
        const bool textHere = copyright.compare(copyright.find('\n', at), 2, "\n ") == 0;
        EXPECT_TRUE(textHere || copyright.find("\n\nLicense: " + name + "\n ") != std::string::npos) << name;
    }
}

}  // namespace
}  // namespace qx::test
