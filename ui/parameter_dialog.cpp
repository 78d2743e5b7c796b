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
    digitsSpin_ = ControlAs<CUpDown>(1022);
    numberSpin_ = ControlAs<CUpDown>(1021);
    if (auto* example = ControlAs<QLabel>(1023)) {
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
    clicked(1017, &CParameterDialog::UpdateNamingControls);
    changed(1018);
    clicked(1016, &CParameterDialog::UpdateNamingControls);
    changed(1020);
    changed(1019);
    clicked(1025, &CParameterDialog::OnOutputTypeChanged);
    clicked(1024, &CParameterDialog::OnOutputTypeChanged);
    clicked(1026, &CParameterDialog::OnOutputTypeChanged);
    clicked(1040, &CParameterDialog::OnOutputTypeChanged);  // "WebP (mit Kompression)"
    clicked(1041, &CParameterDialog::OnOutputTypeChanged);  // "AVIF (mit Kompression)"
    clicked(1, &CParameterDialog::OnOK);
    clicked(2, &CParameterDialog::reject);
    OnInitDialog();
}

void CParameterDialog::DoDataExchange(DataExchange& dx) {
    dx.Radio(1016, AusgabeDateiTyp);
    using settings::Key;
    dx.Number(1019, Stellen, Key(settings::kStellen).lower, Key(settings::kStellen).upper);
    dx.Number(1020, LfdNr, Key(settings::kLfdNr).lower, Key(settings::kLfdNr).upper);
    dx.Text(1018, Prefix);
    dx.Check(1028, AcceptBmp);
    dx.Check(1027, AcceptJpg);
    dx.Check(1030, AcceptPng);
    dx.Radio(1024, AusgabeTyp);
    dx.Number(1034, ThreadAnzahl, Key(settings::kThreadAnzahl).lower, Key(settings::kThreadAnzahl).upper);
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
    if (QWidget* first = Control(1027)) first->setFocus(Qt::OtherFocusReason);
}

void CParameterDialog::UpdateNamingControls() {
    if (!UpdateData(true)) return;
    const bool pattern = AusgabeDateiTyp == 1;
    for (int id : {1018, 1020, 1019}) Control(id)->setEnabled(pattern);
    UpdateExample();
}

void CParameterDialog::UpdateExample() {
    auto* example = ControlAs<QLabel>(1023);
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
    auto* example = ControlAs<QLabel>(1023);
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
