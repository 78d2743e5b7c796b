// The file chooser of "Dateien hinzufügen...": several image files of the accepted types at once.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "intake/intake.h"

class QWidget;

namespace qx {

// The chooser's name filters: the image files of the accepted input types (all of them when none is
// accepted, since the intake then takes nothing anyway), then every file.
QStringList ImageNameFilters(const InputTypeFlags& accepted);

// Shows a chooser; true and `chosen` set when the user chose files. Tests replace it.
using FilesPicker = std::function<bool(QWidget* owner, const QString& title, const QString& folder,
                                       const QStringList& nameFilters, QStringList& chosen)>;
void SetFilesPicker(FilesPicker picker);  // an empty picker restores the real one

// Lets the user choose image files, starting in `folder`; their paths as bytes, none when cancelled.
// `folder` becomes the folder of the chosen files.
std::vector<std::string> ChooseImageFiles(QWidget* owner, const std::string& title, std::string& folder,
                                          const InputTypeFlags& accepted);

// Shows a chooser for a file to save; true and `chosen` set when the user chose one. Tests replace it.
using SavePicker = std::function<bool(QWidget* owner, const QString& title, const QString& suggested,
                                      const QStringList& nameFilters, QString& chosen)>;
void SetSavePicker(SavePicker picker);  // an empty picker restores the real one

// Lets the user choose where to save, starting at `suggested`; the path as bytes, empty when cancelled.
std::string ChooseSaveFile(QWidget* owner, const std::string& title, const std::string& suggested,
                           const QStringList& nameFilters);

}  // namespace qx
