#include "parameter_phase.h"

#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "number_text.h"
#include "update_sequence.h"

#include <array>

namespace fw {

namespace {

struct Parameter {
    CommandCode command;
    std::string StagedParameters::*staged;
    bool blank; // left for the module to keep: read for the check, never written
};

// In the order the module is read and written.
std::array<Parameter, 4> parameters(const Entries &entries) {
    return {{
        {CommandCode::TxInterval, &StagedParameters::txInterval, entries.txInterval.empty()},
        {CommandCode::SampleTime, &StagedParameters::sampleTime, entries.sampleTime.empty()},
        {CommandCode::SleepDelay, &StagedParameters::sleepDelay, entries.sleepDelay.empty()},
        {CommandCode::LowPowerMode, &StagedParameters::lowPowerMode,
         lowPowerLeftAsIs(entries.lowPowerModePosition)},
    }};
}

} // namespace

// An answer that is not a number could neither be checked nor be trusted.
Ending readParameter(ModuleAccess &access, uint32_t moduleId, CommandCode parameter,
                     std::string &value) {
    const std::string_view description = commandInfo(parameter).readFailure;
    std::string answer;
    if (Ending failed = access.MRead(moduleId, parameter, answer, description))
        return failed;
    if (!readLeadingNumber(answer).hasNumber)
        return messages::moduleFailure(description);
    value = answer;
    return std::nullopt;
}

Ending readAllParameters(ModuleAccess &access, uint32_t moduleId, StagedParameters &values) {
    for (const Parameter &parameter : parameters(Entries{}))
        if (Ending failed =
                readParameter(access, moduleId, parameter.command, values.*parameter.staged))
            return failed;
    return std::nullopt;
}

Ending runParameterPhase(ModuleAccess &access, ModuleSession &session, const Entries &entries,
                         bool verify, UpdateReport &report, UpdateEnd &end) {
    StagedParameters &written = report.written;
    // The window keeps the upper-case model; the completion message shows it.
    upperCaseInPlace(session.model);
    if (!isSupportedModel(session.model))
        return messages::unsupportedModel(session.model);

    const auto handled = parameters(entries);
    for (const Parameter &parameter : handled)
        if (parameter.blank)
            if (Ending failed = readParameter(access, session.moduleId, parameter.command,
                                              session.staged.*parameter.staged))
                return failed;

    if (const std::string warning = compatibilityWarning(session.staged); !warning.empty()) {
        if (entriesIncompatible(entries))
            end = UpdateEnd::EntriesIncompatible;
        return messages::incompatible(warning);
    }

    for (const Parameter &parameter : handled) {
        if (parameter.blank)
            continue;
        const std::string &value = session.staged.*parameter.staged;
        if (Ending failed = access.MWrite(session.moduleId, parameter.command, value,
                                          commandInfo(parameter.command).writeFailure))
            return failed;
        written.*parameter.staged = value;
    }

    if (!verify)
        return std::nullopt;
    // A module may take a write and keep another value; only reading it back tells.
    bool anyWritten = false;
    for (const Parameter &parameter : handled) {
        if (parameter.blank)
            continue;
        anyWritten = true;
        const std::string &value = written.*parameter.staged;
        std::string held;
        if (Ending failed = readParameter(access, session.moduleId, parameter.command, held))
            return failed;
        if (!sameNumber(value, held))
            return messages::verificationFailed(parameter.command, value, held);
    }
    report.verified = anyWritten;
    return std::nullopt;
}

} // namespace fw
