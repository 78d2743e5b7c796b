// Sections, keys and defaults of the settings file, and the rules that every reader and writer shares.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "engine/paths.h"
#include "engine/types.h"
#include "res/strings.h"
#include "settings/profile_store.h"

namespace qx::settings {

inline constexpr const char* kAllg = "Allg";
inline constexpr const char* kParameter = "Parameter";
inline constexpr const char* kErweitert = "Erweitert";

// Keys of section "Allg", in the order they are read and written.
inline constexpr const char* kRate = "Rate";
inline constexpr const char* kVerz = "Verz";
inline constexpr const char* kBildsize = "Bildsize";
inline constexpr const char* kProzent = "Prozent";
inline constexpr const char* kBreite = "Breite";
inline constexpr const char* kHoehe = "Hoehe";
inline constexpr const char* kZielPath = "ZielPath";
inline constexpr const char* kNichtVergroessern = "NichtVergroessern";

// Keys of section "Parameter", in the order they are read and written.
inline constexpr const char* kAusgabeDateiTyp = "AusgabeDateiTyp";
inline constexpr const char* kPrefix = "Prefix";
inline constexpr const char* kLfdNr = "LfdNr";
inline constexpr const char* kStellen = "Stellen";
inline constexpr const char* kEingabeTyp = "EingabeTyp";
inline constexpr const char* kAusgabeTyp = "AusgabeTyp";
inline constexpr const char* kThreadAnzahl = "ThreadAnzahl";

// Keys of section "Erweitert", in the order they are read and written.
inline constexpr const char* kMetadatenUebernehmen = "MetadatenUebernehmen";
inline constexpr const char* kGpsEntfernen = "GpsEntfernen";
inline constexpr const char* kNurWennKleiner = "NurWennKleiner";
inline constexpr const char* kMaxKBAktiv = "MaxKBAktiv";
inline constexpr const char* kMaxKB = "MaxKB";
inline constexpr const char* kDatumUebernehmen = "DatumUebernehmen";
inline constexpr const char* kWeitereEingabeTypen = "WeitereEingabeTypen";
inline constexpr const char* kAutoQualitaet = "AutoQualitaet";
// The levels of AutoQualitaet the dialog offers, in the order of its buttons: off, then distances in tenths.
inline constexpr int32_t kAutoQualitaetLevels[] = {0, 10, 15, 20, 30};
inline constexpr const char* kOrdnerstrukturBeibehalten = "OrdnerstrukturBeibehalten";
inline constexpr const char* kVorhandeneUeberspringen = "VorhandeneUeberspringen";
inline constexpr const char* kEigeneAusgabenUeberspringen = "EigeneAusgabenUeberspringen";
inline constexpr const char* kJpegVerlustfreiUmpacken = "JpegVerlustfreiUmpacken";
inline constexpr const char* kJpegBaseline = "JpegBaseline";

// An option of quendrix-batch that sets a key: `--word VALUE`, or a switch `--word` that sets `sets`.
inline constexpr int32_t kTakesValue = INT32_MIN;
struct CommandOption {
    const char* word = nullptr;  // without the dashes; nullptr: none
    int32_t sets = kTakesValue;
};

// A word that stands for a coded value on the command line ("keep" for 1).
struct ValueWord {
    const char* word = nullptr;
    int32_t value = 0;
};

// One key of the settings file: where it lives, the member that holds it (whose initializer is the key's
// default; Verz's is DefaultVerz()), and the range a
// dialog enforces when it takes the value from its control (radio groups and check boxes: the coded values;
// a group with nothing checked gives -1 all the same). Values read from the file are never range-checked.
// quendrix-batch takes a key's value from its options: after `--word`, a number in the range, a text, or one
// of the words; keys without options here have options of their own (--size, --type, --accept,
// --target-folder, --max-size), whose lines in the help are the keys' all the same.
struct SettingKey {
    using Member =
        std::variant<uint32_t MainSettings::*, int32_t MainSettings::*, std::string MainSettings::*,
                     int32_t ParameterSettings::*, std::string ParameterSettings::*, int32_t AdvancedSettings::*>;
    const char* section;
    const char* key;
    Member member;
    int64_t lower;  // lower > upper: no range (texts)
    int64_t upper;
    CommandOption options[2] = {};
    ValueWord words[2] = {};                // the values an option's word may name; none: a number or a text
    int help = 0;                           // the key's lines in quendrix-batch --help; 0: none
    std::span<const int32_t> choices = {};  // a radio group's values by button; empty: the buttons' indexes

