#include "ui/main_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <functional>

#include "engine/compress.h"
#include "engine/imaging/imaging.h"
#include "res/icon.h"
#include "res/strings.h"
#include "settings/settings.h"
#include "ui/advanced_dialog.h"
#include "ui/file_chooser.h"
#include "ui/file_list_ctrl.h"
#include "ui/folder_chooser.h"
#include "ui/info_dialog.h"
#include "ui/message_boxes.h"
#include "ui/parameter_dialog.h"
#include "ui/report_dialog.h"
#include "ui/tooltips.h"

namespace qx {
namespace {

// While a dropped folder is walked the window repaints every few rows, but not more often than every few
// milliseconds: painting the list costs far more than adding a row, and a repaint per handful of rows made a
// large folder take many times longer to list.
constexpr int kRowsPerRepaint = 8;
constexpr qint64 kMinRepaintIntervalMs = 50;

bool HasLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

// Files are only ever read where they lie: a proposal to move them (Shift in a file manager) is answered
// with a copy, so that the source never deletes the originals. False when the source offers neither.
bool AnswerAsCopy(QDropEvent* event) {
    if (event->possibleActions() & Qt::CopyAction)
        event->setDropAction(Qt::CopyAction);
    else if (event->possibleActions() & Qt::LinkAction)
        event->setDropAction(Qt::LinkAction);
    else
        return false;
    event->accept();
    return true;
}

bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: return true;
        default: return false;
    }
}

// While a batch runs, the user's input to the main window is taken from the queue and dropped, so that
// nothing clicked or typed meanwhile acts once the batch is over. Other windows (message boxes, the stop
// question) take their input as usual. Escape and Alt+F4 are noted as a wish to stop.
class BatchInputGuard : public QObject {
public:
    BatchInputGuard(QWidget* window, std::function<void()> onStopWish)
        : window_(window), onStopWish_(std::move(onStopWish)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~BatchInputGuard() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsUserInput(event->type()) || !Belongs(watched)) return false;
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape || (key->key() == Qt::Key_F4 && (key->modifiers() & Qt::AltModifier)))
                onStopWish_();
        }
        if (auto* drop = dynamic_cast<QDropEvent*>(event)) drop->setDropAction(Qt::IgnoreAction);
        // An accepted override keeps a key from firing a shortcut; every other event is simply used up.
        event->setAccepted(event->type() == QEvent::ShortcutOverride);
        return true;
    }

private:
    bool Belongs(QObject* receiver) const {
        if (receiver->isWindowType()) return receiver == window_->windowHandle();
        QObject* object = receiver;
        while (object && !object->isWidgetType()) object = object->parent();  // shortcuts and actions
        if (!object) return false;
        QWidget* window = static_cast<QWidget*>(object)->window();
        // A menu of the window's menu bar is a window of its own.
        while (window->windowType() == Qt::Popup && window->parentWidget()) window = window->parentWidget()->window();
        return window == window_;
    }
    QWidget* window_;
    std::function<void()> onStopWish_;
};

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
    : CTemplateDialog(res::IDD_MAIN, parent, [](QWidget* client) -> QWidget* { return new CFileListCtrl(client); }),
      store_(store),
      mainIcon_(QPixmap(res::MainIconXpm())) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    compressButton_ = ControlAs<QPushButton>(res::kOkButton);
    progressBar_ = ControlAs<QProgressBar>(res::kMainProgress);
    fileList_ = ControlAs<CFileListCtrl>(res::kMainFileList);
    OnInitDialog();
}

CMainDialog::~CMainDialog() {
    if (!destroyed_) OnDestroy();
}

void CMainDialog::DoDataExchange(DataExchange& dx) {
    static constexpr Bound kBound[] = {
        {res::kMainRate, settings::kRate},
        {res::kMainTargetFolder, settings::kVerz},
        {res::kMainSizePercent, settings::kBildsize},
        {res::kMainWidth, settings::kBreite},
        {res::kMainHeight, settings::kHoehe},
        {res::kMainPercent, settings::kProzent},
        {res::kMainTargetLikeSource, settings::kZielPath},
        {res::kMainNoEnlarge, settings::kNichtVergroessern},
    };
    for (const Bound& bound : kBound) dx.Exchange(bound, values_);
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
    if (auto* label = ControlAs<QLabel>(res::kMainQualityNote)) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText,
                         ReadableOn(ColorFromColorref(kMainLabelColor), palette.color(QPalette::Window)));
        label->setPalette(palette);
    }
    ConnectControls();

    values_ = settings::ReadMainSettings(store_, settings::DefaultVerz());
    devicePath_ = settings::ReadDevicePath();
    values_.Verz = settings::ApplyTokenOnRead(values_.Verz, devicePath_);
    UpdateData(false);
    UpdateSizeControls();
    UpdateTargetControls();
    UpdateQualityNote();
}

