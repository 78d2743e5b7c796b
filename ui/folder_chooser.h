// The folder chooser: a directory picker with a title and a pre-selected path.
#pragma once

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace qx {

// The pre-selection: the path without one trailing "/" (the root "/" stays as it is).
std::string TrimForPreselection(const std::string& path);

// Shows a picker; true and `chosen` set when the user chose a folder. Tests replace it.
using FolderPicker =
    std::function<bool(QWidget* owner, const QString& title, const QString& preselection, QString& chosen)>;
void SetFolderPicker(FolderPicker picker);  // an empty picker restores the real one

// Lets the user pick a folder; `path` changes only when a folder was chosen. True when one was chosen (it may
// be the pre-selected one).
bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path);

}  // namespace qx
