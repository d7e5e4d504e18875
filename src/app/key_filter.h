#pragma once

#include <QObject>

class QKeyEvent;

namespace fw::app {

// The character code a key press types, or kNoCharacter for keys that only move or edit
// (arrows, Delete, Home, End, Tab), which the number boxes handle as usual.
inline constexpr int kNoCharacter = -1;
int keyAsciiOf(const QKeyEvent &event);

// Discards the key presses that NumericValidate refuses before the box sees them.
class NumericKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace fw::app
