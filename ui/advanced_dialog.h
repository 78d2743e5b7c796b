// The "Erweiterte Einstellungen" dialog: metadata, size limits and the modification time of outputs.
#pragma once

#include <cstdint>

#include "settings/profile_store.h"
#include "ui/dialog_layer.h"

namespace qx {

class CAdvancedDialog : public CTemplateDialog {
    Q_OBJECT
public:
    explicit CAdvancedDialog(ProfileStore& store, QWidget* parent = nullptr);

    // The GPS choice counts only with metadata kept, the size field only with its check box.
    void UpdateControls();
    void OnOK();

    int32_t MetadatenUebernehmen = 0;
    int32_t GpsEntfernen = 0;
    int32_t NurWennKleiner = 0;
    int32_t MaxKBAktiv = 0;
    uint32_t MaxKB = 0;
    int32_t DatumUebernehmen = 0;

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    ProfileStore& store_;
};

}  // namespace qx
