#include "ui/main_dialog.h"

namespace qx {

CMainDialog::CMainDialog(QWidget* parent) : QDialog(parent) { setWindowTitle("Quendrix"); }

}  // namespace qx
