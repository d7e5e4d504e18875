#include "messages.h"

#include <algorithm>
#include <cstdio>

namespace fw::messages {

namespace {
std::string withCode(std::string_view description, int32_t code) {
    return std::string(description) + " [Code: " + std::to_string(code) + "]";
}
std::string join(std::string_view first, std::string_view second) {
    return std::string(first).append(kLineBreak).append(second);
}

// Length of the well-formed UTF-8 sequence that text starts with; 0 when it starts with a
// byte that begins none (a stray continuation, an overlong form, a surrogate, a cut).
size_t sequenceLength(std::string_view text) {
    const auto byte = [text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}
} // namespace

std::string libraryText(std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
    static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";    // U+2026
    std::string result;
    result.reserve(std::min(text.size(), kLibraryTextLimit * 4));
    size_t characters = 0;
    size_t lastStart = 0;
    while (!text.empty() && characters < kLibraryTextLimit) {
        lastStart = result.size();
        const size_t length = sequenceLength(text);
        result.append(length ? text.substr(0, length) : kReplacement);
        text.remove_prefix(length ? length : 1);
        ++characters;
    }
    if (!text.empty()) {
        result.resize(lastStart);
        result.append(kEllipsis);
    }
    return result;
}

Message moduleFailure(std::string_view description) {
    return {join(description, "Try again."), "Error", MessageIcon::Critical};
}

Message communicationFailure(std::string_view description, int32_t code) {
    return {join("Communication with the base station failed!",
                 withCode(libraryText(description), code)),
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

std::string hexId(uint32_t moduleId) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(moduleId));
    return text;
}

} // namespace fw::messages
