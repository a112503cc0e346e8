#include "ui/terminal_button.h"

#include <QMouseEvent>
#include <QPainter>

namespace qiv_start::ui {

TTerminalButton::TTerminalButton(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void TTerminalButton::set_picture(QImage picture) {
    picture_ = std::move(picture);
    update();
}

void TTerminalButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void TTerminalButton::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit entered();
}

void TTerminalButton::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit left();
}

void TTerminalButton::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

// A click is a release of the left button over the button that it was pressed on.
void TTerminalButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        emit clicked();
}

}  // namespace qiv_start::ui
