#include "ui/dialog_layer.h"

#include <qdrawutil.h>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QTranslator>
#include <cmath>

#include "res/strings.h"
#include "settings/settings.h"
#include "ui/file_list_ctrl.h"

namespace qx {

// --- Message boxes -------------------------------------------------------------------------------------

namespace {

class RealMessageBoxes : public MessageBoxService {
public:
    void ShowMessage(const std::string& text) override {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::FindTemplate(res::IDD_MAIN)->title),
                        QString::fromUtf8(text), QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    }
    bool ShowBatchFailure(const std::string& text, const std::string& reason) override {
        (void)reason;
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(res::FindTemplate(res::IDD_MAIN)->title),
                        QString::fromUtf8(text), QMessageBox::Ok, QApplication::activeWindow());
        auto* quiet = new QCheckBox(QString::fromUtf8(res::LoadString(res::IDS_QUIET_FAILURES)));
        box.setCheckBox(quiet);  // the box owns it
        box.exec();
        return quiet->isChecked();
    }
};

MessageBoxService* g_override = nullptr;

}  // namespace

MessageBoxService& MessageBoxes() {
    static RealMessageBoxes real;
    return g_override ? *g_override : real;
}

void SetMessageBoxService(MessageBoxService* service) { g_override = service; }

// --- Qt's own texts -----------------------------------------------------------------------------------

QTranslator* InstallQtGermanTexts(const QString& folder) {
    const QString where = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_de"), where)) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

// --- Small rules ---------------------------------------------------------------------------------------

QColor ColorFromColorref(uint32_t colorref) {
    return QColor(int(colorref & 0xFF), int((colorref >> 8) & 0xFF), int((colorref >> 16) & 0xFF));
}

namespace {

double RelativeLuminance(const QColor& color) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.red()) + 0.7152 * linear(color.green()) + 0.0722 * linear(color.blue());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableOn(const QColor& wanted, const QColor& background) {
    constexpr double kReadable = 4.5;
    if (background.lightness() >= 128) return wanted;
    constexpr int kSteps = 40;
    for (int step = 1; step <= kSteps; ++step) {
        const auto mix = [step](int channel) { return channel + (255 - channel) * step / kSteps; };
        const QColor lighter(mix(wanted.red()), mix(wanted.green()), mix(wanted.blue()));
        if (ContrastRatio(lighter, background) >= kReadable) return lighter;
    }
    return QColor(Qt::white);
}

QFont DialogFont() {
    // The templates' dialog units follow the font, so that the layout grows with a larger desktop font.
    return QApplication::font();
}

DialogUnits DialogBaseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // Rounded up: the templates were drawn for a narrower face, and a text must still fit its control.
    return {(width + 51) / 52, metrics.height()};
}

QRect MapDialogRect(const DialogUnits& units, int x, int y, int width, int height) {
    auto horizontal = [&](int v) { return (v * units.averageCharWidth + 2) / 4; };
    auto vertical = [&](int v) { return (v * units.charHeight + 4) / 8; };
    const int left = horizontal(x), top = vertical(y);
    return QRect(left, top, horizontal(x + width) - left, vertical(y + height) - top);
}

// --- Up-down control -----------------------------------------------------------------------------------

CUpDown::CUpDown(QWidget* parent, QLineEdit* buddy, bool arrowKeys) : QWidget(parent), buddy_(buddy) {
    setFocusPolicy(Qt::NoFocus);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (QToolButton* button : {up_, down_}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setIconSize(QSize(6, 6));
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    if (buddy_ && arrowKeys) buddy_->installEventFilter(this);
}

void CUpDown::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
}

void CUpDown::Step(int direction) {
    const int low = std::min(lower_, upper_), high = std::max(lower_, upper_);
    if (buddy_) {
        uint32_t typed = 0;
        if (settings::ParseUnsignedDecimal(buddy_->text().toStdString(), typed) == settings::ParseResult::Ok &&
            typed <= uint32_t(high) && int(typed) >= low)
            position_ = int(typed);
    }
    position_ = std::clamp(position_, low, high);
    const int step = upper_ >= lower_ ? direction : -direction;
    const int next = position_ + step;
    if (next < low || next > high) return;  // no wrapping at the limits
    position_ = next;
    if (buddy_) buddy_->setText(QString::number(position_));
}

