#pragma once

#include "parameter_rules.h"
#include "window_port.h"

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace fw {
inline std::ostream &operator<<(std::ostream &out, const Message &m) {
    static const char *const icons[] = {"None", "Information", "Warning", "Critical"};
    return out << "Message{text=\"" << m.text << "\", title=\"" << m.title
               << "\", icon=" << icons[static_cast<int>(m.icon)] << "}";
}
} // namespace fw

namespace fw::testing {

// A window without widgets: its entries are one plain struct, and every visible effect is
// appended to `events` as one line, so a test can check the whole order of what the
// operator saw ("status:Waiting...", "pointer:busy", "message:...", "pause:500").
class RecordingWindow : public WindowPort {
public:
    Entries form;

    std::string status = "Ready";
    bool busy = false;
    std::vector<Message> messages;
    std::vector<std::string> events;
    std::function<void()> onProcessEvents; // what a queued event does, if anything

    Entries entries() const override { return form; }

    void setStatus(const std::string &text) override {
        status = text;
        events.push_back("status:" + text);
    }
    void setBusyPointer() override {
        busy = true;
        events.emplace_back("pointer:busy");
    }
    void setDefaultPointer() override {
        busy = false;
        events.emplace_back("pointer:default");
    }
    MessageButton answer = MessageButton::Ok; // how the operator dismisses a box
    MessageButton showMessage(const Message &message) override {
        messages.push_back(message);
        events.push_back("message:" + message.title);
        return message.secondButton.empty() ? MessageButton::Ok : answer;
    }
    void processEvents() override {
        events.emplace_back("events");
        if (onProcessEvents)
            onProcessEvents();
    }
    void pause(std::chrono::milliseconds duration) override {
        events.push_back("pause:" + std::to_string(duration.count()));
    }

    // The aids beside the update's own steps, apart from events so that the order of
    // what the operator saw reads the same with or without them.
    std::vector<std::string> aids;
    std::vector<Entries> entriesSet;
    void setEntries(const Entries &entries) override { entriesSet.push_back(entries); }
    void entryRefused(EntryField field) override {
        aids.push_back("refused:" + std::to_string(static_cast<int>(field)));
    }
    void pairingStarted(std::chrono::seconds window) override {
        aids.push_back("pairing:" + std::to_string(window.count()));
    }
    void pairingEnded() override { aids.emplace_back("paired"); }

    // What a continuous run shows, apart again: the notes in order, "+" for a success and
    // "!" for a failure before their text, and the run's start and end.
    int guardDepth = 0;
    std::vector<std::string> notes;
    std::vector<std::string> runChanges;
    void guardEntries(bool guarded) override { guardDepth += guarded ? 1 : -1; }
    void runStarted() override { runChanges.emplace_back("started"); }
    void runEnded() override { runChanges.emplace_back("ended"); }
    void setNote(const std::string &text, NoteTone tone) override {
        static const char *const marks[] = {"", "+", "!"};
        notes.push_back(marks[static_cast<int>(tone)] + text);
    }
};

} // namespace fw::testing
