#include "provider_text.h"

#include <algorithm>
#include <cstdio>

namespace fw {

size_t utf8SequenceLength(std::string_view text) {
    if (text.empty())
        return 0;
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

bool isValidUtf8(std::string_view text) {
    while (!text.empty()) {
        const size_t length = utf8SequenceLength(text);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

std::string libraryText(std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
    static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";    // U+2026
    std::string result;
    result.reserve(std::min(text.size(), kLibraryTextLimit * 4));
    size_t characters = 0;
    size_t lastStart = 0;
    while (!text.empty() && characters < kLibraryTextLimit) {
        lastStart = result.size();
        const size_t length = utf8SequenceLength(text);
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

std::string hexId(uint32_t moduleId) {
    char text[9];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(moduleId));
    return text;
}

std::string withCode(std::string_view description, int32_t code) {
    return std::string(description) + " [Code: " + std::to_string(code) + "]";
}

} // namespace fw
