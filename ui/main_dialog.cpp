#include "ui/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QToolTip>
#include <QUrl>

#include "app/settings.h"
#include "res/icon.h"
#include "res/strings.h"
#include "ui/file_list_ctrl.h"
#include "ui/folder_chooser.h"
#include "ui/info_dialog.h"
#include "ui/parameter_dialog.h"
#include "ui/tooltips.h"

namespace qx {
namespace {

// Rows shown between two repaints while a dropped folder is walked.
constexpr int kRowsPerRepaint = 8;

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

}  // namespace

std::vector<std::string> DroppedPaths(const QMimeData& data) {
    std::vector<std::string> paths;
    const QString uriList = QStringLiteral("text/uri-list");
    if (data.hasFormat(uriList)) {
        // The raw list keeps the percent-encoded bytes of names that are not valid UTF-8.
        for (QByteArray line : data.data(uriList).split('\n')) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            const QUrl url = QUrl::fromEncoded(line);
            if (!url.isLocalFile()) continue;
            QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
            paths.push_back(QByteArray::fromPercentEncoding(path).toStdString());
        }
        return paths;
    }
    for (const QUrl& url : data.urls())
        if (url.isLocalFile()) paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    return paths;
}

CMainDialog::CMainDialog(ProfileStore& store, QWidget* parent)
    : CTemplateDialog(res::IDD_MAIN, parent), store_(store), mainIcon_(QPixmap(res::MainIconXpm())) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    compressButton_ = ControlAs<QPushButton>(1);
    progressBar_ = ControlAs<QProgressBar>(1006);
    fileList_ = ControlAs<CFileListCtrl>(1001);
    OnInitDialog();
}

CMainDialog::~CMainDialog() {
    if (!destroyed_) OnDestroy();
}

void CMainDialog::DoDataExchange(DataExchange& dx) {
    using settings::Key;
    dx.Number(1003, values_.Rate, Key(settings::kRate).lower, Key(settings::kRate).upper);
    dx.Text(1000, values_.Verz);
    dx.Radio(1007, values_.Bildsize);
    dx.Number(1011, values_.Breite, Key(settings::kBreite).lower, Key(settings::kBreite).upper);
    dx.Number(1012, values_.Hoehe, Key(settings::kHoehe).lower, Key(settings::kHoehe).upper);
    dx.Number(1010, values_.Prozent, Key(settings::kProzent).lower, Key(settings::kProzent).upper);
    dx.Radio(1029, values_.ZielPath);
    dx.Check(1032, values_.NichtVergroessern);
}

void CMainDialog::OnInitDialog() {
    UpdateData(false);
    Client()->installEventFilter(this);  // tooltips, also for disabled controls
    AddSystemMenuEntries();
    setWindowIcon(mainIcon_);
    setAcceptDrops(true);
    fileList_->SetReportStyle();
    fileList_->SetColumns({QString::fromUtf8(res::LoadString(res::IDS_COL_FILENAME)),
                           QString::fromUtf8(res::LoadString(res::IDS_COL_IMAGE_SIZE)),
                           QString::fromUtf8(res::LoadString(res::IDS_COL_FILE_SIZE))});
    if (auto* label = ControlAs<QLabel>(1033)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, ColorFromColorref(kMainLabelColor));
        label->setPalette(palette);
    }
    ConnectControls();

    values_ = settings::ReadMainSettings(store_, settings::DefaultVerz());
    devicePath_ = settings::ReadDevicePath();
    values_.Verz = settings::ApplyTokenOnRead(values_.Verz, devicePath_);
    UpdateData(false);
    UpdateSizeControls();
    UpdateTargetControls();
}

void CMainDialog::AddSystemMenuEntries() {
    // No system menu can be extended here: its entries live in the window's one menu.
    systemMenu_ = AddMenu(QString::fromUtf8(res::MainMenuTitle()));
    systemMenu_->setSeparatorsCollapsible(false);
    systemMenu_->addSeparator();
    QAction* parameter = systemMenu_->addAction(QString::fromUtf8(res::LoadString(res::IDS_PARAMETER_MENU)));
    parameter->setData(kIdmParameter);
    connect(parameter, &QAction::triggered, this, [this] { OnSysCommand(kIdmParameter); });
    const std::string& about = res::LoadString(res::IDS_ABOUTBOX);
    if (!about.empty()) {
        systemMenu_->addSeparator();
        QAction* info = systemMenu_->addAction(QString::fromUtf8(about));
        info->setData(kIdmAboutBox);
        connect(info, &QAction::triggered, this, [this] { OnSysCommand(kIdmAboutBox); });
    }
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { OnSysCommand(kIdmAboutBox); });
}

