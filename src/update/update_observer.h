#pragma once

#include "parameter_rules.h"
#include "window_port.h"

#include <optional>
#include <string>

namespace fw {

enum class UpdateTab { General, Acquisition };

// One update that got past the entry check, as it ended.
struct UpdateReport {
    std::string moduleId; // as the status label shows it; empty when no module paired
    std::string model;    // as the update holds it at its end; empty when not read this time
    UpdateTab tab = UpdateTab::General;
    bool channelKept = false; // the module's radio settings were left as they are
    int channel = 0;          // otherwise the channel the base station was set to; 0 none
    StagedParameters written; // each value the module accepted; empty where none was written
    bool complete = false;
    Message message; // the message the update ends with

    friend bool operator==(const UpdateReport &, const UpdateReport &) = default;
};

// Watches updates without taking part in them.
class UpdateObserver {
public:
    virtual ~UpdateObserver() = default;
    // Called once per update past the entry check, just before its final message is shown.
    // A returned notice is shown once the operator has dismissed that message.
    virtual std::optional<Message> updateEnding(const UpdateReport &report) = 0;
};

} // namespace fw
