#include "ui/advanced_dialog.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QToolTip>

#include "engine/compress.h"
#include "settings/settings.h"
#include "ui/tooltips.h"

namespace qx {

CAdvancedDialog::CAdvancedDialog(ProfileStore& store, QWidget* parent)
    : CTemplateDialog(res::IDD_ADVANCED, parent), store_(store) {
    // Each option explains itself in a tooltip numbered like its control. The texts about the size limit name
    // the formats it applies to (%1) and those it leaves alone (%2) as the codec table has them.
    const std::vector<std::string> formats = {OutputFormatsInWords(true, "-"), OutputFormatsInWords(false)};
    for (const Created& control : Controls()) {
        const std::string tip = res::FormatNumbered(ToolTipText(control.row->id), formats);
        if (!tip.empty()) control.widget->setToolTip(WrapToolTip(tip, QFontMetrics(QToolTip::font())));
        if (control.row->id == res::kAdvancedMaxKBNote) {
            if (auto* note = qobject_cast<QLabel*>(control.widget))
                note->setText(QString::fromUtf8(res::FormatNumbered(control.row->text, formats)));
        }
    }
    OnClicked(res::kAdvancedKeepMetadata, &CAdvancedDialog::UpdateControls);
    OnClicked(res::kAdvancedMaxKBOn, &CAdvancedDialog::UpdateControls);
    OnClicked(res::kOkButton, &CAdvancedDialog::OnOK);
    OnClicked(res::kCancelButton, &CAdvancedDialog::reject);

    values_ = settings::ReadAdvancedSettings(store_);
    UpdateData(false);
    UpdateControls();
    if (QWidget* first = Control(res::kAdvancedKeepMetadata)) first->setFocus(Qt::OtherFocusReason);
}

void CAdvancedDialog::DoDataExchange(DataExchange& dx) {
    dx.Exchange({res::kAdvancedKeepMetadata, settings::kMetadatenUebernehmen}, values_);
    dx.Exchange({res::kAdvancedDropGps, settings::kGpsEntfernen}, values_);
    dx.Exchange({res::kAdvancedOnlySmaller, settings::kNurWennKleiner}, values_);
    dx.Exchange({res::kAdvancedMaxKBOn, settings::kMaxKBAktiv}, values_);
    // A greyed limit is not in use and cannot be reached to correct it: it keeps its value unchecked.
    const QWidget* limit = Control(res::kAdvancedMaxKB);
    if (!dx.Saving() || (limit != nullptr && limit->isEnabled()))
        dx.Exchange({res::kAdvancedMaxKB, settings::kMaxKB}, values_);
    dx.Exchange({res::kAdvancedKeepDate, settings::kDatumUebernehmen}, values_);
    // The check boxes of the further input types, by their bits in WeitereEingabeTypen.
    dx.CheckBit(res::kAdvancedAcceptHeic, values_.WeitereEingabeTypen, 0);
    dx.CheckBit(res::kAdvancedAcceptWebp, values_.WeitereEingabeTypen, 1);
    dx.CheckBit(res::kAdvancedAcceptAvif, values_.WeitereEingabeTypen, 2);
    dx.CheckBit(res::kAdvancedAcceptJxl, values_.WeitereEingabeTypen, 3);
    dx.Exchange({res::kAdvancedAutoQualityOff, settings::kAutoQualitaet}, values_);
    dx.Exchange({res::kAdvancedKeepTree, settings::kOrdnerstrukturBeibehalten}, values_);
    dx.Exchange({res::kAdvancedSkipExisting, settings::kVorhandeneUeberspringen}, values_);
    dx.Exchange({res::kAdvancedSkipOwnOutputs, settings::kEigeneAusgabenUeberspringen}, values_);
    dx.Exchange({res::kAdvancedJpegLossless, settings::kJpegVerlustfreiUmpacken}, values_);
    dx.Exchange({res::kAdvancedJpegBaseline, settings::kJpegBaseline}, values_);
}

void CAdvancedDialog::UpdateControls() {
    auto checked = [this](int id) {
        auto* box = ControlAs<QAbstractButton>(id);
        return box != nullptr && box->isChecked();
    };
    if (QWidget* gps = Control(res::kAdvancedDropGps)) gps->setEnabled(checked(res::kAdvancedKeepMetadata));
    if (QWidget* size = Control(res::kAdvancedMaxKB)) size->setEnabled(checked(res::kAdvancedMaxKBOn));
}

void CAdvancedDialog::OnOK() {
    if (!UpdateData(true)) return;
    settings::WriteAdvancedSettings(store_, values_);
    accept();
}

}  // namespace qx
