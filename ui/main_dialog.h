#pragma once

#include <QDialog>

namespace qx {

class CMainDialog : public QDialog {
    Q_OBJECT
public:
    explicit CMainDialog(QWidget* parent = nullptr);
};

}  // namespace qx
