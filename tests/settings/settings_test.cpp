#include <gtest/gtest.h>

#include <cstdlib>

#include "settings/settings.h"
#include "settings/settings_location.h"
#include "tests/support/test_support.h"

namespace qx::test {
namespace {

using namespace settings;

TEST(Settings, FirstStartGivesTheDefaults) {
    ScratchDir dir;
    ProfileStore store(dir / "q.ini");
    ScopedEnv doc("U3_DEVICE_DOCUMENT_PATH", nullptr);
    ScopedEnv home("HOME", "/home/anna");
    const MainSettings m = ReadMainSettings(store, DefaultVerz());
    EXPECT_EQ(m.Rate, 80u);
    EXPECT_EQ(m.Verz, "/home/anna/Quendrix");
    EXPECT_EQ(m.Bildsize, 2);
    EXPECT_EQ(m.Prozent, 100u);
    EXPECT_EQ(m.Breite, 640u);
    EXPECT_EQ(m.Hoehe, 480u);
    EXPECT_EQ(m.ZielPath, 0);
    EXPECT_EQ(m.NichtVergroessern, 0);
    const ParameterSettings p = ReadParameterSettings(store);
    EXPECT_EQ(p.AusgabeDateiTyp, 0);
    EXPECT_EQ(p.Prefix, "Pic");
    EXPECT_EQ(p.LfdNr, 1);
    EXPECT_EQ(p.Stellen, 3);
    EXPECT_EQ(p.EingabeTyp, 7);
    EXPECT_EQ(p.AusgabeTyp, 0);
    EXPECT_EQ(p.ThreadAnzahl, 10);
}

TEST(Settings, DeviceDocumentPathGivesTheDefaultTargetFolder) {
    ScopedEnv doc("U3_DEVICE_DOCUMENT_PATH", "/media/stick/Documents");
    EXPECT_EQ(DefaultVerz(), "/media/stick/Documents/Quendrix");
    ScopedEnv empty("U3_DEVICE_DOCUMENT_PATH", "");
    ScopedEnv home("HOME", "/root");
    EXPECT_EQ(DefaultVerz(), "/root/Quendrix");
}

TEST(Settings, BothSectionsRoundTripInKeyOrder) {
    ScratchDir dir;
    ProfileStore store(dir / "q.ini");
    MainSettings m{55, "/out", -1, 50, 800, 600, 1, 1};
    WriteMainSettings(store, m);
    ParameterSettings p{1, "", 998, 4, 0, 5, 0};
    WriteParameterSettings(store, p);
    EXPECT_EQ(ReadBytes(dir / "q.ini"),
              "[Allg]\nRate=55\nVerz=/out\nBildsize=-1\nProzent=50\nBreite=800\nHoehe=600\nZielPath=1\n"
              "NichtVergroessern=1\n[Parameter]\nAusgabeDateiTyp=1\nPrefix=\nLfdNr=998\nStellen=4\n"
              "EingabeTyp=0\nAusgabeTyp=5\nThreadAnzahl=0\n");
    const MainSettings m2 = ReadMainSettings(store, "unused");
    EXPECT_EQ(m2.Verz, "/out");
    EXPECT_EQ(m2.Bildsize, -1);
    const ParameterSettings p2 = ReadParameterSettings(store);
    EXPECT_EQ(p2.Prefix, "");     // present and empty: not the default
    EXPECT_EQ(p2.AusgabeTyp, 5);  // read values are not range-checked
    EXPECT_EQ(ReadEingabeTyp(store), 0);
}

TEST(Settings, HandEditedValuesAreReadAndShownUnchanged) {
    ScratchDir dir;
    WriteBytes(dir / "q.ini", "[Allg]\nRate=-5\nBildsize=9\n[Parameter]\nAusgabeTyp=-3\nStellen=0x10\n");
    ProfileStore store(dir / "q.ini");
    const MainSettings m = ReadMainSettings(store, "/v");
    const ParameterSettings p = ReadParameterSettings(store);
    EXPECT_EQ(m.Rate, 4294967291u);  // the unsigned member holds the stored bits
    EXPECT_EQ(ValueText(Key(kRate), m, p), "4294967291");
    EXPECT_FALSE(Key(kRate).InRange(IntValue(Key(kRate), m, p)));
    EXPECT_EQ(ValueText(Key(kBildsize), m, p), "9");
    EXPECT_EQ(ValueText(Key(kAusgabeTyp), m, p), "-3");
    EXPECT_EQ(ValueText(Key(kStellen), m, p), "16");
    EXPECT_EQ(ValueText(Key(kVerz), m, p), "/v");
    EXPECT_EQ(ValueText(Key(kPrefix), m, p), "Pic");
    EXPECT_TRUE(Key(kPrefix).IsText() && !Key(kStellen).IsText());
    // Writing stores them as they are.
    WriteMainSettings(store, m);
    EXPECT_EQ(ReadBytes(dir / "q.ini").substr(0, 26), "[Allg]\nRate=-5\nBildsize=9\n");
}

TEST(Settings, InputTypeBitsAreBmpJpgPng) {
    InputTypeFlags none = UnpackEingabeTyp(8);  // only higher bits: nothing accepted
    EXPECT_FALSE(none.Has(0) || none.Has(1) || none.Has(2));
    InputTypeFlags jpg = UnpackEingabeTyp(2);
    EXPECT_TRUE(jpg.Has(1));
    EXPECT_FALSE(jpg.Has(0) || jpg.Has(2));
    EXPECT_EQ(PackEingabeTyp(InputTypeFlags::Only(0b101)), 5);
    EXPECT_EQ(PackEingabeTyp(InputTypeFlags{}), 7);  // every type: the three stored bits
    EXPECT_EQ(PackEingabeTyp(UnpackEingabeTyp(15)), 7);
}

// HEIC, WebP, AVIF and JPEG XL take input bits 3..6 from their own key, which a file without it reads as all
// on.
TEST(Settings, FurtherInputTypesHaveTheirOwnKeyAllOnWithoutIt) {
    ScratchDir dir;
    ProfileStore store(dir / "quendrix.ini");
    EXPECT_EQ(ReadInputTypes(store).Bits(), 0b1111111u);
    WriteBytes(dir / "quendrix.ini", "[Parameter]\nEingabeTyp=2\n[Erweitert]\nWeitereEingabeTypen=26\n");
    const InputTypeFlags read = ReadInputTypes(ProfileStore(dir / "quendrix.ini"));
    EXPECT_EQ(read.Bits(), 0b1010010u);  // JPG, WebP and JPEG XL; bit 4 of the stored 26 is none of the four
    EXPECT_EQ(PackEingabeTyp(read), 2);
    EXPECT_EQ(PackWeitereEingabeTypen(read), 10);
    EXPECT_EQ(PackWeitereEingabeTypen(InputTypeFlags{}), 15);
}

TEST(Settings, DeviceTokenRule) {
    // E: with E:\Bilder\Klein is stored with the token and read back under another drive letter.
    EXPECT_EQ(ApplyTokenOnWrite("E:\\Bilder\\Klein", "E:", "e:"), "%U3_DEVICE_PATH%\\Bilder\\Klein");
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%\\Bilder\\Klein", "F:"), "F:\\Bilder\\Klein");
    // The lower-cased device path is replaced too; the reading step gives the upper-cased one.
    EXPECT_EQ(ApplyTokenOnWrite("e:\\bilder", "E:", "e:"), "%U3_DEVICE_PATH%\\bilder");
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%\\bilder", "E:"), "E:\\bilder");
    // Mixed case matches neither copy.
    EXPECT_EQ(ApplyTokenOnWrite("E:\\Stick\\x", "E:\\STICK", "e:\\stick"), "E:\\Stick\\x");
    // Without a device path the token stays plain text, both ways.
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%\\x", ""), "%U3_DEVICE_PATH%\\x");
    EXPECT_EQ(ApplyTokenOnWrite("%U3_DEVICE_PATH%\\x", "", ""), "%U3_DEVICE_PATH%\\x");
}

TEST(Settings, DeviceTokenRuleKeepsTheDevicePathsCaseInTheNativeStyle) {
    ScopedEnv device("U3_DEVICE_PATH", "/media/Usb");
    const DevicePath usb = ReadDevicePath();
    EXPECT_EQ(usb.exact, "/media/Usb");
    EXPECT_EQ(usb.upper, "/MEDIA/USB");
    EXPECT_EQ(usb.lower, "/media/usb");
    // On a case-sensitive file system /MEDIA/USB is another folder: the token stands for the path as given.
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%/Bilder", usb), "/media/Usb/Bilder");
    // Writing replaces the exact form, and the two case copies as before.
    EXPECT_EQ(ApplyTokenOnWrite("/media/Usb/Bilder", usb), "%U3_DEVICE_PATH%/Bilder");
    EXPECT_EQ(ApplyTokenOnWrite("/MEDIA/USB/a und /media/usb/b und /Media/usb/c", usb),
              "%U3_DEVICE_PATH%/a und %U3_DEVICE_PATH%/b und /Media/usb/c");
    // The Windows style keeps its rule: upper-cased on reading, only the case copies on writing.
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%\\x", usb, PathStyle::Windows), "/MEDIA/USB\\x");
    EXPECT_EQ(ApplyTokenOnWrite("/media/Usb/x", usb, PathStyle::Windows), "/media/Usb/x");
    // Without a device path nothing happens either way.
    ScopedEnv unset("U3_DEVICE_PATH", nullptr);
    const DevicePath none = ReadDevicePath();
    EXPECT_TRUE(none.exact.empty() && none.upper.empty() && none.lower.empty());
    EXPECT_EQ(ApplyTokenOnRead("%U3_DEVICE_PATH%/x", none), "%U3_DEVICE_PATH%/x");
    EXPECT_EQ(ApplyTokenOnWrite("/media/Usb/x", none), "/media/Usb/x");
}

TEST(Settings, TokenRuleThroughARealFile) {
    ScratchDir dir;
    ProfileStore store(dir / "q.ini");
    MainSettings m;
    m.Verz = ApplyTokenOnWrite("E:\\Bilder\\Klein", "E:", "e:");
    WriteMainSettings(store, m);
    EXPECT_NE(ReadBytes(dir / "q.ini").find("Verz=%U3_DEVICE_PATH%\\Bilder\\Klein\n"), std::string::npos);
    EXPECT_EQ(ApplyTokenOnRead(ReadMainSettings(store, "").Verz, "F:"), "F:\\Bilder\\Klein");
}

TEST(SettingsLocation, WindowsCases) {
    const auto w = PathStyle::Windows;
    auto u3 = ChooseSettingsLocation("D:\\Tools\\Quendrix.exe", "X:\\Daten", "C:\\Roaming", w);
    ASSERT_TRUE(u3);
    EXPECT_EQ(u3->folder, "X:\\Daten");
    EXPECT_EQ(u3->path, "X:\\Daten\\Quendrix.ini");

    auto app = ChooseSettingsLocation("D:\\Tools\\Quendrix.exe", "", "C:\\Dokumente\\Roaming", w);
    ASSERT_TRUE(app);
    EXPECT_EQ(app->folder, "C:\\Dokumente\\Roaming\\Quendrix");
    EXPECT_EQ(app->path, "C:\\Dokumente\\Roaming\\Quendrix\\Quendrix.ini");

    auto other = ChooseSettingsLocation("C:\\Bilder.exe", std::nullopt, "C:\\A", w);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->path, "C:\\A\\Bilder\\Bilder.ini");

