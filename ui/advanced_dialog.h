// The "Erweiterte Einstellungen" dialog: metadata, size limits, the modification time of outputs and the quality
// chosen per image.
#pragma once

#include "settings/profile_store.h"
#include "ui/template_dialog.h"

namespace qx {

class CAdvancedDialog : public CTemplateDialog {
    Q_OBJECT
public:
    explicit CAdvancedDialog(ProfileStore& store, QWidget* parent = nullptr);

    // The GPS choice counts only with metadata kept, the size field only with its check box.
    void UpdateControls();
    void OnOK();

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    ProfileStore& store_;
    AdvancedSettings values_;
};

}  // namespace qx
