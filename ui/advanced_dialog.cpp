#include "ui/advanced_dialog.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QToolTip>

#include "settings/settings.h"
#include "ui/tooltips.h"

namespace qx {

CAdvancedDialog::CAdvancedDialog(ProfileStore& store, QWidget* parent)
    : CTemplateDialog(res::IDD_ADVANCED, parent), store_(store) {
    // Each option explains itself in a tooltip numbered like its control.
    for (const Created& control : Controls()) {
        const std::string tip = ToolTipText(control.row->id);
        if (!tip.empty()) control.widget->setToolTip(WrapToolTip(tip, QFontMetrics(QToolTip::font())));
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
    dx.Exchange({res::kAdvancedJpegLossless, settings::kJpegVerlustfreiUmpacken}, values_);
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
