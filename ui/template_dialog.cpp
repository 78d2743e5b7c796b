#include "ui/template_dialog.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <cmath>

#include "ui/up_down.h"

namespace qx {

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

QTableWidget* NewTable(QWidget* client) {
    auto* table = new QTableWidget(client);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->setTabKeyNavigation(false);  // one tab stop, like the file list
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->setSortingEnabled(true);
    return table;
}

QLabel* NewLabel(const QString& text, QWidget* client) {
    auto* label = new QLabel(client);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// The widget of one template row, in `client`, not yet placed; an up-down control steps the edit before it.
QWidget* NewControl(const res::DialogControl& row, QWidget* client, QWidget* previous,
                    CTemplateDialog::ListFactory makeList) {
    const QString text = QString::fromUtf8(row.text);
    switch (row.kind) {
        case res::ControlKind::PushButton: {
            auto* button = new QPushButton(text, client);
            button->setDefault(row.style & res::kDefault);
            button->setAutoDefault(true);  // Enter on a focused button presses that button
            return button;
        }
        case res::ControlKind::RadioButton: {
            auto* radio = new QRadioButton(text, client);
            radio->setAutoExclusive(false);
            return radio;
        }
        case res::ControlKind::CheckBox: return new QCheckBox(text, client);
        case res::ControlKind::Edit: {
            auto* edit = new QLineEdit(text, client);
            edit->setFrame(row.style & res::kBorder);
            edit->setAcceptDrops(false);  // drops belong to the window, not to the edits
            return edit;
        }
        case res::ControlKind::GroupBox: {
            auto* box = new GroupFrame(text, client);
            box->setFocusPolicy(Qt::NoFocus);
            return box;
        }
        case res::ControlKind::Static: return NewLabel(text, client);
        case res::ControlKind::StaticIcon: {
            auto* label = new QLabel(client);
            label->setObjectName(QStringLiteral("icon"));
            return label;
        }
        case res::ControlKind::UpDown:
            return new CUpDown(client, qobject_cast<QLineEdit*>(previous), row.style & res::kArrowKeys);
        case res::ControlKind::ListView: return makeList ? makeList(client) : new QWidget(client);
        case res::ControlKind::Table: return NewTable(client);
        case res::ControlKind::Progress: {
            auto* bar = new QProgressBar(client);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
    }
    return new QWidget(client);
}

}  // namespace

CTemplateDialog::CTemplateDialog(int templateId, QWidget* parent, ListFactory makeList)
    : QDialog(parent), template_(res::FindTemplate(templateId)), makeList_(makeList) {
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
    QButtonGroup* group = nullptr;
    QWidget* previous = nullptr;
    std::vector<QWidget*> frames;
    for (const res::DialogControl& row : template_->controls) {
        if (row.style & res::kGroup) group = nullptr;
        QWidget* widget = NewControl(row, client_, previous, makeList_);
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            if (!group) {
                group = new QButtonGroup(this);
                radioGroups_.emplace_back(row.id, group);
            }
            group->addButton(radio);
        }
        if (row.kind == res::ControlKind::GroupBox) frames.push_back(widget);
        widget->setObjectName(QStringLiteral("control_%1").arg(row.id));
        if (!(row.style & res::kTabStop) && row.kind != res::ControlKind::Edit &&
            row.kind != res::ControlKind::RadioButton && row.kind != res::ControlKind::ListView)
            widget->setFocusPolicy(Qt::NoFocus);
        const QRect rect = MapDialogRect(units, row.x, row.y, row.width, row.height);
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
