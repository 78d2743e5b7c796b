// The up-down control beside a number field.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace qx {

// Two small arrow buttons that step the number in their partner edit. The range may run downwards
// (lower > upper): then the up arrow lowers the number. The default range is 100..0.
class CUpDown : public QWidget {
    Q_OBJECT
public:
    CUpDown(QWidget* parent, QLineEdit* buddy, bool arrowKeys);
    void SetRange(int lower, int upper);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    QLineEdit* Buddy() const { return buddy_; }
    // One step as the up (+1) or down (-1) arrow makes it.
    void Step(int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int lower_ = 100;
    int upper_ = 0;
    int position_ = 0;
};

}  // namespace qx
