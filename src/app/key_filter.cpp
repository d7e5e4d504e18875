#include "key_filter.h"

#include "numeric_validate.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace fw::app {

int keyAsciiOf(const QKeyEvent &event) {
    switch (event.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete: // some platforms give it the text DEL; it types nothing
        return kNoCharacter;
    default:
        break;
    }
    // Ctrl+letter types its control code, whatever text the platform attached to it.
    const Qt::KeyboardModifiers chord =
        event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (chord == Qt::ControlModifier && event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z)
        return event.key() - Qt::Key_A + 1;
    const QString text = event.text();
    if (!text.isEmpty())
        return text.at(0).unicode();
    return kNoCharacter;
}

TypedLengthLimit::TypedLengthLimit(int limit, QLineEdit &box)
    : QValidator(&box), box_(box), limit_(limit), before_(box.text().size()) {
    // Emitted after the validation of each change, so before_ is the length it started from.
    connect(&box, &QLineEdit::textChanged, this,
            [this](const QString &text) { before_ = text.size(); });
}

QValidator::State TypedLengthLimit::validate(QString &input, int &) const {
    if (input.size() <= limit_)
        return Acceptable;
    // Only the operator's edits leave something to undo: a text the program set is whole.
    const bool setByTheProgram = !box_.isUndoAvailable();
    return setByTheProgram || input.size() <= before_ ? Intermediate : Invalid;
}

void limitTypingOnly(QLineEdit &box) {
    constexpr int kUnlimited = 32767; // a line edit's own default
    box.setValidator(new TypedLengthLimit(box.maxLength(), box));
    box.setMaxLength(kUnlimited);
}

namespace {
// A box refuses an edit that breaks its validator only when its text kept to it before,
// so a restored text longer than the limit would otherwise grow with every key.
bool noRoomFor(const QObject *watched, int code) {
    const auto *box = qobject_cast<const QLineEdit *>(watched);
    const auto *limit = box ? dynamic_cast<const TypedLengthLimit *>(box->validator()) : nullptr;
    return limit && code >= ' ' &&
           box->text().size() - box->selectedText().size() >= limit->limit();
}
} // namespace

bool NumericKeyFilter::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        const int code = keyAsciiOf(*static_cast<QKeyEvent *>(event));
        if (code != kNoCharacter &&
            (NumericValidate(static_cast<int16_t>(code), false, false) == 0 ||
             noRoomFor(watched, code)))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace fw::app