void CMainDialog::UpdateQualityNote() {
    auto* label = ControlAs<QLabel>(res::kMainQualityNote);
    if (!label) return;
    const int32_t type = settings::ReadParameterSettings(store_).AusgabeTyp;
    // The template's own note names JPG; any other type whose encoder takes the quality gets the longer list.
    const imaging::Codec* codec = imaging::FindCodecByOutputType(type);
    const bool newerLossy = codec != nullptr && codec->takesQuality && type != kOutputTypeJpg;
    for (const Created& control : Controls()) {
        if (control.widget != label) continue;
        const res::DialogControl& row = *control.row;
        label->setText(QString::fromUtf8(
            newerLossy ? res::FormatNumbered(res::IDS_QUALITY_LOSSY_TYPES, {OutputFormatsInWords(true, "-")})
                       : row.text));
        // A note that wraps takes the free space below its first line, as much as the desktop's font needs.
        QRect rect = MapDialogRect(DialogBaseUnits(font()), row.x, row.y, row.width, row.height);
        rect.setHeight(std::max(rect.height(), label->heightForWidth(rect.width())));
        label->setGeometry(rect);
    }
}

namespace {

struct MenuEntry {
    int text;  // string id; an empty string leaves the entry out
    unsigned command;
    QKeySequence shortcut;
};

// The window's one menu, group by group; each group that shows an entry starts with a separator.
const std::vector<std::vector<MenuEntry>>& MenuGroups() {
    static const std::vector<std::vector<MenuEntry>> groups = {
        {{res::IDS_PARAMETER_MENU, kIdmParameter, {}}},
        {{res::IDS_ABOUTBOX, kIdmAboutBox, {}}},
        {{res::IDS_ADD_FILES_MENU, kIdmAddFiles, QKeySequence(Qt::CTRL | Qt::Key_O)},
         {res::IDS_ADD_FOLDER_MENU, kIdmAddFolder, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)}},
        {{res::IDS_ADVANCED_MENU, kIdmAdvanced, {}}},
        {{res::IDS_REPORT_MENU, kIdmReport, {}}},
    };
    return groups;
}

}  // namespace

void CMainDialog::AddSystemMenuEntries() {
    // No system menu can be extended here: its entries live in the window's one menu.
    systemMenu_ = AddMenu(QString::fromUtf8(res::MainMenuTitle()));
    systemMenu_->setSeparatorsCollapsible(false);
    for (const std::vector<MenuEntry>& group : MenuGroups()) {
        bool separated = false;
        for (const MenuEntry& entry : group) {
            const std::string& text = res::LoadString(entry.text);
            if (text.empty()) continue;
            if (!separated) systemMenu_->addSeparator();
            separated = true;
            QAction* action = systemMenu_->addAction(QString::fromUtf8(text));
            action->setData(entry.command);
            action->setShortcut(entry.shortcut);
            const unsigned command = entry.command;
            connect(action, &QAction::triggered, this, [this, command] { OnSysCommand(command); });
        }
    }
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, [this] { OnSysCommand(kIdmAboutBox); });
}

void CMainDialog::ConnectControls() {
    OnClicked(res::kMainBrowse, &CMainDialog::OnBrowse);
    OnClicked(res::kMainClearList, &CMainDialog::ClearList);
    OnClicked(res::kMainSizePercent, &CMainDialog::UpdateSizeControls);
    OnClicked(res::kMainTargetOwnFolder, &CMainDialog::UpdateTargetControls);
    OnClicked(res::kMainSizeLikeSource, &CMainDialog::UpdateSizeControls);
    OnClicked(res::kMainSizeBox, &CMainDialog::UpdateSizeControls);
    OnClicked(res::kMainTargetLikeSource, &CMainDialog::UpdateTargetControls);
    OnClicked(res::kOkButton, &CMainDialog::OnOK);
    OnClicked(res::kCancelButton, &CMainDialog::reject);
}

void CMainDialog::OnSysCommand(unsigned command) {
    switch (command) {
        case kIdmAboutBox: {
            CInfoDialog info(this);
            info.exec();
            break;
        }
        case kIdmParameter: {
            CParameterDialog parameter(store_, this);
            parameter.exec();
            UpdateQualityNote();
            break;
        }
        case kIdmAdvanced: {
            CAdvancedDialog advanced(store_, this);
            advanced.exec();
            break;
        }
        case kIdmAddFiles: OnAddFiles(); break;
        case kIdmAddFolder: OnAddFolder(); break;
        case kIdmReport: OnShowReport(); break;
        default: break;
    }
}

