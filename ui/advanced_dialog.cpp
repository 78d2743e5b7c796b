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
    auto clicked = [this](int id, void (CAdvancedDialog::*handler)()) {
        if (auto* button = ControlAs<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    clicked(res::kAdvancedKeepMetadata, &CAdvancedDialog::UpdateControls);
    clicked(res::kAdvancedMaxKBOn, &CAdvancedDialog::UpdateControls);
    clicked(res::kOkButton, &CAdvancedDialog::OnOK);
    clicked(res::kCancelButton, &CAdvancedDialog::reject);

    const AdvancedSettings stored = settings::ReadAdvancedSettings(store_);
    MetadatenUebernehmen = stored.MetadatenUebernehmen;
    GpsEntfernen = stored.GpsEntfernen;
    NurWennKleiner = stored.NurWennKleiner;
    MaxKBAktiv = stored.MaxKBAktiv;
    MaxKB = uint32_t(stored.MaxKB);
    DatumUebernehmen = stored.DatumUebernehmen;
    UpdateData(false);
    UpdateControls();
    if (QWidget* first = Control(res::kAdvancedKeepMetadata)) first->setFocus(Qt::OtherFocusReason);
}

void CAdvancedDialog::DoDataExchange(DataExchange& dx) {
    using settings::Key;
    dx.Check(res::kAdvancedKeepMetadata, MetadatenUebernehmen);
    dx.Check(res::kAdvancedDropGps, GpsEntfernen);
    dx.Check(res::kAdvancedOnlySmaller, NurWennKleiner);
    dx.Check(res::kAdvancedMaxKBOn, MaxKBAktiv);
    // A greyed limit is not in use and cannot be reached to correct it: it keeps its value unchecked.
    const QWidget* limit = Control(res::kAdvancedMaxKB);
    if (!dx.Saving() || (limit != nullptr && limit->isEnabled()))
        dx.Number(res::kAdvancedMaxKB, MaxKB, uint32_t(Key(settings::kMaxKB).lower),
                  uint32_t(Key(settings::kMaxKB).upper));
    dx.Check(res::kAdvancedKeepDate, DatumUebernehmen);
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
    AdvancedSettings values;
    values.MetadatenUebernehmen = MetadatenUebernehmen;
    values.GpsEntfernen = GpsEntfernen;
    values.NurWennKleiner = NurWennKleiner;
    values.MaxKBAktiv = MaxKBAktiv;
    values.MaxKB = int32_t(MaxKB);
    values.DatumUebernehmen = DatumUebernehmen;
    settings::WriteAdvancedSettings(store_, values);
    accept();
}

}  // namespace qx
