#include "ui/parameter_dialog.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

#include "engine/batch.h"
#include "res/strings.h"
#include "settings/settings.h"
#include "ui/message_boxes.h"

namespace qx {

CParameterDialog::CParameterDialog(ProfileStore& store, QWidget* parent)
    : CTemplateDialog(res::IDD_PARAMETER, parent), store_(store) {
    digitsSpin_ = ControlAs<CUpDown>(res::kParameterDigitsSpin);
    numberSpin_ = ControlAs<CUpDown>(res::kParameterNumberSpin);
    if (auto* example = ControlAs<QLabel>(res::kParameterExample)) {
        QPalette palette = example->palette();
        palette.setColor(QPalette::WindowText,
                         ReadableOn(ColorFromColorref(kExampleColor), palette.color(QPalette::Window)));
        example->setPalette(palette);
    }
    auto changed = [this](int id) {
        if (auto* edit = ControlAs<QLineEdit>(id))
            connect(edit, &QLineEdit::textChanged, this, [this] {
                if (!Exchanging()) UpdateExample();
            });
    };
    OnClicked(res::kParameterNamesByPattern, &CParameterDialog::UpdateNamingControls);
    changed(res::kParameterPrefix);
    OnClicked(res::kParameterNamesLikeSource, &CParameterDialog::UpdateNamingControls);
    changed(res::kParameterNumber);
    changed(res::kParameterDigits);
    for (QWidget* button : RadioGroup(res::kParameterOutputJpg))
        connect(static_cast<QAbstractButton*>(button), &QAbstractButton::clicked, this,
                &CParameterDialog::OnOutputTypeChanged);
    OnClicked(res::kOkButton, &CParameterDialog::OnOK);
    OnClicked(res::kCancelButton, &CParameterDialog::reject);
    OnInitDialog();
}

void CParameterDialog::DoDataExchange(DataExchange& dx) {
    dx.Exchange({res::kParameterNamesLikeSource, settings::kAusgabeDateiTyp}, values_);
    dx.Exchange({res::kParameterDigits, settings::kStellen}, values_);
    dx.Exchange({res::kParameterNumber, settings::kLfdNr}, values_);
    dx.Exchange({res::kParameterPrefix, settings::kPrefix}, values_);
    // The check boxes of the input types, by their bits in EingabeTyp.
    dx.CheckBit(res::kParameterAcceptBmp, values_.EingabeTyp, 0);
    dx.CheckBit(res::kParameterAcceptJpg, values_.EingabeTyp, 1);
    dx.CheckBit(res::kParameterAcceptPng, values_.EingabeTyp, 2);
    dx.Exchange({res::kParameterOutputJpg, settings::kAusgabeTyp}, values_);
    dx.Exchange({res::kParameterThreads, settings::kThreadAnzahl}, values_);
}

void CParameterDialog::OnInitDialog() {
    values_ = settings::ReadParameterSettings(store_);
    values_.EingabeTyp = settings::PackEingabeTyp(settings::UnpackEingabeTyp(values_.EingabeTyp));
    numberSpin_->SetRange(1, 9999);
    digitsSpin_->SetRange(1, 4);
    UpdateData(false);
    UpdateNamingControls();
    if (QWidget* first = Control(res::kParameterAcceptJpg)) first->setFocus(Qt::OtherFocusReason);
}

void CParameterDialog::UpdateNamingControls() {
    if (!UpdateData(true)) return;
    const bool pattern = values_.AusgabeDateiTyp == kNamingPattern;
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        Control(id)->setEnabled(pattern);
    UpdateExample();
}

void CParameterDialog::UpdateExample() {
    auto* example = ControlAs<QLabel>(res::kParameterExample);
    if (!example) return;
    std::string text;
    if (UpdateData(true) && values_.AusgabeDateiTyp == kNamingPattern) {
        const OutputFormat* format = FindOutputFormat(values_.AusgabeTyp);
        const ParameterSettings& naming = values_;
        for (int i = 0; i < 3; ++i) {
            text += MakeOutputName(naming, kTargetVerz, PathParts{}, i);
            if (format) text += format->extension;
            text += ",   ";
        }
    }
    example->setText(QString::fromUtf8(text));
}

QString CParameterDialog::ExampleText() const {
    auto* example = ControlAs<QLabel>(res::kParameterExample);
    return example ? example->text() : QString();
}

void CParameterDialog::OnOutputTypeChanged() {
    if (UpdateData(true)) UpdateExample();
}

void CParameterDialog::OnOK() {
    if (!UpdateData(true)) return;
    settings::WriteParameterSettings(store_, values_);
    if (values_.EingabeTyp != 0) {
        if (UpdateData(true)) accept();
        return;
    }
    MessageBoxes().ShowMessage(res::LoadString(res::IDS_NO_INPUT_TYPE));
}

}  // namespace qx
