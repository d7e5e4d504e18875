#pragma once

#include "window_port.h"

#include <functional>

class QWidget;

namespace fw::app {

// How the window puts a message in front of the operator; tests put a recorder here.
using MessagePresenter = std::function<void(QWidget *parent, const Message &message)>;

// A modal QMessageBox with the message's icon, title and text and one OK button.
void showMessageBox(QWidget *parent, const Message &message);

} // namespace fw::app
