#pragma once

#include <QComboBox>

namespace fw::app {

// A drop-down list that assistive tools know by its accessible name. On Linux Qt names
// an editable list after its current text, which would hide "Radio channel" behind "5".
class NamedList : public QComboBox {
    Q_OBJECT
public:
    explicit NamedList(QWidget *parent = nullptr);

    // Makes an editable list take typed text only while it is the start of one of its
    // entries (in any case), select the entry it completes to at once, and complete an
    // entry cut short when the editing ends: the list never holds typed text that matches
    // no entry. Text the program sets is left as it is.
    void acceptOnlyEntries();

private:
    // The first entry that text starts, in any case; -1 when none does.
    int entryStartedBy(const QString &text) const;
    void takeTypedText(const QString &text);
    void completeEntry();

    QString shown_; // the edit field's text, until textChanged tells of the edit
};

} // namespace fw::app
