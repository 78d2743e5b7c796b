// The "Parameter" dialog: input types, output type, output naming with a live example, thread count.
#pragma once

#include <cstdint>
#include <string>

#include "settings/profile_store.h"
#include "ui/dialog_layer.h"

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

    int32_t AusgabeDateiTyp = -1;
    uint32_t Stellen = 0;
    uint32_t LfdNr = 0;
    std::string Prefix;
    int32_t AcceptBmp = 0;
    int32_t AcceptJpg = 0;
    int32_t AcceptPng = 0;
    int32_t AusgabeTyp = -1;
    uint32_t ThreadAnzahl = 0;

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    void OnInitDialog();
    ProfileStore& store_;
    CUpDown* digitsSpin_ = nullptr;
    CUpDown* numberSpin_ = nullptr;
};

}  // namespace qx
