#include "settings/settings.h"

#include "engine/batch.h"
#include "res/strings.h"
#include "settings/settings_location.h"

#include <cstdlib>
#include <string_view>
#include <type_traits>
#include <variant>

namespace qx::settings {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// Every key of `section`, each read anew; a key the file lacks keeps its value in `values`, the default.
template <class Settings>
Settings ReadSection(const ProfileStore& store, const char* section, Settings values) {
    for (const SettingKey& row : kSchema) {
        if (std::string_view(row.section) != section) continue;
        WithMember<Settings>(row, [&](auto member) {
            using Value = typename MemberOf<decltype(member)>::Value;
            if constexpr (std::is_same_v<Value, std::string>) {
                values.*member = store.GetProfileStringA(section, row.key, values.*member);
            } else {
                values.*member = static_cast<Value>(store.GetProfileIntA(section, row.key, int(values.*member)));
            }
        });
    }
    return values;
}

template <class Settings>
void WriteSection(ProfileStore& store, const char* section, const Settings& values) {
    for (const SettingKey& row : kSchema) {
        if (std::string_view(row.section) != section) continue;
        WithMember<Settings>(row, [&](auto member) {
            using Value = typename MemberOf<decltype(member)>::Value;
            if constexpr (std::is_same_v<Value, std::string>) {
                store.WriteProfileStringA(section, row.key, values.*member);
            } else {
                store.WriteProfileInt(section, row.key, static_cast<int>(values.*member));
            }
        });
    }
}

// The batch caps the thread count by its own constant.
static_assert(Key(kThreadAnzahl).upper == kMaxThreadAnzahl);

}  // namespace

std::string ValueText(const SettingKey& row, const MainSettings& main, const ParameterSettings& parameters,
                      const AdvancedSettings& advanced) {
    std::string text;
    auto show = [&text](const auto& value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>)
            text = value;
        else
            text = std::to_string(value);
    };
    WithMember<MainSettings>(row, [&](auto member) { show(main.*member); });
    WithMember<ParameterSettings>(row, [&](auto member) { show(parameters.*member); });
    WithMember<AdvancedSettings>(row, [&](auto member) { show(advanced.*member); });
    return text;
}

int64_t IntValue(const SettingKey& row, const MainSettings& main, const ParameterSettings& parameters,
                 const AdvancedSettings& advanced) {
    int64_t result = 0;
    auto take = [&result](const auto& value) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(value)>, std::string>) result = value;
    };
    WithMember<MainSettings>(row, [&](auto member) { take(main.*member); });
    WithMember<ParameterSettings>(row, [&](auto member) { take(parameters.*member); });
    WithMember<AdvancedSettings>(row, [&](auto member) { take(advanced.*member); });
    return result;
}

void SetValue(const SettingKey& row, int64_t number, const std::string& text, MainSettings& main,
              ParameterSettings& parameters, AdvancedSettings& advanced) {
    auto set = [&](auto& value) {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, std::string>)
            value = text;
        else
            value = static_cast<Value>(number);
    };
    WithMember<MainSettings>(row, [&](auto member) { set(main.*member); });
    WithMember<ParameterSettings>(row, [&](auto member) { set(parameters.*member); });
    WithMember<AdvancedSettings>(row, [&](auto member) { set(advanced.*member); });
}

std::string RangeMessage(int64_t lower, int64_t upper) {
    return res::FormatNumbered(res::IDS_PARSE_INT_RANGE, {std::to_string(lower), std::to_string(upper)});
}

ParseResult ParseUnsignedDecimal(const std::string& text, uint32_t& value) {
    size_t begin = 0, end = text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;
    if (begin == end) return ParseResult::NotANumber;
    uint64_t number = 0;
    bool tooLarge = false;
    for (size_t i = begin; i < end; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return ParseResult::NotANumber;
        number = number * 10 + uint64_t(c - '0');
        if (number > 0xFFFFFFFFull) {
            tooLarge = true;
            number = 0xFFFFFFFFull;
        }
    }
    value = uint32_t(number);
    return tooLarge ? ParseResult::TooLarge : ParseResult::Ok;
}

std::string StoredValueMessage(const SettingKey& row, int64_t value) {
    return res::LoadString(res::IDS_CLI_SETTINGS_FILE) + " " + row.key + "=" + std::to_string(value) + ": " +
           RangeMessage(row.lower, row.upper);
}

