// While alive, swallows every user input event of the application, so that a
// handler can let the window repaint without acting on clicks or keys.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace kestrafin::app {

class InputBlocker : public QObject {
  public:
    InputBlocker() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
            case QEvent::Close:
                return true;
            default:
                return QObject::eventFilter(watched, event);
        }
    }
};

}  // namespace kestrafin::app
