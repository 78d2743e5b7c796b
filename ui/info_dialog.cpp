#include "ui/info_dialog.h"

#include <QAbstractButton>
#include <QLabel>

#include "res/icon.h"
#include "res/version.h"

namespace qx {

CInfoDialog::CInfoDialog(QWidget* parent, const std::string& programFile) : CTemplateDialog(res::IDD_INFO, parent) {
    setWindowIcon(QIcon(QPixmap(res::MainIconXpm())));
    if (auto* icon = ControlAs<QLabel>(res::kNoId)) {
        icon->setPixmap(QPixmap(res::MainIconXpm()));
        icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        icon->resize(std::max(icon->width(), 32), std::max(icon->height(), 32));
    }
    UpdateData(false);
    versionText_ = GetVersionString(programFile);
    UpdateData(false);
    connect(ControlAs<QAbstractButton>(res::kOkButton), &QAbstractButton::clicked, this, &QDialog::accept);
}

void CInfoDialog::DoDataExchange(DataExchange& dx) { dx.Text(res::kInfoVersion, versionText_); }

}  // namespace qx
