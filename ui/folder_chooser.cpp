#include "ui/folder_chooser.h"

#include <QFile>
#include <QFileDialog>

namespace qx {
namespace {

bool RealPicker(QWidget* owner, const QString& title, const QString& preselection, QString& chosen) {
    // Qt's own chooser, the same on every desktop.
    const QString folder = QFileDialog::getExistingDirectory(
        owner, title, preselection, QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (folder.isEmpty()) return false;
    chosen = folder;
    return true;
}

FolderPicker& Picker() {
    static FolderPicker picker;
    return picker;
}

}  // namespace

std::string TrimForPreselection(const std::string& path) {
    std::string copy = path;
    if (copy.size() > 1 && copy.back() == '/') copy.pop_back();
    return copy;
}

void SetFolderPicker(FolderPicker picker) { Picker() = std::move(picker); }

bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path) {
    const std::string preselection = TrimForPreselection(path);
    const QString qtitle = QString::fromUtf8(title);
    const QString qpreselection = QFile::decodeName(QByteArray::fromStdString(preselection));
    QString chosen;
    const bool picked =
        Picker() ? Picker()(owner, qtitle, qpreselection, chosen) : RealPicker(owner, qtitle, qpreselection, chosen);
    if (!picked || chosen.isEmpty()) return false;
    path = QFile::encodeName(chosen).toStdString();
    return true;
}

}  // namespace qx
