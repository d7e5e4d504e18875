#pragma once

#include "window_port.h"

#include <QObject>
#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace fw::app {

// How the window puts a message in front of the operator and learns which button dismissed
// it; tests put a recorder here.
using MessagePresenter = std::function<MessageButton(QWidget *parent, const Message &message)>;

// A QMessageBox with the message's icon, title and text, an OK button and the message's
// second button when it names one; returns, once it is dismissed, the button that did (OK
// for Escape and the window manager's close). Without a parent it is modal to the whole program.
// With one it takes the parent's input as a modal box would, but the parent still hears the window
// manager's close (Qt drops a close sent to a window that a modal box blocks): a window that cannot
// close now remembers it instead of losing it.
MessageButton showMessageBox(QWidget *parent, const Message &message);

// For a program that is ending: every box showMessageBox has open is closed as its OK would
// close it, and from now on it shows none and answers OK at once.
void endMessageBoxes();

// The box showMessageBox shows, wide enough for its whole title as the window manager
// draws it (see titleBarButtonsWidth).
std::unique_ptr<QMessageBox> messageBoxFor(QWidget *parent, const Message &message);

// Room that a title bar takes beside its title: the window icon and up to three buttons,
// each about as wide as the bar is high. Qt does not know the window manager's title
// font either; the box allows for one a fifth larger than its own, in bold.
int titleBarButtonsWidth(const QWidget &box);

// Eats the input meant for one window, as Qt does for a window that a modal box blocks.
class InputDiscarder final : public QObject {
public:
    explicit InputDiscarder(const QWidget &window);
    ~InputDiscarder() override;
    InputDiscarder(const InputDiscarder &) = delete;
    InputDiscarder &operator=(const InputDiscarder &) = delete;

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override;

private:
    const QWidget &window_;
};

} // namespace fw::app
