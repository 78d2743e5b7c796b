// Where the settings file lives: the U3 host's folder, the application-data folder, or the default.
#pragma once

#include <optional>
#include <string>

#include "engine/paths.h"

namespace qx {

struct SettingsLocation {
    std::string folder;  // to be created (its last level)
    std::string path;    // the settings file
};

// The choice from the program's path and the two variables (absent or empty counts as unset), nothing
// when neither yields a folder. The values are used as they are: a value ending in a separator gets a
// second one.
std::optional<SettingsLocation> ChooseSettingsLocation(const std::string& programPath,
                                                       const std::optional<std::string>& u3AppDataPath,
                                                       const std::optional<std::string>& appData,
                                                       PathStyle style = PathStyle::Native);

// The default when neither variable yields a folder: $XDG_CONFIG_HOME/<title>/<title>.ini, ~/.config when
// XDG_CONFIG_HOME is unset or not absolute (relative values are to be ignored by the XDG rules).
SettingsLocation DefaultSettingsLocation(const std::string& programPath);

// The location for the program at `programPath` from the current environment: the chosen one, else the
// default. Creates nothing.
SettingsLocation SettingsLocationFromEnvironment(const std::string& programPath);

// The settings path of the program at `programPath` from the environment, with its folder created: only
// the last level for a folder named by a variable, every missing level for the default (a fresh account
// may have no ~/.config yet). A folder that cannot be created is ignored: settings then do not persist.
std::string ResolveSettingsPath(const std::string& programPath);

// The running executable's path.
std::string ProgramPath();

// The file title of the GUI program, which names its settings file.
inline constexpr const char* kGuiProgramTitle = "quendrix";

// The settings path of the GUI program "quendrix" beside the running executable, whatever this one is
// called. Creates nothing: a program that only reads the settings has no folder to make.
std::string GuiSettingsPath();

// $HOME, else the account's home folder from the user database, else "/".
std::string HomeFolder();

}  // namespace qx
