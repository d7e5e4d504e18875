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
Ending fillFromModule(ModuleAccess &access, uint32_t moduleId, const Parameter &parameter,
                      StagedParameters &staged) {
    const std::string_view description = commandInfo(parameter.command).readFailure;
    std::string answer;
    if (Ending failed = access.MRead(moduleId, parameter.command, answer, description))
        return failed;
    if (!readLeadingNumber(answer).hasNumber)
        return messages::moduleFailure(description);
    staged.*parameter.staged = answer;
    return std::nullopt;
}

} // namespace

ParameterEntries readEntries(const WindowPort &window) {
    return {window.txIntervalText(), window.sampleTimeText(), window.sleepDelayText(),
            window.lowPowerModePosition()};
}

Ending runParameterPhase(ModuleAccess &access, ModuleSession &session,
                         const ParameterEntries &entries, StagedParameters &written) {
    // The window keeps the upper-case model; the completion message shows it.
    upperCaseInPlace(session.model);
    if (!isSupportedModel(session.model))
        return messages::unsupportedModel(session.model);

    const auto handled = parameters(entries);
    for (const Parameter &parameter : handled)
        if (parameter.blank)
            if (Ending failed = fillFromModule(access, session.moduleId, parameter, session.staged))
                return failed;

    if (const std::string warning = compatibilityWarning(session.staged); !warning.empty())
        return messages::incompatible(warning);

    for (const Parameter &parameter : handled) {
        if (parameter.blank)
            continue;
        const std::string &value = session.staged.*parameter.staged;
        if (Ending failed = access.MWrite(session.moduleId, parameter.command, value,
                                          commandInfo(parameter.command).writeFailure))
            return failed;
        written.*parameter.staged = value;
    }
    return std::nullopt;
}

} // namespace fw