const SettingKey* AdvancedValueOutOfRange(const AdvancedSettings& advanced) {
    // A limit of 0 KB or below, or "abc" (read as 0), has no sound meaning; the limit is not in use unless on.
    const SettingKey& row = Key(kMaxKB);
    if (advanced.MaxKBAktiv != 0 && !row.InRange(IntValue(row, {}, {}, advanced))) return &row;
    return nullptr;
}

MainSettings ReadMainSettings(const ProfileStore& store, const std::string& defaultVerz) {
    return ReadSection(store, kAllg, MainSettings{.Verz = defaultVerz});
}

void WriteMainSettings(ProfileStore& store, const MainSettings& values) { WriteSection(store, kAllg, values); }

ParameterSettings ReadParameterSettings(const ProfileStore& store) {
    return ReadSection(store, kParameter, ParameterSettings{});
}

void WriteParameterSettings(ProfileStore& store, const ParameterSettings& values) {
    WriteSection(store, kParameter, values);
}

AdvancedSettings ReadAdvancedSettings(const ProfileStore& store) {
    return ReadSection(store, kErweitert, AdvancedSettings{});
}

void WriteAdvancedSettings(ProfileStore& store, const AdvancedSettings& values) {
    WriteSection(store, kErweitert, values);
}

int ReadEingabeTyp(const ProfileStore& store) {
    const SettingKey& row = Key(kEingabeTyp);
    return store.GetProfileIntA(row.section, row.key, ParameterSettings{}.EingabeTyp);
}

InputTypeFlags UnpackEingabeTyp(int value) {
    return InputTypeFlags::Only(static_cast<uint32_t>(value) & kEingabeTypBits);
}

int PackEingabeTyp(const InputTypeFlags& flags) { return static_cast<int>(flags.Bits() & kEingabeTypBits); }

InputTypeFlags UnpackInputTypes(int eingabeTyp, int weitereEingabeTypen) {
    const uint32_t further = static_cast<uint32_t>(weitereEingabeTypen) & kWeitereEingabeTypenBits;
    return InputTypeFlags::Only((static_cast<uint32_t>(eingabeTyp) & kEingabeTypBits) |
                                further << kWeitereEingabeTypenShift);
}

InputTypeFlags ReadInputTypes(const ProfileStore& store) {
    const SettingKey& row = Key(kWeitereEingabeTypen);
    return UnpackInputTypes(ReadEingabeTyp(store),
                            store.GetProfileIntA(row.section, row.key, AdvancedSettings{}.WeitereEingabeTypen));
}

int PackWeitereEingabeTypen(const InputTypeFlags& flags) {
    return static_cast<int>((flags.Bits() >> kWeitereEingabeTypenShift) & kWeitereEingabeTypenBits);
}

std::string DefaultVerz() {
    std::string root = Environment("U3_DEVICE_DOCUMENT_PATH");
    if (root.empty()) root = HomeFolder();
    if (root.size() > 1 && root.back() == '/') root.pop_back();
    return (root == "/" ? std::string() : root) + "/Quendrix";
}

std::string DeviceToken() { return "%U3_DEVICE_PATH%"; }

namespace {

// ASCII only: upper-casing bytes of a multibyte character would corrupt the path.
std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

DevicePath ReadDevicePath() {
    DevicePath device;
    device.exact = Environment("U3_DEVICE_PATH");
    if (device.exact.empty()) return device;
    device.upper = UpperCase(device.exact);
    device.lower = LowerCase(device.exact);
    return device;
}

std::string ApplyTokenOnRead(const std::string& verz, const DevicePath& device, PathStyle style) {
    if (device.exact.empty()) return verz;
    return ReplaceAll(verz, DeviceToken(), style == PathStyle::Windows ? device.upper : device.exact);
}

std::string ApplyTokenOnWrite(const std::string& verz, const DevicePath& device, PathStyle style) {
    if (device.exact.empty()) return verz;
    std::string stored = style == PathStyle::Windows ? verz : ReplaceAll(verz, device.exact, DeviceToken());
    stored = ReplaceAll(stored, device.upper, DeviceToken());
    return ReplaceAll(stored, device.lower, DeviceToken());
}

std::string ApplyTokenOnRead(const std::string& verz, const std::string& devicePathUpper) {
    if (devicePathUpper.empty()) return verz;
    return ReplaceAll(verz, DeviceToken(), devicePathUpper);
}

std::string ApplyTokenOnWrite(const std::string& verz, const std::string& devicePathUpper,
                              const std::string& devicePathLower) {
    if (devicePathUpper.empty()) return verz;
    std::string stored = ReplaceAll(verz, devicePathUpper, DeviceToken());
    return ReplaceAll(stored, devicePathLower, DeviceToken());
}

}  // namespace qx::settings
