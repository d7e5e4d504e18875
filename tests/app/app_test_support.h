#pragma once

#include "saved_entries.h"
#include "support/map_store.h"
#include "window_port.h"

#include <QString>
#include <QWidget>
#include <ostream>
#include <stdexcept>
#include <string>

inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}

namespace fw::app {

// The window's control of that name. A missing one ends the test with its name, where a
// null pointer would end the whole test program.
template <typename W = QWidget> W &control(const QWidget &window, const char *name) {
    W *found = window.findChild<W *>(QLatin1String(name));
    if (!found)
        throw std::runtime_error(std::string("no control ") + name);
    return *found;
}

namespace testing {
using fw::testing::MapStore;
} // namespace testing

} // namespace fw::app
