#pragma once

#include <QComboBox>

namespace fw::app {

// A drop-down list that assistive tools know by its accessible name. On Linux Qt names
// an editable list after its current text, which would hide "Radio channel" behind "5".
class NamedList : public QComboBox {
    Q_OBJECT
public:
    explicit NamedList(QWidget *parent = nullptr);
};

} // namespace fw::app
