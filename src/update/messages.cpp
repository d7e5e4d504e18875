#include "messages.h"

#include <array>

namespace fw::messages {

namespace {
std::string join(std::string_view first, std::string_view second) {
    return std::string(first).append(kLineBreak).append(second);
}
} // namespace

Message moduleFailure(std::string_view description) {
    return {join(description, "Try again."), "Error", MessageIcon::Critical};
}

Message communicationFailure(std::string_view description, int32_t code) {
    return {join("Communication with the base station failed!",
                 withCode(libraryText(description), code)),
            "Error", MessageIcon::Critical};
}

Message providerStopped(std::string_view happened) {
    return {join("The data-provider library stopped: " + libraryText(happened),
                 "Power-cycle the module and click Update to try again."),
            "Error", MessageIcon::Critical};
}

Message channelNotSet() {
    return {"Could not set base station RF channel! Please try again.", "Error",
            MessageIcon::Warning};
}

Message notPaired() {
    return {"Did not pair with a remote module!", "Error", MessageIcon::Warning};
}

Message moduleChannelNotTaken(int wanted, int reported) {
    return {join("The module did not take channel " + std::to_string(wanted) +
                     ": it is on channel " + std::to_string(reported) + ".",
                 "Power-cycle it and click Update to try again. If it stays on its channel, the "
                 "base station maker's library may not support moving modules."),
            "Warning", MessageIcon::Warning};
}

Message updateComplete(std::string_view model, uint32_t moduleId, bool verified) {
    std::string text =
        join(join("Model: " + libraryText(model), "ID: " + hexId(moduleId)), "Completed OK");
    if (verified)
        text = join(text, "Verified");
    return {text, "Update Complete", MessageIcon::None};
}

Message pairedAgain(uint32_t moduleId) {
    return {"ID: " + hexId(moduleId) +
                " paired again right after its update: it was not updated a second time.",
            "Next Module", MessageIcon::Information};
}

Message stoppedBeforeUpdate(uint32_t moduleId) {
    return {"ID: " + hexId(moduleId) + " was not updated: the run was stopped.", "Stopped",
            MessageIcon::Information};
}

std::string moduleNote(const UpdateReport &report, std::string_view remark) {
    std::string note = "ID: " + report.moduleId;
    if (!report.model.empty())
        note += " (" + libraryText(report.model) + ")";
    if (report.complete) {
        note += report.verified ? ": Update Complete, verified" : ": Update Complete";
    } else {
        // The first line of the message says what went wrong; the rest says what to do.
        const std::string &text = report.message.text;
        note += ": " + text.substr(0, text.find(kLineBreak));
    }
    if (!remark.empty())
        note.append(" (").append(remark).append(")");
    return note;
}

std::string noModuleNote(int count, int most) {
    return "No module answered (" + std::to_string(count) + " of " + std::to_string(most) +
           "): power-cycle the next module.";
}

std::string runEndedWithoutModules(int windows) {
    return "No new module in " + std::to_string(windows) +
           " pairing windows in a row: the run has ended.";
}

std::string runStopped(int complete, int failed) {
    return "Run stopped: " + std::to_string(complete) + " complete, " + std::to_string(failed) +
           " failed.";
}

std::string pairingPrompt(int secondsLeft) {
    return "Power-cycle the module now: " + std::to_string(secondsLeft) + " s";
}

std::string_view parameterName(CommandCode parameter) {
    switch (parameter) {
    case CommandCode::TxInterval:
        return "TX Interval";
    case CommandCode::SampleTime:
        return "Sample Time";
    case CommandCode::SleepDelay:
        return "Sleep Delay";
    case CommandCode::LowPowerMode:
        return "Low Power Mode";
    default:
        return commandInfo(parameter).meaning;
    }
}

// The module's answer is quoted as it came.
Message verificationFailed(CommandCode parameter, std::string_view written, std::string_view held) {
    return {
        join(join("The module did not keep the " + std::string(parameterName(parameter)) + ": " +
                      std::string(written) + " was written, it holds " + libraryText(held) + ".",
                  "The module was neither saved nor reset: a power cycle brings back its "
                  "saved values."),
             "Click Update to try again."),
        "Verification Failed", MessageIcon::Warning};
}

namespace {
// Each parameter's unit, in the order of the values' fields.
struct ShownParameter {
    CommandCode command;
    std::string StagedParameters::*value;
    std::string_view unit;
};
constexpr std::array<ShownParameter, 4> kShownParameters{{
    {CommandCode::TxInterval, &StagedParameters::txInterval, " ms"},
    {CommandCode::SampleTime, &StagedParameters::sampleTime, " ms"},
    {CommandCode::SleepDelay, &StagedParameters::sleepDelay, " s"},
    {CommandCode::LowPowerMode, &StagedParameters::lowPowerMode, ""},
}};
} // namespace

Message moduleSettings(std::string_view model, uint32_t moduleId, std::optional<int> channel,
                       const StagedParameters &values) {
    std::string text = join("Model: " + libraryText(model), "ID: " + hexId(moduleId));
    text = join(text, "Channel: " + (channel ? std::to_string(*channel)
                                             : std::string("not reported by the library")));
    for (const ShownParameter &shown : kShownParameters) {
        const std::string &value = values.*shown.value;
        const std::string said = shown.command == CommandCode::LowPowerMode
                                     ? std::string(lowPowerOn(value) ? "Yes" : "No")
                                     : libraryText(value) + std::string(shown.unit);
        std::string line(parameterName(shown.command));
        line += ": ";
        line += said;
        text = join(text, line);
    }
    return {text, "Module Settings", MessageIcon::Information, std::string(kUseTheseValues)};
}

Message outOfRange(std::string_view rangeText) {
    return {std::string(rangeText), "Invalid Parameter Values", MessageIcon::Warning};
}

Message unsupportedModel(std::string_view model) {
    return {"The paired module is a " + libraryText(model) +
                " which is not supported by this software!",
            "Warning", MessageIcon::Warning};
}

// The warning quotes the module's answers.
Message incompatible(std::string_view warning) {
    return {libraryText(warning), "Incompatible Parameter Values", MessageIcon::Warning};
}

Message providerNotRegistered(std::string_view applicationName, std::string_view description,
                              int32_t code) {
    return {join("ZarvikDataProviderCOM.DLL possibly not registered!",
                 "Error: " + withCode(libraryText(description), code)),
            std::string(applicationName), MessageIcon::Critical};
}

Message providerNotLoaded(std::string_view applicationName, std::string_view description,
                          int32_t code) {
    Message message = providerNotRegistered(applicationName, description, code);
    message.text =
        join(message.text, "Install the base station maker's library, or start "
                           "\"fleetwright --simulator\" to work with the simulated base station.");
    return message;
}

Message cannotOpenUsb() {
    return {"Cannot open USB interface", "Warning", MessageIcon::Warning};
}

Message recordNotWritten(std::string_view path, std::string_view reason) {
    return {join(join("Cannot write the update record " + std::string(path), reason),
                 "Updates go on without it; this warning is not repeated until the next start."),
            "Update record", MessageIcon::Warning};
}

Message settingsUnreadable(std::string_view path, std::string_view reason) {
    return {join("The saved entries in " + std::string(path) +
                     " cannot be read: " + std::string(reason),
                 "The program starts with the default entries and leaves that file as it is."),
            "Warning", MessageIcon::Warning};
}

Message entriesNotSaved(std::string_view path, std::string_view reason) {
    return {
        join("The entries could not be saved in " + std::string(path) + ": " + std::string(reason),
             "They are lost; the file was left as it was."),
        "Warning", MessageIcon::Warning};
}

} // namespace fw::messages
