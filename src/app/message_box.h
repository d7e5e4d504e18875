#pragma once

#include "window_port.h"

#include <functional>
#include <memory>

class QMessageBox;
class QWidget;

namespace fw::app {

// How the window puts a message in front of the operator; tests put a recorder here.
using MessagePresenter = std::function<void(QWidget *parent, const Message &message)>;

// A modal QMessageBox with the message's icon, title and text and one OK button.
void showMessageBox(QWidget *parent, const Message &message);

// The box showMessageBox shows, wide enough for its whole title as the window manager
// draws it (see titleBarButtonsWidth).
std::unique_ptr<QMessageBox> messageBoxFor(QWidget *parent, const Message &message);

// Room that a title bar takes beside its title: the window icon and up to three buttons,
// each about as wide as the bar is high. Qt does not know the window manager's title
// font either; the box allows for one a fifth larger than its own, in bold.
int titleBarButtonsWidth(const QWidget &box);

} // namespace fw::app