    constexpr bool IsText() const {
        return std::holds_alternative<std::string MainSettings::*>(member) ||
               std::holds_alternative<std::string ParameterSettings::*>(member);
    }
    constexpr bool InRange(int64_t value) const { return value >= lower && value <= upper; }
};

// The bits EingabeTyp stores (BMP, JPG, PNG); higher bits of a stored value are ignored.
inline constexpr uint32_t kEingabeTypBits = 0b111;
// WeitereEingabeTypen holds input bits 3..6 (HEIC, WebP, AVIF, JPEG XL) in its bits 0..3; higher bits are
// ignored.
inline constexpr int kWeitereEingabeTypenShift = 3;
inline constexpr uint32_t kWeitereEingabeTypenBits = 0b1111;

// Every key of sections Allg, Parameter and Erweitert, in the order the file keeps them and every reader and writer
// takes them.
// clang-format off
inline constexpr SettingKey kSchema[] = {
    {kAllg, kRate, &MainSettings::Rate, 0, 100, {{"quality"}}, {}, res::IDS_CLI_HELP_QUALITY},
    {kAllg, kVerz, &MainSettings::Verz, 1, 0, {}, {}, res::IDS_CLI_HELP_TARGET_FOLDER},
    {kAllg, kBildsize, &MainSettings::Bildsize, kSizePercent, kSizeSource, {}, {}, res::IDS_CLI_HELP_SIZE_SOURCE},
    {kAllg, kProzent, &MainSettings::Prozent, 1, 999, {}, {}, res::IDS_CLI_HELP_SIZE_PERCENT},
    {kAllg, kBreite, &MainSettings::Breite, 1, 10000, {}, {}, res::IDS_CLI_HELP_SIZE_BOX},
    {kAllg, kHoehe, &MainSettings::Hoehe, 1, 10000},
    {kAllg, kZielPath, &MainSettings::ZielPath, kTargetSourceFolder, kTargetVerz,
     {{"source-folders", kTargetSourceFolder}}, {}, res::IDS_CLI_HELP_SOURCE_FOLDERS},
    {kAllg, kNichtVergroessern, &MainSettings::NichtVergroessern, 0, 1, {{"no-enlarge", 1}, {"enlarge", 0}}, {},
     res::IDS_CLI_HELP_ENLARGE},
    {kParameter, kAusgabeDateiTyp, &ParameterSettings::AusgabeDateiTyp, kNamingLikeSources, kNamingPattern,
     {{"names"}}, {{"source", kNamingLikeSources}, {"pattern", kNamingPattern}}, res::IDS_CLI_HELP_NAMES},
    {kParameter, kPrefix, &ParameterSettings::Prefix, 1, 0, {{"prefix"}}, {}, res::IDS_CLI_HELP_PREFIX},
    {kParameter, kLfdNr, &ParameterSettings::LfdNr, 1, 9999, {{"first"}}, {}, res::IDS_CLI_HELP_FIRST},
    {kParameter, kStellen, &ParameterSettings::Stellen, 1, 4, {{"digits"}}, {}, res::IDS_CLI_HELP_DIGITS},
    {kParameter, kEingabeTyp, &ParameterSettings::EingabeTyp, 0, int{kEingabeTypBits}, {}, {}, res::IDS_CLI_HELP_ACCEPT},
    {kParameter, kAusgabeTyp, &ParameterSettings::AusgabeTyp, kOutputTypeJpg, kOutputTypeJxl, {}, {},
     res::IDS_CLI_HELP_TYPE},
    {kParameter, kThreadAnzahl, &ParameterSettings::ThreadAnzahl, 0, 1000, {{"threads"}}, {},
     res::IDS_CLI_HELP_THREADS},
    {kErweitert, kMetadatenUebernehmen, &AdvancedSettings::MetadatenUebernehmen, 0, 1,
     {{"metadata"}}, {{"keep", 1}, {"strip", 0}}, res::IDS_CLI_HELP_METADATA},
    {kErweitert, kGpsEntfernen, &AdvancedSettings::GpsEntfernen, 0, 1, {{"keep-gps", 0}}, {},
     res::IDS_CLI_HELP_KEEP_GPS},
    {kErweitert, kNurWennKleiner, &AdvancedSettings::NurWennKleiner, 0, 1, {{"skip-larger", 1}}, {},
     res::IDS_CLI_HELP_SKIP_LARGER},
    {kErweitert, kMaxKBAktiv, &AdvancedSettings::MaxKBAktiv, 0, 1},
    {kErweitert, kMaxKB, &AdvancedSettings::MaxKB, 1, 1000000, {}, {}, res::IDS_CLI_HELP_MAX_SIZE},
    {kErweitert, kDatumUebernehmen, &AdvancedSettings::DatumUebernehmen, 0, 1, {{"keep-date", 1}}, {},
     res::IDS_CLI_HELP_KEEP_DATE},
    {kErweitert, kWeitereEingabeTypen, &AdvancedSettings::WeitereEingabeTypen, 0, int{kWeitereEingabeTypenBits}},
    {kErweitert, kAutoQualitaet, &AdvancedSettings::AutoQualitaet, 0, 100, {}, {}, res::IDS_CLI_HELP_AUTO_QUALITY,
     kAutoQualitaetLevels},
    {kErweitert, kOrdnerstrukturBeibehalten, &AdvancedSettings::OrdnerstrukturBeibehalten, 0, 1, {{"keep-tree", 1}},
     {}, res::IDS_CLI_HELP_KEEP_TREE},
    {kErweitert, kVorhandeneUeberspringen, &AdvancedSettings::VorhandeneUeberspringen, 0, 1, {{"skip-existing", 1}},
     {}, res::IDS_CLI_HELP_SKIP_EXISTING},
    {kErweitert, kEigeneAusgabenUeberspringen, &AdvancedSettings::EigeneAusgabenUeberspringen, 0, 1,
     {{"skip-own-outputs", 1}, {"own-outputs", 0}}, {}, res::IDS_CLI_HELP_SKIP_OWN_OUTPUTS},
    {kErweitert, kJpegVerlustfreiUmpacken, &AdvancedSettings::JpegVerlustfreiUmpacken, 0, 1, {{"jpeg-lossless", 1}},
     {}, res::IDS_CLI_HELP_JPEG_LOSSLESS},
    {kErweitert, kJpegBaseline, &AdvancedSettings::JpegBaseline, 0, 1, {{"baseline", 1}, {"progressive", 0}}, {},
     res::IDS_CLI_HELP_BASELINE},
};
// clang-format on

// The row of `key` (keys are unique across both sections); a name that is no key does not compile where
// it is looked up at compile time.
constexpr const SettingKey& Key(std::string_view key) {
    for (const SettingKey& row : kSchema) {
        if (key == row.key) return row;
    }
    throw std::invalid_argument("no such settings key");
}

// "Bitte geben Sie eine ganze Zahl zwischen `lower` und `upper` ein."
std::string RangeMessage(int64_t lower, int64_t upper);

enum class ParseResult { Ok, NotANumber, TooLarge };
// Unsigned decimal text as the dialogs and the command line take a number: blanks and tabs around the
// digits are allowed, nothing else (no sign, not empty). A number above 2^32 - 1 is TooLarge.
ParseResult ParseUnsignedDecimal(const std::string& text, uint32_t& value);
// Why a batch does not start with `value` of `row` from the settings file (only a hand-edited file holds a
// value out of range): "Einstellungsdatei Rate=150: " and the range message.
std::string StoredValueMessage(const SettingKey& row, int64_t value);
// The row of a value of section Erweitert that a batch would use although it lies outside its range: MaxKB
// while MaxKBAktiv is on. nullptr when there is none.
const SettingKey* AdvancedValueOutOfRange(const AdvancedSettings& advanced);

// The value `row` has in `main`, `parameters` or `advanced`, as the file stores it (signed decimal, or the text).
std::string ValueText(const SettingKey& row, const MainSettings& main, const ParameterSettings& parameters,
                      const AdvancedSettings& advanced = {});
// The integer value of `row`; 0 for a text.
int64_t IntValue(const SettingKey& row, const MainSettings& main, const ParameterSettings& parameters,
                 const AdvancedSettings& advanced = {});
template <class T>
struct MemberOf;
template <class C, class V>
struct MemberOf<V C::*> {
    using Class = C;
    using Value = V;
};

// Calls `apply` with the member pointer of `row` when it is a member of `Settings`.
template <class Settings, class Apply>
void WithMember(const SettingKey& row, Apply&& apply) {
    std::visit(
        [&](auto member) {
            if constexpr (std::is_same_v<typename MemberOf<decltype(member)>::Class, Settings>) apply(member);
        },
        row.member);
}

// Sets `row`'s member to `number` (integer keys) or `text` (text keys).
void SetValue(const SettingKey& row, int64_t number, const std::string& text, MainSettings& main,
              ParameterSettings& parameters, AdvancedSettings& advanced);

// Section "Allg", with `defaultVerz` for the target folder; the Verz token rule is the caller's.
MainSettings ReadMainSettings(const ProfileStore& store, const std::string& defaultVerz);
void WriteMainSettings(ProfileStore& store, const MainSettings& values);

// All seven keys, as the Parameter dialog reads them.
ParameterSettings ReadParameterSettings(const ProfileStore& store);
void WriteParameterSettings(ProfileStore& store, const ParameterSettings& values);

// Section "Erweitert", read by the dialog when it opens and by every batch start; written only by the
// dialog's OK, so that a file whose user never confirmed it holds no such section.
AdvancedSettings ReadAdvancedSettings(const ProfileStore& store);
void WriteAdvancedSettings(ProfileStore& store, const AdvancedSettings& values);

// Only the key EingabeTyp, as a drop reads it.
int ReadEingabeTyp(const ProfileStore& store);
// Bit 0 BMP, bit 1 JPG, bit 2 PNG; higher bits are ignored.
InputTypeFlags UnpackEingabeTyp(int value);
int PackEingabeTyp(const InputTypeFlags& flags);

// Every input type a drop takes: EingabeTyp's and WeitereEingabeTypen's.
InputTypeFlags UnpackInputTypes(int eingabeTyp, int weitereEingabeTypen);
// Both keys, as a drop reads them (a file without WeitereEingabeTypen takes every further type).
InputTypeFlags ReadInputTypes(const ProfileStore& store);
int PackWeitereEingabeTypen(const InputTypeFlags& flags);

// $U3_DEVICE_DOCUMENT_PATH when set and non-empty, otherwise the home folder; then "/Quendrix".
std::string DefaultVerz();

// The device-path placeholder "%U3_DEVICE_PATH%" of a stored target folder.
std::string DeviceToken();

// The device path from U3_DEVICE_PATH as given, with its upper- and lower-cased copies; all empty when the
// variable is unset or empty.
struct DevicePath {
    std::string exact;
    std::string upper;
    std::string lower;
};
DevicePath ReadDevicePath();

// The token rule of the stored target folder; nothing happens without a device path. Reading puts the
// device path in place of every token: in the Windows style upper-cased (drive letters and folder names
// there match in any case), in the native style exactly as given, since on a case-sensitive file system
// another case names another folder. Writing puts the token in place of every occurrence (case-sensitive)
// of the upper-cased, then of the lower-cased device path; in the native style first of the exact one.
std::string ApplyTokenOnRead(const std::string& verz, const DevicePath& device, PathStyle style = PathStyle::Native);
std::string ApplyTokenOnWrite(const std::string& verz, const DevicePath& device, PathStyle style = PathStyle::Native);

// The Windows rule with the two case copies alone, as ApplyTokenOnRead and ApplyTokenOnWrite give it in
// the Windows style.
std::string ApplyTokenOnRead(const std::string& verz, const std::string& devicePathUpper);
std::string ApplyTokenOnWrite(const std::string& verz, const std::string& devicePathUpper,
                              const std::string& devicePathLower);

}  // namespace qx::settings
