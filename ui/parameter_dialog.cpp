#include "ui/parameter_dialog.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

#include "engine/batch.h"
#include "res/strings.h"
#include "settings/settings.h"

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
    auto clicked = [this](int id, void (CParameterDialog::*handler)()) {
        if (auto* button = ControlAs<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    auto changed = [this](int id) {
        if (auto* edit = ControlAs<QLineEdit>(id))
            connect(edit, &QLineEdit::textChanged, this, [this] {
                if (!Exchanging()) UpdateExample();
            });
    };
    clicked(res::kParameterNamesByPattern, &CParameterDialog::UpdateNamingControls);
    changed(res::kParameterPrefix);
    clicked(res::kParameterNamesLikeSource, &CParameterDialog::UpdateNamingControls);
    changed(res::kParameterNumber);
    changed(res::kParameterDigits);
    clicked(res::kParameterOutputBmp, &CParameterDialog::OnOutputTypeChanged);
    clicked(res::kParameterOutputJpg, &CParameterDialog::OnOutputTypeChanged);
    clicked(res::kParameterOutputPng, &CParameterDialog::OnOutputTypeChanged);
    clicked(res::kParameterOutputWebp, &CParameterDialog::OnOutputTypeChanged);
    clicked(res::kParameterOutputAvif, &CParameterDialog::OnOutputTypeChanged);
    clicked(res::kOkButton, &CParameterDialog::OnOK);
    clicked(res::kCancelButton, &CParameterDialog::reject);
    OnInitDialog();
}

void CParameterDialog::DoDataExchange(DataExchange& dx) {
    dx.Radio(res::kParameterNamesLikeSource, AusgabeDateiTyp);
    using settings::Key;
    dx.Number(res::kParameterDigits, Stellen, Key(settings::kStellen).lower, Key(settings::kStellen).upper);
    dx.Number(res::kParameterNumber, LfdNr, Key(settings::kLfdNr).lower, Key(settings::kLfdNr).upper);
    dx.Text(res::kParameterPrefix, Prefix);
    dx.Check(res::kParameterAcceptBmp, AcceptBmp);
    dx.Check(res::kParameterAcceptJpg, AcceptJpg);
    dx.Check(res::kParameterAcceptPng, AcceptPng);
    dx.Radio(res::kParameterOutputJpg, AusgabeTyp);
    dx.Number(res::kParameterThreads, ThreadAnzahl, Key(settings::kThreadAnzahl).lower,
              Key(settings::kThreadAnzahl).upper);
}

void CParameterDialog::OnInitDialog() {
    UpdateData(false);
    const ParameterSettings stored = settings::ReadParameterSettings(store_);
    AusgabeDateiTyp = stored.AusgabeDateiTyp;
    Prefix = stored.Prefix;
    LfdNr = uint32_t(stored.LfdNr);
    Stellen = uint32_t(stored.Stellen);
    const InputTypeFlags accepted = settings::UnpackEingabeTyp(stored.EingabeTyp);
    AcceptBmp = accepted.Has(0);
    AcceptJpg = accepted.Has(1);
    AcceptPng = accepted.Has(2);
    AusgabeTyp = stored.AusgabeTyp;
    ThreadAnzahl = uint32_t(stored.ThreadAnzahl);
    numberSpin_->SetRange(1, 9999);
    digitsSpin_->SetRange(1, 4);
    UpdateData(false);
    UpdateNamingControls();
    if (QWidget* first = Control(res::kParameterAcceptJpg)) first->setFocus(Qt::OtherFocusReason);
}

void CParameterDialog::UpdateNamingControls() {
    if (!UpdateData(true)) return;
    const bool pattern = AusgabeDateiTyp == 1;
    for (int id : {res::kParameterPrefix, res::kParameterNumber, res::kParameterDigits})
        Control(id)->setEnabled(pattern);
    UpdateExample();
}

void CParameterDialog::UpdateExample() {
    auto* example = ControlAs<QLabel>(res::kParameterExample);
    if (!example) return;
    std::string text;
    if (UpdateData(true) && AusgabeDateiTyp == 1) {
        const OutputFormat* format = FindOutputFormat(AusgabeTyp);
        ParameterSettings naming;
        naming.AusgabeDateiTyp = kNamingPattern;
        naming.Prefix = Prefix;
        naming.LfdNr = int32_t(LfdNr);
        naming.Stellen = int32_t(Stellen);
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
    const int mask = (AcceptBmp ? 1 : 0) + (AcceptJpg ? 2 : 0) + (AcceptPng ? 4 : 0);
    ParameterSettings values;
    values.AusgabeDateiTyp = AusgabeDateiTyp;
    values.Prefix = Prefix;
    values.LfdNr = int32_t(LfdNr);
    values.Stellen = int32_t(Stellen);
    values.EingabeTyp = mask;
    values.AusgabeTyp = AusgabeTyp;
    values.ThreadAnzahl = int32_t(ThreadAnzahl);
    settings::WriteParameterSettings(store_, values);
    if (mask != 0) {
        if (UpdateData(true)) accept();
        return;
    }
    MessageBoxes().ShowMessage(res::LoadString(res::IDS_NO_INPUT_TYPE));
}

}  // namespace qx
