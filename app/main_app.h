// The application object: settings location, main window.
#pragma once

#include <string>

namespace qx {

// Tells the user, in a message box, when the settings file at `path` is too large to be one: the window
// then starts with the defaults and never overwrites that file.
void WarnWhenSettingsFileIsRefused(const std::string& path);

class CMainApp {
public:
    CMainApp(int& argc, char** argv);
    ~CMainApp();
    // Chooses the settings path, runs the main window modally until it is closed. The Help command (F1) names
    // no help file here: the main window answers it with the info box.
    void InitInstance();
    const std::string& SettingsPath() const { return settingsPath_; }

private:
    void RelocateProfile();
    int& argc_;
    char** argv_;
    std::string settingsPath_;
};

}  // namespace qx
