// The main window: target and size choices, the file list, the batch run, drops, and the entries that open
// the Parameter dialog and the info box.
#pragma once

#include <QIcon>
#include <cstdint>
#include <string>

#include "engine/batch.h"
#include "engine/types.h"
#include "intake/intake.h"
#include "settings/profile_store.h"
#include "settings/settings.h"
#include "ui/template_dialog.h"

class QElapsedTimer;
class QPushButton;
class QProgressBar;
class QMenu;
class QMimeData;

namespace qx {

class CFileListCtrl;

// The local paths of a drop, as exact bytes.
std::vector<std::string> DroppedPaths(const QMimeData& data);

inline constexpr unsigned kIdmParameter = 0x0020;
inline constexpr unsigned kIdmAboutBox = 0x0010;
inline constexpr unsigned kIdmAddFiles = 0x0030;
inline constexpr unsigned kIdmAddFolder = 0x0040;
inline constexpr unsigned kIdmReport = 0x0050;
inline constexpr unsigned kIdmAdvanced = 0x0060;
inline constexpr uint32_t kMainLabelColor = 0x00FA0000;  // blue 250

// Escape, the close box or Alt+F4 while a batch runs make a wish to stop; the batch asks about it at its next
// look, once at a time, and "Ja" stops it from starting further files.
class StopQuestion {
public:
    void Reset() { wished_ = requested_ = false; }
    void Wish() { wished_ = true; }
    bool Due() const { return wished_ && !asking_ && !requested_; }
    void BeginAsking() { asking_ = true; }
    void Answer(bool stop) {
        requested_ = stop;
        wished_ = asking_ = false;
    }
    bool Requested() const { return requested_; }

private:
    bool wished_ = false;
    bool asking_ = false;
    bool requested_ = false;
};

class CMainDialog : public CTemplateDialog, public BatchHost {
    Q_OBJECT
public:
    explicit CMainDialog(ProfileStore& store, QWidget* parent = nullptr);
    ~CMainDialog() override;

    // The values of section "Allg" as the window holds them.
    const MainSettings& Values() const { return values_; }
    const std::string& DevicePathUpper() const { return devicePath_.upper; }
    const std::string& DevicePathLower() const { return devicePath_.lower; }
    CFileListCtrl* FileList() const { return fileList_; }
    QPushButton* CompressButton() const { return compressButton_; }
    QProgressBar* ProgressBar() const { return progressBar_; }
    QMenu* SystemMenu() const { return systemMenu_; }
    const QIcon& MainIcon() const { return mainIcon_; }
    int32_t SkippedCount() const { return skippedCount_; }
    // The report of the last batch that started; nullptr before the first.
    const BatchReport* LastReport() const { return hasReport_ ? &lastReport_ : nullptr; }
    // "Bericht der letzten Komprimierung...": the report window, modal.
    void OnShowReport();

    void OnSysCommand(unsigned command);
    void OnBrowse();
    void UpdateSizeControls();
    void UpdateTargetControls();
    void ClearList();
    void OnOK();  // the batch run
    // The dropped paths, as exact bytes, into the list.
    void OnDropFiles(const std::vector<std::string>& paths);
    // Paths named one by one (the command line, "Dateien hinzufügen..."): taken like a drop, but each named file
    // by its content, and the files not taken are named in one message with their reasons.
    void OnNamedFiles(const std::vector<std::string>& paths);
    // Paths the program was opened with: taken as named files as soon as the window is up.
    void AddPathsWhenShown(std::vector<std::string> paths);
    // "Dateien hinzufügen..." and "Ordner hinzufügen...": chosen files or a folder, taken like a drop.
    void OnAddFiles();
    void OnAddFolder();
    // The tip of the control under `clientPos` (client coordinates), as shown; empty for none.
    QString ToolTipAt(const QPoint& clientPos) const;

    // BatchHost
    bool ExchangeAndValidate() override;
    const MainSettings& GetMainSettings() const override { return values_; }
    ParameterSettings ReadParameterSettings() override;
    AdvancedSettings ReadAdvancedSettings() override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPos(int position) override;
    void EnableCompressButton(bool enable) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void KeepAlive() override;
    bool StopRequested() override;
    void ShowMessage(const std::string& text) override;
    // A file's failure: a box that can silence the rest of the batch's failures, which then go only into the
    // report.
    void ShowFailure(const std::string& text, const std::string& reason) override;

public slots:
    void done(int result) override;

protected:
    void DoDataExchange(DataExchange& dx) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnInitDialog();
    void OnDestroy();
    void AddSystemMenuEntries();
    void ConnectControls();
    // "Komprimierung abbrechen?" with "Ja" and "Nein".
    void AskToStopBatch();
    void RestoreFocusAfterBatch(QWidget* focusBefore);
    // The note beside the quality names the stored output type's family: JPG, or JPG, WebP and AVIF.
    void UpdateQualityNote();
    // The sink of a drop or of named files: appends the row and repaints now and then.
    RowSink ListAppender(int& added, QElapsedTimer& sinceRepaint);

    ProfileStore& store_;
    settings::DevicePath devicePath_;
    int32_t skippedCount_ = 0;
    InputTypeFlags inputTypeFlags_;
    QPushButton* compressButton_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    CFileListCtrl* fileList_ = nullptr;
    MainSettings values_{0, {}, 0, 0, 0, 0, 0, 0};
    QIcon mainIcon_;
    QMenu* systemMenu_ = nullptr;
    bool destroyed_ = false;
    bool batchRunning_ = false;
    StopQuestion stop_;
    std::string addFolder_;       // where the two choosers of the menu start: the folder last added from
    bool quietFailures_ = false;  // the user asked for no further failure boxes in this batch
    BatchReport lastReport_;
    bool hasReport_ = false;
};

}  // namespace qx
