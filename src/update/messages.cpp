#include "messages.h"

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

Message updateComplete(std::string_view model, uint32_t moduleId) {
    return {join(join("Model: " + libraryText(model), "ID: " + hexId(moduleId)), "Completed OK"),
            "Update Complete", MessageIcon::None};
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
