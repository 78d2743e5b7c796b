#include "app/main_app.h"

#include <QApplication>

#include "app/command_line.h"
#include "res/strings.h"
#include "settings/profile_store.h"
#include "settings/settings_location.h"
#include "ui/main_dialog.h"
#include "ui/message_boxes.h"

namespace qx {

void WarnWhenSettingsFileIsRefused(const std::string& path) {
    if (CheckProfileFile(path) == ProfileFileState::TooLarge)
        MessageBoxes().ShowMessage(res::FormatString(res::IDS_SETTINGS_TOO_LARGE, path));
}

CMainApp::CMainApp(int& argc, char** argv) : argc_(argc), argv_(argv) {}
CMainApp::~CMainApp() = default;

void CMainApp::RelocateProfile() { settingsPath_ = ResolveSettingsPath(ProgramPath()); }

void CMainApp::InitInstance() {
    QApplication application(argc_, argv_);
    InstallQtGermanTexts();
    RelocateProfile();
    WarnWhenSettingsFileIsRefused(settingsPath_);
    ProfileStore store(settingsPath_);
    CMainDialog dialog(store);
    // QApplication has taken its own options (-platform, -style ...) out of argv: the rest are paths.
    dialog.AddPathsWhenShown(CommandLinePaths(argc_, argv_, CurrentFolder()));
    dialog.exec();
}

}  // namespace qx