    auto doubled = ChooseSettingsLocation("Quendrix.exe", "X:\\Daten\\", std::nullopt, w);
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->path, "X:\\Daten\\\\Quendrix.ini");

    auto dots = ChooseSettingsLocation("C:\\p\\Bild.Tool.exe", "X:", std::nullopt, w);
    ASSERT_TRUE(dots);
    EXPECT_EQ(dots->path, "X:\\Bild.Tool.ini");

    EXPECT_FALSE(ChooseSettingsLocation("C:\\Quendrix.exe", std::nullopt, std::nullopt, w));
    EXPECT_FALSE(ChooseSettingsLocation("C:\\Quendrix.exe", "", "", w));
}

TEST(SettingsLocation, NativeStyleAndTheDefault) {
    auto app = ChooseSettingsLocation("/usr/bin/quendrix", std::nullopt, "/home/u/appdata");
    ASSERT_TRUE(app);
    EXPECT_EQ(app->path, "/home/u/appdata/quendrix/quendrix.ini");

    // A dot in a program's name is part of it: programs here have no extension.
    auto dotted = ChooseSettingsLocation("/opt/quendrix-1.2", std::nullopt, "/home/u/appdata");
    ASSERT_TRUE(dotted);
    EXPECT_EQ(dotted->folder, "/home/u/appdata/quendrix-1.2");
    EXPECT_EQ(dotted->path, "/home/u/appdata/quendrix-1.2/quendrix-1.2.ini");
    EXPECT_EQ(ChooseSettingsLocation("/opt/bild.tool", "/u3", std::nullopt)->path, "/u3/bild.tool.ini");

    ScratchDir dir;
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "cfg").c_str());
        ScopedEnv u3("U3_APP_DATA_PATH", nullptr);
        ScopedEnv appdata("APPDATA", nullptr);
        EXPECT_EQ(ResolveSettingsPath("/opt/q/quendrix"), dir / "cfg/quendrix/quendrix.ini");
        EXPECT_TRUE(std::filesystem::is_directory(dir / "cfg/quendrix"));
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", dir.path().c_str());
        ScopedEnv u3("U3_APP_DATA_PATH", nullptr);
        ScopedEnv appdata("APPDATA", nullptr);
        EXPECT_EQ(ResolveSettingsPath("/opt/q/quendrix"), dir / ".config/quendrix/quendrix.ini");
        EXPECT_TRUE(std::filesystem::is_directory(dir / ".config/quendrix"));
        EXPECT_EQ(ResolveSettingsPath("/opt/q/quendrix-1.2"), dir / ".config/quendrix-1.2/quendrix-1.2.ini");
        EXPECT_TRUE(std::filesystem::is_directory(dir / ".config/quendrix-1.2"));
    }
    {
        // APPDATA naming a missing folder: the path points into it all the same, nothing is created.
        ScopedEnv u3("U3_APP_DATA_PATH", nullptr);
        ScopedEnv appdata("APPDATA", (dir / "missing/deeper").c_str());
        EXPECT_EQ(ResolveSettingsPath("/x/quendrix"), dir / "missing/deeper/quendrix/quendrix.ini");
        EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    }
}

