#include "app/settings.h"

#include "app/settings_location.h"

#include <cstdlib>

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

}  // namespace

MainSettings ReadMainSettings(const ProfileStore& store, const std::string& defaultVerz) {
    const MainSettings& d = kMainDefaults;
    MainSettings s;
    s.Rate = static_cast<uint32_t>(store.GetProfileIntA(kAllg, kRate, static_cast<int>(d.Rate)));
    s.Verz = store.GetProfileStringA(kAllg, kVerz, defaultVerz);
    s.Bildsize = store.GetProfileIntA(kAllg, kBildsize, d.Bildsize);
    s.Prozent = static_cast<uint32_t>(store.GetProfileIntA(kAllg, kProzent, static_cast<int>(d.Prozent)));
    s.Breite = static_cast<uint32_t>(store.GetProfileIntA(kAllg, kBreite, static_cast<int>(d.Breite)));
    s.Hoehe = static_cast<uint32_t>(store.GetProfileIntA(kAllg, kHoehe, static_cast<int>(d.Hoehe)));
    s.ZielPath = store.GetProfileIntA(kAllg, kZielPath, d.ZielPath);
    s.NichtVergroessern = store.GetProfileIntA(kAllg, kNichtVergroessern, d.NichtVergroessern);
    return s;
}

void WriteMainSettings(ProfileStore& store, const MainSettings& v) {
    store.WriteProfileInt(kAllg, kRate, static_cast<int>(v.Rate));
    store.WriteProfileStringA(kAllg, kVerz, v.Verz);
    store.WriteProfileInt(kAllg, kBildsize, v.Bildsize);
    store.WriteProfileInt(kAllg, kProzent, static_cast<int>(v.Prozent));
    store.WriteProfileInt(kAllg, kBreite, static_cast<int>(v.Breite));
    store.WriteProfileInt(kAllg, kHoehe, static_cast<int>(v.Hoehe));
    store.WriteProfileInt(kAllg, kZielPath, v.ZielPath);
    store.WriteProfileInt(kAllg, kNichtVergroessern, v.NichtVergroessern);
}

ParameterSettings ReadParameterSettings(const ProfileStore& store) {
    const ParameterSettings& d = kParameterDefaults;
    ParameterSettings s;
    s.AusgabeDateiTyp = store.GetProfileIntA(kParameter, kAusgabeDateiTyp, d.AusgabeDateiTyp);
    s.Prefix = store.GetProfileStringA(kParameter, kPrefix, d.Prefix);
    s.LfdNr = store.GetProfileIntA(kParameter, kLfdNr, d.LfdNr);
    s.Stellen = store.GetProfileIntA(kParameter, kStellen, d.Stellen);
    s.EingabeTyp = store.GetProfileIntA(kParameter, kEingabeTyp, d.EingabeTyp);
    s.AusgabeTyp = store.GetProfileIntA(kParameter, kAusgabeTyp, d.AusgabeTyp);
    s.ThreadAnzahl = store.GetProfileIntA(kParameter, kThreadAnzahl, d.ThreadAnzahl);
    return s;
}

ParameterSettings ReadBatchParameterSettings(const ProfileStore& store) {
    ParameterSettings s = ReadParameterSettings(store);  // reading has no side effects
    s.EingabeTyp = kParameterDefaults.EingabeTyp;
    return s;
}

void WriteParameterSettings(ProfileStore& store, const ParameterSettings& v) {
    store.WriteProfileInt(kParameter, kAusgabeDateiTyp, v.AusgabeDateiTyp);
    store.WriteProfileStringA(kParameter, kPrefix, v.Prefix);
    store.WriteProfileInt(kParameter, kLfdNr, v.LfdNr);
    store.WriteProfileInt(kParameter, kStellen, v.Stellen);
    store.WriteProfileInt(kParameter, kEingabeTyp, v.EingabeTyp);
    store.WriteProfileInt(kParameter, kAusgabeTyp, v.AusgabeTyp);
    store.WriteProfileInt(kParameter, kThreadAnzahl, v.ThreadAnzahl);
}

int ReadEingabeTyp(const ProfileStore& store) {
    return store.GetProfileIntA(kParameter, kEingabeTyp, kParameterDefaults.EingabeTyp);
}

InputTypeFlags UnpackEingabeTyp(int value) {
    return InputTypeFlags{(value & 1) != 0, (value & 2) != 0, (value & 4) != 0};
}

int PackEingabeTyp(const InputTypeFlags& flags) {
    return (flags.Bmp ? 1 : 0) + (flags.Jpg ? 2 : 0) + (flags.Png ? 4 : 0);
}

std::string DefaultVerz() {
    std::string root = Environment("U3_DEVICE_DOCUMENT_PATH");
    if (root.empty()) root = HomeFolder();
    if (root.size() > 1 && root.back() == '/') root.pop_back();
    return (root == "/" ? std::string() : root) + "/Quendrix";
}

std::string DeviceToken() { return "%U3_DEVICE_PATH%"; }

// ASCII only: upper-casing bytes of a multibyte character would corrupt the path.
std::string UpperCase(std::string text) {
    for (char& c : text) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void DevicePaths(std::string& upper, std::string& lower) {
    upper = UpperCase(Environment("U3_DEVICE_PATH"));
    lower = upper.empty() ? std::string() : LowerCase(upper);
}

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
