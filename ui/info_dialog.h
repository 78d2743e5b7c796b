// The info box: icon, product name and the program file's version.
#pragma once

#include <string>

#include "ui/template_dialog.h"

namespace qx {

class CInfoDialog : public CTemplateDialog {
    Q_OBJECT
public:
    // `programFile`: whose version record is shown; empty for the running program.
    explicit CInfoDialog(QWidget* parent = nullptr, const std::string& programFile = {});
    const std::string& VersionText() const { return versionText_; }

protected:
    void DoDataExchange(DataExchange& dx) override;

private:
    std::string versionText_;
};

}  // namespace qx