bool CUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CUpDown::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

// --- Data exchange -------------------------------------------------------------------------------------

namespace {

QString FromBytes(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }
std::string ToBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

}  // namespace

void DataExchange::Fail(int id, const std::string& message) {
    failed_ = true;
    MessageBoxes().ShowMessage(message);
    if (QWidget* control = dialog_.Control(id)) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
    }
}

// Bytes that are not valid UTF-8 do not survive the round trip through a QString: an edit remembers the
// bytes it was given and hands them back as long as its text is the one they were shown as.
constexpr char kBytesProperty[] = "qx_bytes";
constexpr char kShownProperty[] = "qx_shown";

void DataExchange::Text(int id, std::string& value) {
    if (failed_) return;
    if (auto* edit = dialog_.ControlAs<QLineEdit>(id)) {
        if (save_) {
            const QVariant shown = edit->property(kShownProperty);
            if (shown.isValid() && shown.toString() == edit->text())
                value = edit->property(kBytesProperty).toByteArray().toStdString();
            else
                value = ToBytes(edit->text());
        } else {
            const QString text = FromBytes(value);
            edit->setText(text);
            edit->setProperty(kBytesProperty, QByteArray::fromStdString(value));
            edit->setProperty(kShownProperty, edit->text());
        }
    } else if (auto* label = dialog_.ControlAs<QLabel>(id)) {
        if (save_)
            value = ToBytes(label->text());
        else
            label->setText(FromBytes(value));
    }
}

void DataExchange::Number(int id, uint32_t& value, uint32_t minimum, uint32_t maximum) {
    if (failed_) return;
    auto* edit = dialog_.ControlAs<QLineEdit>(id);
    if (!edit) return;
    if (!save_) {
        edit->setText(QString::number(value));
        return;
    }
    uint32_t number = 0;
    const settings::ParseResult parsed = settings::ParseUnsignedDecimal(ToBytes(edit->text()), number);
    if (parsed == settings::ParseResult::NotANumber) {
        Fail(id, res::LoadString(res::IDS_PARSE_INT));
        return;
    }
    if (parsed == settings::ParseResult::TooLarge || number < minimum || number > maximum) {
        Fail(id, settings::RangeMessage(minimum, maximum));
        return;
    }
    value = number;
}

void DataExchange::Radio(int firstId, int32_t& value) {
    if (failed_) return;
    if (save_)
        value = dialog_.RadioIndex(firstId);
    else
        dialog_.SetRadioIndex(firstId, value);
}

void DataExchange::Check(int id, int32_t& value) {
    if (failed_) return;
    auto* box = dialog_.ControlAs<QCheckBox>(id);
    if (!box) return;
    if (save_)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void DataExchange::CheckBit(int id, int32_t& bits, int bit) {
    int32_t checked = (bits >> bit) & 1;
    Check(id, checked);
    if (save_) bits = (bits & ~(1 << bit)) | (checked << bit);
}

void DataExchange::Value(int id, const settings::SettingKey& row, uint32_t& value) {
    Number(id, value, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper));
}

void DataExchange::Value(int id, const settings::SettingKey& row, int32_t& value) {
    if (dialog_.ControlAs<QCheckBox>(id) != nullptr) return Check(id, value);
    if (dialog_.ControlAs<QLineEdit>(id) == nullptr) return Radio(id, value);
    // A number field shows what the file holds as the unsigned number it reads back.
    uint32_t number = static_cast<uint32_t>(value);
    Number(id, number, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper));
    if (save_ && !failed_) value = static_cast<int32_t>(number);
}

// --- Dialogs from templates ----------------------------------------------------------------------------

