#include "qt/input_gate.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeyEvent>

namespace kestrafin::qt {

InputGate::~InputGate() {
    if (closed_) {
        QCoreApplication::instance()->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }
}

void InputGate::close(bool escape_passes) {
    escape_passes_ = escape_passes;
    if (closed_) return;
    closed_ = true;
    QCoreApplication::instance()->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void InputGate::open() {
    if (!closed_) return;
    escape_passes_ = false;
    // Input that came while the results were put in place is dropped now,
    // rather than acted on once the window is free.
    QCoreApplication::processEvents();
    QCoreApplication::instance()->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
    closed_ = false;
}

bool InputGate::eventFilter(QObject* watched, QEvent* event) {
    const bool is_escape = event->type() == QEvent::KeyPress &&
                           static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    if (escape_passes_ && !is_escape && passes_ && passes_(watched, event))
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
            if (escape_passes_ && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                on_escape_();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            // A close request passes: the window ends the work and the program.
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace kestrafin::qt
