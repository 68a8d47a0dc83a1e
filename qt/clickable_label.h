// A label that reports clicks. A double-click counts as one click, since the
// second press of it arrives as a double-click event, which is not reported.
#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace kestrafin::qt {

class ClickableLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) pressed_ = true;
        QLabel::mousePressEvent(event);
    }
    // The second press of a double-click arrives here; it starts no click.
    void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool was_pressed = pressed_;
        pressed_ = false;
        QLabel::mouseReleaseEvent(event);
        if (was_pressed && event->button() == Qt::LeftButton &&
            rect().contains(event->position().toPoint()))
            emit clicked();
    }

  private:
    bool pressed_ = false;
};

}  // namespace kestrafin::qt
