#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace fw {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Saturating the exponent keeps the arithmetic in range whatever the text holds; any
// exponent near the cap already lies far beyond a double's range.
constexpr int64_t kExponentCap = 1'000'000'000;

// Outside these decimal exponents of 0.ddd... the value is surely infinite or zero.
constexpr int64_t kOverflowExponent = 310;
constexpr int64_t kUnderflowExponent = -330;

bool isDropped(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int digitValue(char c) {
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string withoutBlanks(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text)
        if (!isDropped(c))
            kept.push_back(c);
    return kept;
}

NumberReading readPrefixed(std::string_view digits, unsigned base) {
    uint64_t value = 0;
    bool any = false;
    bool overflow = false;
    for (char c : digits) {
        const int digit = digitValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base)
            break;
        any = true;
        if (overflow)
            continue;
        if (value > (std::numeric_limits<uint64_t>::max() - static_cast<unsigned>(digit)) / base)
            overflow = true;
        else
            value = value * base + static_cast<unsigned>(digit);
    }
    if (!any)
        return {};
    return {true, overflow ? kInfinity : static_cast<double>(value)};
}

// Reads the exponent after its letter; returns the count of characters it took, 0
// when no digit follows (the letter then ends the number).
size_t readExponent(std::string_view text, int64_t &exponent) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !isDigit(text[i]))
        return 0;
    int64_t magnitude = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), kExponentCap);
    exponent = negative ? -magnitude : magnitude;
    return i;
}

NumberReading readDecimal(std::string_view text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    // The value is 0.<digits> times 10 to the power of scale; leading zeros are not kept.
    std::string digits;
    int64_t scale = 0;
    bool anyDigit = false;
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
            if (digits.empty() && c == '0') {
                if (seenPoint)
                    --scale;
                continue;
            }
            digits.push_back(c);
            if (!seenPoint)
                ++scale;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return {};

    int64_t exponent = 0;
    if (i < text.size()) {
        const char letter = lower(text[i]);
        if (letter == 'e' || letter == 'd')
            readExponent(text.substr(i + 1), exponent);
    }

    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (digits.empty())
        return {true, 0.0};

    const int64_t power = scale + exponent;
    double magnitude = 0.0;
    if (power > kOverflowExponent) {
        magnitude = kInfinity;
    } else if (power >= kUnderflowExponent) {
        const std::string normal = "0." + digits + "e" + std::to_string(power);
        const auto [end, error] =
            std::from_chars(normal.data(), normal.data() + normal.size(), magnitude);
        if (error == std::errc::result_out_of_range)
            magnitude = power > 0 ? kInfinity : 0.0;
        else if (error != std::errc() || end != normal.data() + normal.size())
            magnitude = 0.0; // cannot happen: the text was built above
    }
    if (magnitude == 0.0)
        return {true, 0.0};
    return {true, negative ? -magnitude : magnitude};
}

} // namespace

NumberReading readLeadingNumber(std::string_view text) {
    const std::string kept = withoutBlanks(text);
    const std::string_view number = kept;
    if (number.size() >= 2 && number[0] == '&') {
        const char prefix = lower(number[1]);
        if (prefix == 'h')
            return readPrefixed(number.substr(2), 16);
        if (prefix == 'o')
            return readPrefixed(number.substr(2), 8);
    }
    return readDecimal(number);
}

double readNumber(std::string_view text) {
    return readLeadingNumber(text).value;
}

bool sameNumber(std::string_view written, std::string_view held) {
    return decimalText(readNumber(written)) == decimalText(readNumber(held));
}

std::string decimalText(double value) {
    if (std::isnan(value) || value == 0.0)
        return "0";
    if (std::isinf(value))
        return value > 0 ? "1E+999" : "-1E+999";

    // d.dddddddddddddde+x: the 15 significant digits, correctly rounded, locale-free.
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                            std::chars_format::scientific, 14);
    if (error != std::errc())
        return "0"; // cannot happen: the buffer holds any double at this precision
    const std::string_view scientific(buffer, static_cast<size_t>(end - buffer));
    const size_t letter = scientific.find('e');
    std::string digits;
    for (char c : scientific.substr(0, letter))
        if (isDigit(c))
            digits.push_back(c);
    int exponent = 0;
    std::string_view exponentText = scientific.substr(letter + 1);
    if (!exponentText.empty() && exponentText.front() == '+')
        exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);

    // Near the largest double, rounding up would give a text that reads back as
    // infinity; those few values are written rounded toward zero instead.
    constexpr std::string_view kLargestDigits = "179769313486231";
    if (exponent == 308 && std::string_view(digits) > kLargestDigits)
        digits = kLargestDigits;

    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string text = value < 0 ? "-" : "";
    if (exponent >= 15 || exponent < -5) {
        text += digits.front();
        if (digits.size() > 1)
            text.append(".").append(digits, 1);
        text += exponent < 0 ? "E-" : "E+";
        const int shown = std::abs(exponent);
        if (shown < 10)
            text += '0';
        text += std::to_string(shown);
    } else if (exponent >= 0) {
        const size_t whole = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= whole) {
            text.append(digits).append(whole - digits.size(), '0');
        } else {
            text.append(digits, 0, whole).append(".").append(digits, whole);
        }
    } else {
        text.append("0.").append(static_cast<size_t>(-exponent - 1), '0').append(digits);
    }
    return text;
}

} // namespace fw
