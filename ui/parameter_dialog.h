// The "Parameter" dialog: input types, output type, output naming with a live example, thread count.
#pragma once

#include <cstdint>
#include <string>

#include "settings/profile_store.h"
#include "ui/template_dialog.h"
#include "ui/up_down.h"

namespace qx {

inline constexpr uint32_t kExampleColor = 0x00C80000;  // blue 200

class CParameterDialog : public CTemplateDialog {
    Q_OBJECT
public:
    explicit CParameterDialog(ProfileStore& store, QWidget* parent = nullptr);

    CUpDown* DigitsSpin() const { return digitsSpin_; }
    CUpDown* NumberSpin() const { return numberSpin_; }
    QString ExampleText() const;

    void UpdateNamingControls();
    void UpdateExample();
    void OnOutputTypeChanged();
    void OnOK();

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    void OnInitDialog();
    ProfileStore& store_;
    CUpDown* digitsSpin_ = nullptr;
    CUpDown* numberSpin_ = nullptr;
    ParameterSettings values_;
};

}  // namespace qx
