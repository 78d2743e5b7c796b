#include "settings/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace qx {
namespace {

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

// The program's name without its extension. Programs here have none: a dot in the name ("quendrix-1.2")
// is part of it, so the native title is the whole file name.
std::string FileTitle(const std::string& programPath, PathStyle style) {
    PathParts parts;
    SplitPath(parts, programPath, style);
    return style == PathStyle::Native ? parts.title + parts.extension : parts.title;
}

}  // namespace

std::optional<SettingsLocation> ChooseSettingsLocation(const std::string& programPath,
                                                       const std::optional<std::string>& u3AppDataPath,
                                                       const std::optional<std::string>& appData, PathStyle style) {
    const std::string title = FileTitle(programPath, style);
    const std::string sep(1, PathSeparator(style));
    std::string folder;
    if (u3AppDataPath && !u3AppDataPath->empty()) {
        folder = *u3AppDataPath;
    } else if (appData && !appData->empty()) {
        folder = *appData + sep + title;
    }
    if (folder.empty()) return std::nullopt;
    return SettingsLocation{folder, folder + sep + title + ".ini"};
}

SettingsLocation DefaultSettingsLocation(const std::string& programPath) {
    const std::string title = FileTitle(programPath, PathStyle::Native);
    std::string base;
    if (auto xdg = Environment("XDG_CONFIG_HOME"); xdg && !xdg->empty() && (*xdg)[0] == '/') {
        base = *xdg;
    } else {
        base = HomeFolder();
        if (base.back() != '/') base += '/';
        base += ".config";
    }
    const std::string folder = base + "/" + title;
    return SettingsLocation{folder, folder + "/" + title + ".ini"};
}

SettingsLocation SettingsLocationFromEnvironment(const std::string& programPath) {
    if (auto chosen = ChooseSettingsLocation(programPath, Environment("U3_APP_DATA_PATH"), Environment("APPDATA"))) {
        return *chosen;
    }
    return DefaultSettingsLocation(programPath);
}

std::string ResolveSettingsPath(const std::string& programPath) {
    if (auto chosen = ChooseSettingsLocation(programPath, Environment("U3_APP_DATA_PATH"), Environment("APPDATA"))) {
        mkdir(chosen->folder.c_str(), 0777);
        return chosen->path;
    }
    const SettingsLocation fallback = DefaultSettingsLocation(programPath);
    CreateDirectoryTree(fallback.folder);
    return fallback.path;
}

std::string ProgramPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return "quendrix";
        if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::string GuiSettingsPath() {
    return SettingsLocationFromEnvironment(ParentDirectory(ProgramPath()) + kGuiProgramTitle).path;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return "/";
}

}  // namespace qx