namespace {

// A group box framed the way the templates were drawn for: the frame line runs through the middle of the
// title, so the controls placed just below the title sit inside the frame rather than on its top line.
class GroupFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        // An etched line, drawn here: the styles' own group frames start below the title.
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1, 0);
        if (title().isEmpty()) return;
        const int indent = metrics.averageCharWidth();
        const QRect textRect(indent, 0, std::min(metrics.horizontalAdvance(title()) + 4, width() - indent),
                             metrics.height());
        painter.fillRect(textRect, palette().brush(QPalette::Window));
        style()->drawItemText(&painter, textRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, palette(),
                              isEnabled(), title(), QPalette::WindowText);
    }
};

}  // namespace

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent), template_(res::FindTemplate(templateId)) {
    setWindowTitle(QString::fromUtf8(template_->title));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    CreateControls();
    FixSize();
}

void CTemplateDialog::CreateControls() {
    const DialogUnits units = DialogBaseUnits(font());
    const auto& rows = template_->controls;
    QButtonGroup* group = nullptr;
    int groupFirstId = res::kNoId;
    QWidget* previous = nullptr;
    std::vector<QWidget*> frames;
    for (const res::DialogControl& row : rows) {
        const QString text = QString::fromUtf8(row.text);
        const QRect rect = MapDialogRect(units, row.x, row.y, row.width, row.height);
        if (row.style & res::kGroup) group = nullptr;
        QWidget* widget = nullptr;
        switch (row.kind) {
            case res::ControlKind::PushButton: {
                auto* button = new QPushButton(text, client_);
                button->setDefault(row.style & res::kDefault);
                button->setAutoDefault(true);  // Enter on a focused button presses that button
                widget = button;
                break;
            }
            case res::ControlKind::RadioButton: {
                auto* radio = new QRadioButton(text, client_);
                radio->setAutoExclusive(false);
                if (!group) {
                    group = new QButtonGroup(this);
                    groupFirstId = row.id;
                    radioGroups_.emplace_back(groupFirstId, group);
                }
                group->addButton(radio);
                widget = radio;
                break;
            }
            case res::ControlKind::CheckBox: widget = new QCheckBox(text, client_); break;
            case res::ControlKind::Edit: {
                auto* edit = new QLineEdit(text, client_);
                edit->setFrame(row.style & res::kBorder);
                edit->setAcceptDrops(false);  // drops belong to the window, not to the edits
                widget = edit;
                break;
            }
            case res::ControlKind::GroupBox: {
                auto* box = new GroupFrame(text, client_);
                box->setFocusPolicy(Qt::NoFocus);
                frames.push_back(box);
                widget = box;
                break;
            }
            case res::ControlKind::Static: {
                auto* label = new QLabel(client_);
                label->setTextFormat(Qt::PlainText);
                label->setText(text);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
            case res::ControlKind::StaticIcon: {
                auto* label = new QLabel(client_);
                label->setObjectName(QStringLiteral("icon"));
                widget = label;
                break;
            }
            case res::ControlKind::UpDown: {
                auto* buddy = qobject_cast<QLineEdit*>(previous);
                auto* spin = new CUpDown(client_, buddy, row.style & res::kArrowKeys);
                widget = spin;
                break;
            }
            case res::ControlKind::ListView: {
                auto* list = new CFileListCtrl(client_);
                widget = list;
                break;
            }
            case res::ControlKind::Table: {
                auto* table = new QTableWidget(client_);
                table->setEditTriggers(QAbstractItemView::NoEditTriggers);
                table->setSelectionBehavior(QAbstractItemView::SelectRows);
                table->setWordWrap(false);
                table->setTabKeyNavigation(false);  // one tab stop, like the file list
                table->verticalHeader()->setVisible(false);
                table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                table->setSortingEnabled(true);
                widget = table;
                break;
            }
            case res::ControlKind::Progress: {
                auto* bar = new QProgressBar(client_);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                widget = bar;
                break;
            }
        }
        widget->setObjectName(QStringLiteral("control_%1").arg(row.id));
        if (!(row.style & res::kTabStop) && row.kind != res::ControlKind::Edit &&
            row.kind != res::ControlKind::RadioButton && row.kind != res::ControlKind::ListView)
            widget->setFocusPolicy(Qt::NoFocus);
        widget->setGeometry(rect);
        if (auto* spin = qobject_cast<CUpDown*>(widget); spin && (row.style & res::kAlignRight) && spin->Buddy()) {
            // Sits at the partner's right edge; the partner gives up that width.
            QRect partner = spin->Buddy()->geometry();
            partner.setWidth(partner.width() - rect.width());
            spin->Buddy()->setGeometry(partner);
            spin->setGeometry(partner.right() + 1, partner.top(), rect.width(), partner.height());
        }
        controls_.push_back({&row, widget});
        previous = widget;
    }
    // A group box is drawn behind the controls it frames and takes none of their clicks.
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) (*it)->lower();
}

