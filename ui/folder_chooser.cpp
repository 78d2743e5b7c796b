#include "ui/folder_chooser.h"

#include <QFile>
#include <QFileDialog>

namespace qx {
namespace {

bool RealPicker(QWidget* owner, const QString& title, const QString& preselection, uint32_t flags, QString& chosen) {
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    if (!(flags & 0x40)) options |= QFileDialog::DontUseNativeDialog;  // the classic style
    const QString folder = QFileDialog::getExistingDirectory(owner, title, preselection, options);
    if (folder.isEmpty()) return false;
    chosen = folder;
    return true;
}

FolderPicker& Picker() {
    static FolderPicker picker;
    return picker;
}

}  // namespace

uint32_t PackShellVersion(uint32_t major, uint32_t minor) { return ((major & 0xFFFF) << 16) | (minor & 0xFFFF); }

uint32_t GetShellVersion(const std::string& libraryName) {
    (void)libraryName;
    return 0;
}

uint32_t BrowseFlags(uint32_t shellVersion, uint32_t extraFlags) {
    uint32_t flags = extraFlags;
    if (shellVersion >= 0x50000) flags |= kBifUseNewUi;
    return flags | kBifReturnOnlyFsDirs | kBifReturnFsAncestors;
}

std::string TrimForPreselection(const std::string& path) {
    std::string copy = path;
    if (copy.size() > 1 && copy.back() == '/') copy.pop_back();
    return copy;
}

void SetFolderPicker(FolderPicker picker) { Picker() = std::move(picker); }

bool BrowseForFolder(QWidget* owner, const std::string& title, std::string& path, uint32_t extraFlags) {
    const std::string preselection = TrimForPreselection(path);
    const uint32_t flags = BrowseFlags(GetShellVersion("Shell32.dll"), extraFlags);
    const QString qtitle = QString::fromUtf8(title);
    const QString qpreselection = QFile::decodeName(QByteArray::fromStdString(preselection));
    QString chosen;
    const bool picked = Picker() ? Picker()(owner, qtitle, qpreselection, flags, chosen)
                                 : RealPicker(owner, qtitle, qpreselection, flags, chosen);
    if (!picked || chosen.isEmpty()) return false;
    path = QFile::encodeName(chosen).toStdString();
    return true;
}

}  // namespace qx
