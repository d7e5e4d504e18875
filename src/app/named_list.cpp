#include "named_list.h"

#include <QAccessibleWidget>
#include <QLineEdit>
#include <algorithm>

namespace fw::app {

namespace {

class NamedListAccessible : public QAccessibleWidget {
public:
    explicit NamedListAccessible(QComboBox *list)
        : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text type) const override {
        const auto *list = static_cast<const QComboBox *>(widget());
        if (type == QAccessible::Name)
            return list->accessibleName();
        if (type == QAccessible::Value)
            return list->currentText();
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface *namedListFactory(const QString &className, QObject *object) {
    if (className == QLatin1String(NamedList::staticMetaObject.className()) && object)
        return new NamedListAccessible(static_cast<NamedList *>(object));
    return nullptr;
}

} // namespace

NamedList::NamedList(QWidget *parent) : QComboBox(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(namedListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void NamedList::acceptOnlyEntries() {
    // Qt's own completion would fight ours over the same keys.
    setCompleter(nullptr);
    shown_ = currentText();
    // Qt tells of an edit by textEdited before textChanged, and after a change made during
    // textEdited it still sends textChanged with the text it had before: so the text is
    // taken from the field itself.
    connect(lineEdit(), &QLineEdit::textChanged, this, [this] { shown_ = lineEdit()->text(); });
    connect(lineEdit(), &QLineEdit::textEdited, this, &NamedList::takeTypedText);
    connect(lineEdit(), &QLineEdit::editingFinished, this, &NamedList::completeEntry);
}

int NamedList::entryStartedBy(const QString &text) const {
    for (int index = 0; index < count(); ++index)
        if (itemText(index).startsWith(text, Qt::CaseInsensitive))
            return index;
    return -1;
}

void NamedList::takeTypedText(const QString &text) {
    if (text.isEmpty())
        return;
    const QString before = shown_;
    QLineEdit &edit = *lineEdit();
    const int index = entryStartedBy(text);
    if (index < 0) {
        // Whatever made it (a key, a paste, a drop), the edit is taken back whole.
        const int cursor = std::min(edit.cursorPosition(), int(before.size()));
        edit.setText(before);
        edit.setCursorPosition(cursor);
        return;
    }
    // Deleting keeps what is left, so that Backspace is not undone by the completion;
    // the editing's end completes it.
    const bool deleting =
        text.size() < before.size() && before.startsWith(text, Qt::CaseInsensitive);
    if (deleting)
        return;
    const int typed = int(text.size());
    setCurrentIndex(index);
    setEditText(itemText(index));
    edit.setSelection(int(itemText(index).size()), typed - int(itemText(index).size()));
}

void NamedList::completeEntry() {
    const QString text = currentText();
    if (text.isEmpty() || (currentIndex() >= 0 && text == itemText(currentIndex())))
        return;
    const int index = entryStartedBy(text);
    if (index < 0)
        return; // text the program set, such as the design-time caption
    setCurrentIndex(index);
    setEditText(itemText(index));
}

} // namespace fw::app
