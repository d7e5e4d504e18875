#pragma once

#include "parameter_rules.h"
#include "window_port.h"

#include <optional>
#include <string>

namespace fw {

// Read stands for a Read, which reads on either tab.
enum class UpdateTab { General, Acquisition, Read };

// One update that got past the entry check, or one Read, as it ended.
struct UpdateReport {
    std::string moduleId; // as the status label shows it; empty when no module paired
    std::string model;    // as the update holds it at its end; empty when not read this time
    UpdateTab tab = UpdateTab::General;
    bool channelKept = false;      // the module's radio settings were left as they are
    int channel = 0;               // otherwise the channel the base station was set to; 0 none
    StagedParameters written;      // each value the module accepted; empty where none was written
    bool complete = false;         // "Update Complete", or a Read that showed the module's settings
    Message message;               // the message the update ends with
    bool verified = false;         // the values written were read back and found as written
    StagedParameters readValues{}; // a Read's values as the module gave them; empty where none

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
