// The folder chooser: a directory picker with a title and a pre-selected path.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QWidget;

namespace qx {

inline constexpr uint32_t kBifReturnOnlyFsDirs = 0x1;
inline constexpr uint32_t kBifReturnFsAncestors = 0x8;
inline constexpr uint32_t kBifUseNewUi = 0x50;  // new dialog style with an edit box

// A library version as (major << 16) | minor, each part cut to 16 bits.
uint32_t PackShellVersion(uint32_t major, uint32_t minor);
// The version of the shell library of that name; 0 when there is none (always so here: no shell library
// provides the picker on this platform).
uint32_t GetShellVersion(const std::string& libraryName);
// The picker's flags: the extra flags, the new style from shell version 5.0 on, only file-system folders.
uint32_t BrowseFlags(uint32_t shellVersion, uint32_t extraFlags);
// The pre-selection: the path without one trailing "/" (the root "/" stays as it is).
std::string TrimForPreselection(const std::string& path);

// Shows a picker; true and `chosen` set when the user chose a folder. Tests replace it.
using FolderPicker = std::function<bool(QWidget* owner, const QString& title, const QString& preselection,
                                        uint32_t flags, QString& chosen)>;
void SetFolderPicker(FolderPicker picker);  // an empty picker restores the real one

// Lets the user pick a folder; `path` changes only when a folder was chosen. True when one was chosen (it may
// be the pre-selected one).
bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path, uint32_t extraFlags);

}  // namespace qx
