#include "ui/up_down.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

#include "settings/settings.h"

namespace qx {

CUpDown::CUpDown(QWidget* parent, QLineEdit* buddy, bool arrowKeys) : QWidget(parent), buddy_(buddy) {
    setFocusPolicy(Qt::NoFocus);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    for (QToolButton* button : {up_, down_}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
        button->setIconSize(QSize(6, 6));
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
    if (buddy_ && arrowKeys) buddy_->installEventFilter(this);
}

void CUpDown::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
}

void CUpDown::Step(int direction) {
    const int low = std::min(lower_, upper_), high = std::max(lower_, upper_);
    if (buddy_) {
        uint32_t typed = 0;
        if (settings::ParseUnsignedDecimal(buddy_->text().toStdString(), typed) == settings::ParseResult::Ok &&
            typed <= uint32_t(high) && int(typed) >= low)
            position_ = int(typed);
    }
    position_ = std::clamp(position_, low, high);
    const int step = upper_ >= lower_ ? direction : -direction;
    const int next = position_ + step;
    if (next < low || next > high) return;  // no wrapping at the limits
    position_ = next;
    if (buddy_) buddy_->setText(QString::number(position_));
}

bool CUpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress && isEnabled()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CUpDown::resizeEvent(QResizeEvent*) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
}

}  // namespace qx
