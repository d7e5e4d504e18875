#include "messages.h"

#include <cstdio>

namespace fw::messages {

namespace {
std::string withCode(std::string_view description, int32_t code) {
    return std::string(description) + " [Code: " + std::to_string(code) + "]";
}
std::string join(std::string_view first, std::string_view second) {
    return std::string(first).append(kLineBreak).append(second);
}
} // namespace

Message moduleFailure(std::string_view description) {
    return {join(description, "Try again."), "Error", MessageIcon::Critical};
}

Message communicationFailure(std::string_view description, int32_t code) {
    return {join("Communication with the base station failed!", withCode(description, code)),
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
    return {join(join("Model: " + std::string(model), "ID: " + hexId(moduleId)), "Completed OK"),
            "Update Complete", MessageIcon::None};
}

Message outOfRange(std::string_view rangeText) {
    return {std::string(rangeText), "Invalid Parameter Values", MessageIcon::Warning};
}

Message unsupportedModel(std::string_view model) {
    return {"The paired module is a " + std::string(model) +
                " which is not supported by this software!",
            "Warning", MessageIcon::Warning};
}

Message incompatible(std::string_view warning) {
    return {std::string(warning), "Incompatible Parameter Values", MessageIcon::Warning};
}

Message providerNotRegistered(std::string_view applicationName, std::string_view description,
                              int32_t code) {
    return {join("ZarvikDataProviderCOM.DLL possibly not registered!",
                 "Error: " + withCode(description, code)),
            std::string(applicationName), MessageIcon::Critical};
}

Message cannotOpenUsb() {
    return {"Cannot open USB interface", "Warning", MessageIcon::Warning};
}

Message recordNotWritten(std::string_view path, std::string_view reason) {
    return {join(join("Cannot write the update record " + std::string(path), reason),
                 "Updates go on without it; this warning is not repeated until the next start."),
            "Update record", MessageIcon::Warning};
}

std::string hexId(uint32_t moduleId) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(moduleId));
    return text;
}

} // namespace fw::messages