void CMainDialog::OnShowReport() {
    if (batchRunning_) return;
    CReportDialog report(LastReport(), this);
    report.exec();
}

void CMainDialog::OnBrowse() {
    if (!UpdateData(true)) return;
    const std::string& title = res::LoadString(res::IDS_BROWSE_TITLE);
    std::string path = values_.Verz;
    BrowseForFolder(this, title, path);
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
    Control(res::kMainWidth)->setEnabled(box);
    Control(res::kMainHeight)->setEnabled(box);
    Control(res::kMainPercent)->setEnabled(percent);
}

void CMainDialog::UpdateTargetControls() {
    if (!UpdateData(true)) return;
    const bool ownFolder = values_.ZielPath != 0;
    Control(res::kMainTargetFolder)->setEnabled(ownFolder);
    Control(res::kMainBrowse)->setEnabled(ownFolder);
}

void CMainDialog::ClearList() { fileList_->ClearList(); }

void CMainDialog::AddPathsWhenShown(std::vector<std::string> paths) {
    if (paths.empty()) return;
    QTimer::singleShot(0, this, [this, paths = std::move(paths)] {
        if (!batchRunning_) OnNamedFiles(paths);
    });
}

void CMainDialog::OnAddFiles() {
    if (batchRunning_) return;
    const InputTypeFlags accepted = settings::ReadInputTypes(store_);
    const std::vector<std::string> paths =
        ChooseImageFiles(this, res::LoadString(res::IDS_ADD_FILES_TITLE), addFolder_, accepted);
    if (!paths.empty()) OnNamedFiles(paths);
}

void CMainDialog::OnAddFolder() {
    if (batchRunning_) return;
    std::string folder = addFolder_;
    if (!BrowseForFolder(this, res::LoadString(res::IDS_ADD_FOLDER_TITLE), folder)) return;
    addFolder_ = folder;
    OnDropFiles({folder});
}

void CMainDialog::OnOK() {
    if (batchRunning_) return;
    batchRunning_ = true;
    stop_.Reset();
    quietFailures_ = false;
    const QPointer<QWidget> focusBefore = focusWidget();
    BatchResult result;
    {
        BatchInputGuard guard(this, [this] { stop_.Wish(); });
        fileList_->SetRowsLocked(true);
        result = RunBatch(*this, fileList_->Rows());
        // What came in since the batch last looked is dropped too, before the window takes input again.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    fileList_->SetRowsLocked(false);
    skippedCount_ = result.SkippedCount;
    if (result.Started) {
        lastReport_ = std::move(result.Report);
        hasReport_ = true;
    }
    batchRunning_ = false;
    stop_.Reset();
    if (result.Started) RestoreFocusAfterBatch(focusBefore);
}

void CMainDialog::RestoreFocusAfterBatch(QWidget* focusBefore) {
    // Disabling the focused "Komprimieren" handed the focus, and with it the default role, to the next
    // button; both go back, so that Enter starts a batch again and never clears the list.
    if (focusBefore && focusBefore->isEnabled() && focusBefore->isVisible())
        focusBefore->setFocus(Qt::OtherFocusReason);
    QWidget* focused = focusWidget();
    if (!qobject_cast<QPushButton*>(focused) || focused == compressButton_) compressButton_->setDefault(true);
}

void CMainDialog::AskToStopBatch() {
    stop_.BeginAsking();
    QApplication::setOverrideCursor(Qt::ArrowCursor);  // over the batch's wait cursor
    QMessageBox box(QMessageBox::Question, windowTitle(), QString::fromUtf8(res::LoadString(res::IDS_STOP_QUESTION)),
                    QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(QString::fromUtf8(res::LoadString(res::IDS_YES)), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QString::fromUtf8(res::LoadString(res::IDS_NO)), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    QApplication::restoreOverrideCursor();
    stop_.Answer(box.clickedButton() == yes);
}

void CMainDialog::OnDestroy() {
    destroyed_ = true;
    if (!UpdateData(true)) return;  // an invalid value: this run's changes are not stored
    MainSettings stored = values_;
    stored.Verz = settings::ApplyTokenOnWrite(values_.Verz, devicePath_);
    settings::WriteMainSettings(store_, stored);
}

void CMainDialog::done(int result) {
    if (batchRunning_) {  // the window stays open while its batch runs
        stop_.Wish();
        return;
    }
    if (!destroyed_) OnDestroy();
    CTemplateDialog::done(result);
}

void CMainDialog::closeEvent(QCloseEvent* event) {
    if (batchRunning_) {
        event->ignore();
        stop_.Wish();
        return;
    }
    CTemplateDialog::closeEvent(event);
}

// --- Drops ---------------------------------------------------------------------------------------------

void CMainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!batchRunning_ && HasLocalFiles(event->mimeData())) AnswerAsCopy(event);
}

void CMainDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (!batchRunning_ && HasLocalFiles(event->mimeData())) AnswerAsCopy(event);
}