TEST(SettingsLocation, TheGuiPathWhateverTheCallerIsCalledAndNothingCreated) {
    ScratchDir dir;
    ScopedEnv u3("U3_APP_DATA_PATH", nullptr);
    ScopedEnv appdata("APPDATA", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
    ScopedEnv home("HOME", dir.path().c_str());
    EXPECT_EQ(GuiSettingsPath(), dir / ".config/quendrix/quendrix.ini");
    EXPECT_FALSE(std::filesystem::exists(dir / ".config"));
    {
        ScopedEnv u3Set("U3_APP_DATA_PATH", (dir / "u3").c_str());
        EXPECT_EQ(GuiSettingsPath(), dir / "u3/quendrix.ini");
        EXPECT_EQ(SettingsLocationFromEnvironment("/opt/bin/Bilder").path, dir / "u3/Bilder.ini");
        EXPECT_FALSE(std::filesystem::exists(dir / "u3"));
    }
    // Another program title finds other settings.
    ScopedEnv appSet("APPDATA", dir.path().c_str());
    EXPECT_EQ(ResolveSettingsPath("/opt/bin/Bilder"), dir / "Bilder/Bilder.ini");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Bilder"));
    EXPECT_NE(ResolveSettingsPath("/opt/bin/quendrix"), dir / "Bilder/Bilder.ini");

    ScopedEnv noHome("HOME", "");
    EXPECT_FALSE(HomeFolder().empty());  // from the user database, else "/"
}
}  // namespace
}  // namespace qx::test
