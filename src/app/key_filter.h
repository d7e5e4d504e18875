#pragma once

#include <QObject>
#include <QValidator>

class QKeyEvent;
class QLineEdit;

namespace fw::app {

// The character code a key press types, or kNoCharacter for keys that only move or edit
// (arrows, Delete, Home, End, Tab), which the number boxes handle as usual.
inline constexpr int kNoCharacter = -1;
int keyAsciiOf(const QKeyEvent &event);

// Holds what the operator types, pastes or drops into a box to a number of characters.
// The box's own maximum length would also cut a text the program sets, such as a restored
// entry, into a value the operator never entered; a box undoes only the operator's edits
// that its validator refuses, so this limit leaves such a text whole.
//
// A box also refuses an edit only while its text kept to its validator before; so that a
// paste into a restored text that is already too long is refused too, such a text counts
// as Intermediate, and so does any edit that does not lengthen it.
class TypedLengthLimit : public QValidator {
public:
    TypedLengthLimit(int limit, QLineEdit &box);
    State validate(QString &input, int &position) const override;
    int limit() const { return limit_; }

private:
    const QLineEdit &box_;
    int limit_;
    qsizetype before_ = 0; // the length of the box's text before the edit being validated
};

// Moves the box's maximum length, as the form gives it, into a TypedLengthLimit.
void limitTypingOnly(QLineEdit &box);

// Discards the key presses that NumericValidate refuses before the box sees them, and the
// characters that a box's TypedLengthLimit has no room for.
class NumericKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace fw::app
