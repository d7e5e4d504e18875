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

    std::optional<QString> read(const QString &key) const override {
        const auto found = values.find(key);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    }
    void write(const QString &key, const QString &text) override { values[key] = text; }
    bool flush() override {
        ++flushes;
        return flushSucceeds;
    }
};

} // namespace fw::testing