void CMainDialog::dropEvent(QDropEvent* event) {
    if (batchRunning_ || !HasLocalFiles(event->mimeData())) return;
    if (!AnswerAsCopy(event)) return;
    OnDropFiles(DroppedPaths(*event->mimeData()));
}

RowSink CMainDialog::ListAppender(int& added, QElapsedTimer& sinceRepaint) {
    return [this, &added, &sinceRepaint](const FileRow& row) {
        fileList_->AppendFileRow(row);
        if (++added % kRowsPerRepaint != 0) return;
        if (sinceRepaint.isValid() && sinceRepaint.elapsed() < kMinRepaintIntervalMs) return;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        sinceRepaint.start();  // after the repaint, so that painting never takes most of the time
    };
}

void CMainDialog::OnDropFiles(const std::vector<std::string>& paths) {
    inputTypeFlags_ = settings::ReadInputTypes(store_);
    int added = 0;
    QElapsedTimer sinceRepaint;  // invalid until the first repaint of this drop
    qx::OnDropFiles(paths, inputTypeFlags_, ListAppender(added, sinceRepaint));
}

void CMainDialog::OnNamedFiles(const std::vector<std::string>& paths) {
    // A box of reasonable height however many chosen files were not taken.
    constexpr size_t kMostLines = 20;
    inputTypeFlags_ = settings::ReadInputTypes(store_);
    int added = 0;
    QElapsedTimer sinceRepaint;
    const std::vector<RefusedFile> refused =
        qx::OnNamedPaths(paths, inputTypeFlags_, ListAppender(added, sinceRepaint));
    if (refused.empty()) return;
    std::string text = res::LoadString(res::IDS_NAMED_NOT_TAKEN) + "\n";
    for (size_t i = 0; i < refused.size() && i < kMostLines; ++i)
        text += "\n" + refused[i].path + ": " + refused[i].reason;
    if (refused.size() > kMostLines)
        text += "\n" + res::FormatNumbered(res::IDS_NAMED_MORE, {std::to_string(refused.size() - kMostLines)});
    ShowMessage(text);
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

bool CMainDialog::ExchangeAndValidate() {
    if (!UpdateData(true)) return false;
    // A size limit out of range can only come from a hand-edited file, and no control here shows it: the
    // message names the key, to be set right in "Erweiterte Einstellungen".
    const AdvancedSettings advanced = settings::ReadAdvancedSettings(store_);
    if (const settings::SettingKey* row = settings::AdvancedValueOutOfRange(advanced)) {
        ShowMessage(settings::StoredValueMessage(*row, settings::IntValue(*row, {}, {}, advanced)));
        return false;
    }
    return true;
}

ParameterSettings CMainDialog::ReadParameterSettings() { return settings::ReadParameterSettings(store_); }

AdvancedSettings CMainDialog::ReadAdvancedSettings() { return settings::ReadAdvancedSettings(store_); }

void CMainDialog::SetProgressRange(int lower, int upper) {
    // The toolkit draws an empty range as an endless busy animation; here it is one step with the bar at
    // its start, empty and still, as the end of a batch without workers must look.
    progressBar_->setRange(lower, upper > lower ? upper : lower + 1);
}

void CMainDialog::SetProgressPos(int position) {
    progressBar_->setValue(position);
    KeepAlive();
}

void CMainDialog::EnableCompressButton(bool enable) { compressButton_->setEnabled(enable); }

void CMainDialog::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void CMainDialog::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

void CMainDialog::KeepAlive() {
    // User input is taken from the queue too (the batch's guard drops it), so that none is left to act
    // after the batch.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (stop_.Due()) AskToStopBatch();
}

bool CMainDialog::StopRequested() {
    if (stop_.Due()) AskToStopBatch();
    return stop_.Requested();
}

void CMainDialog::ShowMessage(const std::string& text) { MessageBoxes().ShowMessage(text); }

void CMainDialog::ShowFailure(const std::string& text, const std::string& reason) {
    if (quietFailures_) return;
    quietFailures_ = MessageBoxes().ShowBatchFailure(text, reason);
}

}  // namespace qx
