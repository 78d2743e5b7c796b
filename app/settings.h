// Sections, keys and defaults of the settings file, and the rules that every reader and writer shares.
#pragma once

#include <string>

#include "app/profile_store.h"
#include "engine/types.h"
#include "intake/intake.h"

namespace qx::settings {

inline constexpr const char* kAllg = "Allg";
inline constexpr const char* kParameter = "Parameter";

// Section "Allg", with `defaultVerz` for the target folder (see DefaultVerz); no token rule applied here.
MainSettings ReadMainSettings(const ProfileStore& store, const std::string& defaultVerz);
void WriteMainSettings(ProfileStore& store, const MainSettings& values);

ParameterSettings ReadParameterSettings(const ProfileStore& store);
void WriteParameterSettings(ProfileStore& store, const ParameterSettings& values);

// Only the key EingabeTyp, as a drop reads it.
int ReadEingabeTyp(const ProfileStore& store);
InputTypeFlags UnpackEingabeTyp(int value);
int PackEingabeTyp(const InputTypeFlags& flags);

// $U3_DEVICE_DOCUMENT_PATH (or the home folder) + "/Quendrix".
std::string DefaultVerz();

}  // namespace qx::settings
