#pragma once

#include "saved_entries.h"

#include <QString>
#include <map>
#include <optional>

namespace fw::testing {

// A settings store in memory.
class MapStore : public app::SettingsStore {
public:
    std::map<QString, QString> values;
    bool flushSucceeds = true;
    int flushes = 0;
    std::optional<QString> unreadableReason; // what unreadable() answers

    std::optional<QString> read(const QString &key) const override {
        const auto found = values.find(key);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    }
    void write(const QString &key, const QString &text) override { values[key] = text; }
    app::FlushResult flush() override {
        ++flushes;
        if (flushSucceeds)
            return {};
        return app::FlushResult::failed(QStringLiteral("the disk is full"));
    }
    QString location() const override { return QStringLiteral("/config/fleetwright.conf"); }
    std::optional<QString> unreadable() const override { return unreadableReason; }
};

} // namespace fw::testing
