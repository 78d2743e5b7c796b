#include "ui/data_exchange.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

#include "res/strings.h"
#include "ui/message_boxes.h"
#include "ui/template_dialog.h"

namespace qx {

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

void DataExchange::Choice(int firstId, std::span<const int32_t> choices, int32_t& value) {
    if (failed_) return;
    const auto at = std::find(choices.begin(), choices.end(), value);
    int32_t index = at == choices.end() ? -1 : static_cast<int32_t>(at - choices.begin());
    Radio(firstId, index);
    // A value of the file that no button stands for stays as it is while no button is chosen.
    if (save_ && index >= 0 && static_cast<size_t>(index) < choices.size()) value = choices[size_t(index)];
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
    if (dialog_.ControlAs<QLineEdit>(id) == nullptr && !row.choices.empty()) return Choice(id, row.choices, value);
    if (dialog_.ControlAs<QLineEdit>(id) == nullptr) return Radio(id, value);
    // A number field shows what the file holds as the unsigned number it reads back.
    uint32_t number = static_cast<uint32_t>(value);
    Number(id, number, static_cast<uint32_t>(row.lower), static_cast<uint32_t>(row.upper));
    if (save_ && !failed_) value = static_cast<int32_t>(number);
}

}  // namespace qx
