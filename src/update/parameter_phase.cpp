#include "parameter_phase.h"

#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "number_text.h"
#include "update_sequence.h"
#include "window_port.h"

#include <array>

namespace fw {

namespace {

struct Parameter {
    CommandCode command;
    std::string StagedParameters::*staged;
    bool blank; // left for the module to keep: read for the check, never written
};

// In the order the module is read and written.
std::array<Parameter, 4> parameters(const ParameterEntries &entries) {
    return {{
        {CommandCode::TxInterval, &StagedParameters::txInterval, entries.txInterval.empty()},
        {CommandCode::SampleTime, &StagedParameters::sampleTime, entries.sampleTime.empty()},
        {CommandCode::SleepDelay, &StagedParameters::sleepDelay, entries.sleepDelay.empty()},
        {CommandCode::LowPowerMode, &StagedParameters::lowPowerMode,
         lowPowerLeftAsIs(entries.lowPowerModePosition)},
    }};
}

// A blank parameter takes the module's own value; an answer that is not a number could
// neither be checked nor be trusted, so it counts as a failed read.
bool fillFromModule(ModuleAccess &access, WindowPort &window, uint32_t moduleId,
                    const Parameter &parameter, StagedParameters &staged) {
    const std::string_view description = commandInfo(parameter.command).readFailure;
    std::string answer;
    if (!access.MRead(moduleId, parameter.command, answer, description))
        return false;
    if (!readLeadingNumber(answer).hasNumber) {
        endWithMessage(window, messages::moduleFailure(description));
        return false;
    }
    staged.*parameter.staged = answer;
    return true;
}

} // namespace

ParameterEntries readEntries(const WindowPort &window) {
    return {window.txIntervalText(), window.sampleTimeText(), window.sleepDelayText(),
            window.lowPowerModePosition()};
}

void endWithMessage(WindowPort &window, const Message &message) {
    window.setDefaultPointer();
    window.showMessage(message);
    window.setStatus("");
}

bool runParameterPhase(ModuleAccess &access, WindowPort &window, ModuleSession &session,
                       const ParameterEntries &entries, StagedParameters &written) {
    // The window keeps the upper-case model; the completion message shows it.
    upperCaseInPlace(session.model);
    if (!isSupportedModel(session.model)) {
        endWithMessage(window, messages::unsupportedModel(session.model));
        return false;
    }

    const auto handled = parameters(entries);
    for (const Parameter &parameter : handled)
        if (parameter.blank &&
            !fillFromModule(access, window, session.moduleId, parameter, session.staged))
            return false;

    if (const std::string warning = compatibilityWarning(session.staged); !warning.empty()) {
        endWithMessage(window, messages::incompatible(warning));
        return false;
    }

    for (const Parameter &parameter : handled) {
        if (parameter.blank)
            continue;
        const std::string &value = session.staged.*parameter.staged;
        if (!access.MWrite(session.moduleId, parameter.command, value,
                           commandInfo(parameter.command).writeFailure))
            return false;
        written.*parameter.staged = value;
    }
    return true;
}

} // namespace fw