void CMainDialog::ConnectControls() {
    auto clicked = [this](int id, void (CMainDialog::*handler)()) {
        if (auto* button = ControlAs<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    clicked(1004, &CMainDialog::OnBrowse);
    clicked(1005, &CMainDialog::ClearList);
    clicked(1007, &CMainDialog::UpdateSizeControls);
    clicked(1031, &CMainDialog::UpdateTargetControls);
    clicked(1009, &CMainDialog::UpdateSizeControls);
    clicked(1008, &CMainDialog::UpdateSizeControls);
    clicked(1029, &CMainDialog::UpdateTargetControls);
    clicked(1, &CMainDialog::OnOK);
    clicked(2, &CMainDialog::reject);
}

void CMainDialog::OnSysCommand(unsigned command) {
    switch (command & ~0xFu) {
        case kIdmAboutBox: {
            CInfoDialog info;
            info.exec();
            break;
        }
        case kIdmParameter: {
            CParameterDialog parameter(store_);
            parameter.exec();
            break;
        }
        default: break;
    }
}

void CMainDialog::OnBrowse() {
    if (!UpdateData(true)) return;
    const std::string& title = res::LoadString(res::IDS_BROWSE_TITLE);
    std::string path = values_.Verz;
    BrowseForFolder(this, title, path, 0);
    if (path != values_.Verz) {
        values_.Verz = path;
        UpdateData(false);
    }
}

void CMainDialog::UpdateSizeControls() {
    if (!UpdateData(true)) return;
    bool percent = true, box = true;
    switch (values_.Bildsize) {
        case 0: box = false; break;
        case 1: percent = false; break;
        case 2: percent = box = false; break;
        default: break;  // no size rule chosen: everything stays editable
    }
    Control(1011)->setEnabled(box);
    Control(1012)->setEnabled(box);
    Control(1010)->setEnabled(percent);
}

void CMainDialog::UpdateTargetControls() {
    if (!UpdateData(true)) return;
    const bool ownFolder = values_.ZielPath != 0;
    Control(1000)->setEnabled(ownFolder);
    Control(1004)->setEnabled(ownFolder);
}

void CMainDialog::ClearList() { fileList_->ClearList(); }

void CMainDialog::OnOK() {
    if (batchRunning_) return;
    batchRunning_ = true;
    const BatchResult result = RunBatch(*this, *this);
    skippedCount_ = result.SkippedCount;
    batchRunning_ = false;
}

void CMainDialog::OnDestroy() {
    destroyed_ = true;
    if (!UpdateData(true)) return;  // an invalid value: this run's changes are not stored
    MainSettings stored = values_;
    stored.Verz = settings::ApplyTokenOnWrite(values_.Verz, devicePath_);
    settings::WriteMainSettings(store_, stored);
}

void CMainDialog::done(int result) {
    if (!destroyed_) OnDestroy();
    CTemplateDialog::done(result);
}

void CMainDialog::closeEvent(QCloseEvent* event) {
    if (batchRunning_) {
        event->ignore();
        return;
    }
    CTemplateDialog::closeEvent(event);
}

// --- Drops ---------------------------------------------------------------------------------------------

void CMainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!batchRunning_ && HasLocalFiles(event->mimeData())) event->acceptProposedAction();
}

void CMainDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (!batchRunning_ && HasLocalFiles(event->mimeData())) event->acceptProposedAction();
}

void CMainDialog::dropEvent(QDropEvent* event) {
    if (batchRunning_ || !HasLocalFiles(event->mimeData())) return;
    const std::vector<std::string> paths = DroppedPaths(*event->mimeData());
    event->acceptProposedAction();
    OnDropFiles(paths);
}

void CMainDialog::OnDropFiles(const std::vector<std::string>& paths) {
    inputTypeFlags_ = settings::UnpackEingabeTyp(settings::ReadEingabeTyp(store_));
    int added = 0;
    qx::OnDropFiles(paths, inputTypeFlags_, [this, &added](const FileRow& row) {
        fileList_->AppendFileRow(row);
        if (++added % kRowsPerRepaint == 0) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
}

// --- Tooltips ------------------------------------------------------------------------------------------

QString CMainDialog::ToolTipAt(const QPoint& clientPos) const {
    for (const Created& control : Controls()) {
        if (control.row->id == res::kNoId || !control.widget->isVisible()) continue;
        if (!control.widget->geometry().contains(clientPos)) continue;
        const std::string tip = ToolTipText(control.row->id);
        return tip.empty() ? QString() : WrapToolTip(tip, QFontMetrics(QToolTip::font()));
    }
    return {};
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Client() && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = ToolTipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, Client());
        return true;
    }
    return CTemplateDialog::eventFilter(watched, event);
}

// --- Batch host ----------------------------------------------------------------------------------------

bool CMainDialog::ExchangeAndValidate() { return UpdateData(true); }

ParameterSettings CMainDialog::ReadParameterSettings() { return settings::ReadParameterSettings(store_); }

void CMainDialog::SetProgressRange(int lower, int upper) { progressBar_->setRange(lower, upper); }

void CMainDialog::SetProgressPos(int position) {
    progressBar_->setValue(position);
    KeepAlive();
}

void CMainDialog::EnableCompressButton(bool enable) { compressButton_->setEnabled(enable); }

void CMainDialog::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void CMainDialog::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

void CMainDialog::KeepAlive() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void CMainDialog::ShowMessage(const std::string& text) { MessageBoxes().ShowMessage(text); }

int CMainDialog::RowCount() const { return fileList_->rowCount(); }

std::string CMainDialog::RowPath(int i) const { return fileList_->RowPath(i); }

}  // namespace qx