void CTemplateDialog::FixSize() {
    const DialogUnits units = DialogBaseUnits(font());
    const QRect area = MapDialogRect(units, 0, 0, template_->width, template_->height);
    const int top = menuBar_ ? menuBar_->sizeHint().height() : 0;
    if (menuBar_) menuBar_->setGeometry(0, 0, area.width(), top);
    client_->setGeometry(0, top, area.width(), area.height());
    setFixedSize(area.width(), area.height() + top);
}

QMenu* CTemplateDialog::AddMenu(const QString& title) {
    if (!menuBar_) {
        menuBar_ = new QMenuBar(this);
        menuBar_->setNativeMenuBar(false);
    }
    QMenu* menu = menuBar_->addMenu(title);
    FixSize();
    return menu;
}

QWidget* CTemplateDialog::Control(int id) const {
    for (const Created& c : controls_)
        if (c.row->id == id) return c.widget;
    return nullptr;
}

std::vector<QWidget*> CTemplateDialog::RadioGroup(int firstId) const {
    std::vector<QWidget*> buttons;
    for (const auto& [id, group] : radioGroups_)
        if (id == firstId)
            for (QAbstractButton* b : group->buttons()) buttons.push_back(b);
    return buttons;
}

int CTemplateDialog::RadioIndex(int firstId) const {
    const auto buttons = RadioGroup(firstId);
    for (size_t i = 0; i < buttons.size(); ++i)
        if (static_cast<QAbstractButton*>(buttons[i])->isChecked()) return int(i);
    return -1;
}

void CTemplateDialog::SetRadioIndex(int firstId, int index) {
    for (const auto& [id, group] : radioGroups_) {
        if (id != firstId) continue;
        const auto buttons = group->buttons();
        group->setExclusive(false);
        for (int i = 0; i < buttons.size(); ++i) buttons[i]->setChecked(i == index);
        group->setExclusive(true);
    }
}

QButtonGroup* CTemplateDialog::RadioGroupOf(QWidget* widget) const {
    for (const auto& [firstId, group] : radioGroups_)
        if (group->buttons().contains(widget)) return group;
    return nullptr;
}

bool CTemplateDialog::IsTabStop(QWidget* widget) const {
    if (widget->window() != this || !widget->isEnabled() || !widget->isVisibleTo(this) || widget->focusProxy())
        return false;
    if (RadioGroupOf(widget)) {
        // A group is one stop, the button the template marks; its other buttons are reached by the arrows.
        for (const Created& control : controls_)
            if (control.widget == widget) return control.row->style & res::kTabStop;
        return false;
    }
    return (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus;
}

bool CTemplateDialog::focusNextPrevChild(bool next) {
    // Tab works as in classic dialogs: a radio group is entered at its checked button (its first when none
    // is checked), so that Space there changes nothing, and the next Tab leaves the group.
    QWidget* current = focusWidget();
    if (!current) return QDialog::focusNextPrevChild(next);
    const QButtonGroup* currentGroup = RadioGroupOf(current);
    QWidget* candidate = current;
    for (size_t guard = 0; guard < 100000; ++guard) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (!candidate || candidate == current) return false;
        if (!IsTabStop(candidate)) continue;
        if (QButtonGroup* group = RadioGroupOf(candidate)) {
            if (group == currentGroup) continue;
            QAbstractButton* checked = group->checkedButton();
            if (checked && checked->isEnabled() && checked->isVisibleTo(this)) candidate = checked;
        }
        candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

bool CTemplateDialog::UpdateData(bool saveAndValidate) {
    const bool wasExchanging = exchanging_;
    exchanging_ = true;
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    exchanging_ = wasExchanging;
    return !dx.Failed();
}

}  // namespace qx
