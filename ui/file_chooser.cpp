#include "ui/file_chooser.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <algorithm>
#include <span>

#include "engine/imaging/imaging.h"
#include "res/strings.h"

namespace qx {
namespace {

bool RealPicker(QWidget* owner, const QString& title, const QString& folder, const QStringList& nameFilters,
                QStringList& chosen) {
    // The toolkit's own chooser, like the folder chooser, so that both look alike and speak German.
    chosen = QFileDialog::getOpenFileNames(owner, title, folder, nameFilters.join(QStringLiteral(";;")), nullptr,
                                           QFileDialog::DontUseNativeDialog);
    return !chosen.isEmpty();
}

bool RealSavePicker(QWidget* owner, const QString& title, const QString& suggested, const QStringList& nameFilters,
                    QString& chosen) {
    chosen = QFileDialog::getSaveFileName(owner, title, suggested, nameFilters.join(QStringLiteral(";;")), nullptr,
                                          QFileDialog::DontUseNativeDialog);
    return !chosen.isEmpty();
}

SavePicker& SavePickerSlot() {
    static SavePicker picker;
    return picker;
}

FilesPicker& Picker() {
    static FilesPicker picker;
    return picker;
}

}  // namespace

QStringList ImageNameFilters(const InputTypeFlags& accepted) {
    const std::span<const imaging::Codec> codecs = imaging::Codecs();
    const bool none = std::none_of(codecs.begin(), codecs.end(),
                                   [&](const imaging::Codec& codec) { return accepted.Has(codec.inputTypeBit); });
    QStringList patterns;
    for (const imaging::Codec& codec : codecs) {
        if (codec.inputTypeBit < 0 || !(accepted.Has(codec.inputTypeBit) || none)) continue;
        patterns << QStringLiteral("*") + QString::fromLatin1(codec.extension);
        for (const char* more : codec.moreExtensions)
            if (more != nullptr) patterns << QStringLiteral("*") + QString::fromLatin1(more);
    }
    return {QStringLiteral("%1 (%2)").arg(QString::fromUtf8(res::LoadString(res::IDS_IMAGE_FILES)), patterns.join(' ')),
            QStringLiteral("%1 (*)").arg(QString::fromUtf8(res::LoadString(res::IDS_ALL_FILES)))};
}

void SetFilesPicker(FilesPicker picker) { Picker() = std::move(picker); }

std::vector<std::string> ChooseImageFiles(QWidget* owner, const std::string& title, std::string& folder,
                                          const InputTypeFlags& accepted) {
    const QString qtitle = QString::fromUtf8(title);
    const QString qfolder = QFile::decodeName(QByteArray::fromStdString(folder));
    const QStringList filters = ImageNameFilters(accepted);
    QStringList chosen;
    const bool picked = Picker() ? Picker()(owner, qtitle, qfolder, filters, chosen)
                                 : RealPicker(owner, qtitle, qfolder, filters, chosen);
    std::vector<std::string> paths;
    if (!picked) return paths;
    for (const QString& file : chosen) paths.push_back(QFile::encodeName(file).toStdString());
    if (!chosen.isEmpty()) folder = QFile::encodeName(QFileInfo(chosen.front()).absolutePath()).toStdString();
    return paths;
}

void SetSavePicker(SavePicker picker) { SavePickerSlot() = std::move(picker); }

std::string ChooseSaveFile(QWidget* owner, const std::string& title, const std::string& suggested,
                           const QStringList& nameFilters) {
    const QString qtitle = QString::fromUtf8(title);
    const QString qsuggested = QFile::decodeName(QByteArray::fromStdString(suggested));
    QString chosen;
    const bool picked = SavePickerSlot() ? SavePickerSlot()(owner, qtitle, qsuggested, nameFilters, chosen)
                                         : RealSavePicker(owner, qtitle, qsuggested, nameFilters, chosen);
    if (!picked || chosen.isEmpty()) return {};
    return QFile::encodeName(chosen).toStdString();
}

}  // namespace qx
