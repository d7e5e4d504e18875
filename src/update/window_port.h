#pragma once

#include "entries.h"

#include <chrono>
#include <string>

namespace fw {

enum class MessageIcon { None, Information, Warning, Critical };

// One modal message box with an OK button, and a second button when secondButton names one.
struct Message {
    std::string text;
    std::string title;
    MessageIcon icon = MessageIcon::None;
    std::string secondButton{};

    friend bool operator==(const Message &, const Message &) = default;
};

// The button that dismissed a message box: OK (also Escape or closing the box), or the
// second one.
enum class MessageButton { Ok, Second };

// How a note under the status label reads: plain, or an outcome in the colours of success
// and failure.
enum class NoteTone { Plain, Success, Failure };

// The three number boxes of the "Acquisition Modules" tab.
enum class EntryField { TxInterval, SampleTime, SleepDelay };

// The window as the update sees it: its entries, the status label, the mouse pointer,
// message boxes, pauses and event processing. MainFrm implements it over its widgets;
// tests replace it with a recorder.
class WindowPort {
public:
    virtual ~WindowPort() = default;

    // Everything the operator entered, read from the controls at once.
    virtual Entries entries() const = 0;

    // Sets the status label Found and repaints it at once.
    virtual void setStatus(const std::string &text) = 0;
    virtual void setBusyPointer() = 0;
    virtual void setDefaultPointer() = 0;
    // Shows a modal box and returns, once the operator dismissed it, the button that did.
    virtual MessageButton showMessage(const Message &message) = 0;
    // Runs the window's queued events once.
    virtual void processEvents() = 0;
    // Blocks for at least the given time without processing events.
    virtual void pause(std::chrono::milliseconds duration) = 0;

    // The update refused the entry of that box and the operator has dismissed the range
    // message: the box is the one to correct next.
    virtual void entryRefused(EntryField /*field*/) {}
    // Puts the four parameters of entries into the boxes and the low power list of the
    // "Acquisition Modules" tab; the other entries stay as the operator left them.
    virtual void setEntries(const Entries & /*entries*/) {}
    // The pairing call waits up to window for a module to wake; pairingEnded follows when
    // it has returned, whatever its outcome.
    virtual void pairingStarted(std::chrono::seconds /*window*/) {}
    virtual void pairingEnded() {}
    // The entries, the lists, the options and Defaults take no input while guarded: from the
    // start of an update or a Read to its end, and through a continuous run. Guards nest.
    virtual void guardEntries(bool /*guarded*/) {}
    // A continuous run started (Update now stops it) or ended.
    virtual void runStarted() {}
    virtual void runEnded() {}
    // The line under the status label; a failure is also sounded. Empty text clears it.
    virtual void setNote(const std::string & /*text*/, NoteTone /*tone*/) {}
};

} // namespace fw
