#pragma once

#include "module_protocol.h"
#include "parameter_rules.h"
#include "provider_text.h"
#include "update_observer.h"
#include "window_port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Every message box the program shows, in one place.
namespace fw::messages {

inline constexpr std::string_view kLineBreak = "\r\n";

// A read or write that the module refused; description is the caller's first line.
Message moduleFailure(std::string_view description);

// A call into the data-provider library that failed with an error status.
Message communicationFailure(std::string_view description, int32_t code);

// The library's process crashed, exited, hung or broke the protocol during an update;
// happened says what and where ("killed by signal 11 in zdp_pair_module").
Message providerStopped(std::string_view happened);

Message channelNotSet();
Message notPaired();
// A pairing that should have moved the module to wanted left it on reported.
Message moduleChannelNotTaken(int wanted, int reported);
// verified: the written values were read back and found as written.
Message updateComplete(std::string_view model, uint32_t moduleId, bool verified = false);

// A continuous run: the module just updated paired again (as it does when it restarts after
// its reset) and was left alone.
Message pairedAgain(uint32_t moduleId);
// The operator stopped the run once that module had paired, before anything was written.
Message stoppedBeforeUpdate(uint32_t moduleId);
// How one module of a run ended, for the status area: its ID, model and outcome, then remark
// when there is one ("updated again; first at 14:03").
std::string moduleNote(const UpdateReport &report, std::string_view remark);
// Nobody paired in the window that just ended; count in a row, of the most the run waits.
std::string noModuleNote(int count, int most);
// The run ended by itself after that many pairing windows in a row without a new module.
std::string runEndedWithoutModules(int windows);
// The operator stopped the run.
std::string runStopped(int complete, int failed);
// What to do while the pairing waits, and the seconds left.
std::string pairingPrompt(int secondsLeft);

// A parameter read back after writing that the module holds otherwise.
Message verificationFailed(CommandCode parameter, std::string_view written, std::string_view held);

// The end of a Read: what the module holds, with a button to take its values. channel is
// the one the pairing reported, when it reported one.
inline constexpr std::string_view kUseTheseValues = "Use These Values";
Message moduleSettings(std::string_view model, uint32_t moduleId, std::optional<int> channel,
                       const StagedParameters &values);

// A parameter as messages name it: "TX Interval".
std::string_view parameterName(CommandCode parameter);

Message outOfRange(std::string_view rangeText);
Message unsupportedModel(std::string_view model);
Message incompatible(std::string_view warning);

Message providerNotRegistered(std::string_view applicationName, std::string_view description,
                              int32_t code);
// The same when no library could be loaded at all, with a sentence on how to get one.
Message providerNotLoaded(std::string_view applicationName, std::string_view description,
                          int32_t code);
Message cannotOpenUsb();

// The update record could not be written; reason says why, as the system put it.
Message recordNotWritten(std::string_view path, std::string_view reason);

// The saved entries: a file that exists but cannot be read (start-up goes on with the
// defaults), and entries that could not be saved (the program ends all the same).
Message settingsUnreadable(std::string_view path, std::string_view reason);
Message entriesNotSaved(std::string_view path, std::string_view reason);

// Library text as a message shows it, and the module ID as shown after "ID: ".
using fw::hexId;
using fw::kLibraryTextLimit;
using fw::libraryText;

} // namespace fw::messages
