#pragma once

#include "parameter_rules.h"
#include "window_port.h"

#include <optional>
#include <string>
#include <vector>

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

// Several observers as one: each hears of every update, in the order they were added, and
// the first notice one of them returns is the one shown.
class UpdateObservers final : public UpdateObserver {
public:
    // Nothing for null, so that an optional observer can be passed as it is.
    void add(UpdateObserver *observer) {
        if (observer)
            observers_.push_back(observer);
    }
    std::optional<Message> updateEnding(const UpdateReport &report) override {
        std::optional<Message> notice;
        for (UpdateObserver *observer : observers_)
            if (std::optional<Message> said = observer->updateEnding(report); said && !notice)
                notice = std::move(said);
        return notice;
    }

private:
    std::vector<UpdateObserver *> observers_;
};

} // namespace fw
