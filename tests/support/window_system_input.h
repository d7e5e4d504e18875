#pragma once

// Input as the window system delivers it: queued for the event loop, not sent at once as
// QTest does, so a test sees what a blocked or busy window does with it.

#include <QPoint>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace fw::testing {

using Queued = QWindowSystemInterface::AsynchronousDelivery;

inline void queueKeyPress(QWidget &window, Qt::Key key, const QString &text) {
    QWindowSystemInterface::handleKeyEvent<Queued>(window.windowHandle(), QEvent::KeyPress, key,
                                                   Qt::NoModifier, text);
    QWindowSystemInterface::handleKeyEvent<Queued>(window.windowHandle(), QEvent::KeyRelease, key,
                                                   Qt::NoModifier, text);
}

// A left click in the middle of target, a control of window.
inline void queueClick(QWidget &window, const QWidget &target) {
    const QPoint local = target.mapTo(&window, target.rect().center());
    const QPoint global = window.mapToGlobal(local);
    QWindowSystemInterface::handleMouseEvent<Queued>(window.windowHandle(), local, global,
                                                     Qt::LeftButton, Qt::LeftButton,
                                                     QEvent::MouseButtonPress);
    QWindowSystemInterface::handleMouseEvent<Queued>(window.windowHandle(), local, global,
                                                     Qt::NoButton, Qt::LeftButton,
                                                     QEvent::MouseButtonRelease);
}

// The window manager's close (WM_DELETE_WINDOW): safe to call from any thread.
inline void queueClose(QWindow *window) {
    QWindowSystemInterface::handleCloseEvent<Queued>(window);
}

} // namespace fw::testing
