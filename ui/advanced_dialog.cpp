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
    clicked(1040, &CAdvancedDialog::UpdateControls);
    clicked(1043, &CAdvancedDialog::UpdateControls);
    clicked(1, &CAdvancedDialog::OnOK);
    clicked(2, &CAdvancedDialog::reject);

    const AdvancedSettings stored = settings::ReadAdvancedSettings(store_);
    MetadatenUebernehmen = stored.MetadatenUebernehmen;
    GpsEntfernen = stored.GpsEntfernen;
    NurWennKleiner = stored.NurWennKleiner;
    MaxKBAktiv = stored.MaxKBAktiv;
    MaxKB = uint32_t(stored.MaxKB);
    DatumUebernehmen = stored.DatumUebernehmen;
    UpdateData(false);
    UpdateControls();
    if (QWidget* first = Control(1040)) first->setFocus(Qt::OtherFocusReason);
}

void CAdvancedDialog::DoDataExchange(DataExchange& dx) {
    using settings::Key;
    dx.Check(1040, MetadatenUebernehmen);
    dx.Check(1041, GpsEntfernen);
    dx.Check(1042, NurWennKleiner);
    dx.Check(1043, MaxKBAktiv);
    // A greyed limit is not in use and cannot be reached to correct it: it keeps its value unchecked.
    const QWidget* limit = Control(1044);
    if (!dx.Saving() || (limit != nullptr && limit->isEnabled()))
        dx.Number(1044, MaxKB, uint32_t(Key(settings::kMaxKB).lower), uint32_t(Key(settings::kMaxKB).upper));
    dx.Check(1045, DatumUebernehmen);
}

void CAdvancedDialog::UpdateControls() {
    auto checked = [this](int id) {
        auto* box = ControlAs<QAbstractButton>(id);
        return box != nullptr && box->isChecked();
    };
    if (QWidget* gps = Control(1041)) gps->setEnabled(checked(1040));
    if (QWidget* size = Control(1044)) size->setEnabled(checked(1043));
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
