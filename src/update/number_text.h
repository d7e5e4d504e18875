#pragma once

#include <string>
#include <string_view>

namespace fw {

// The lenient leading-number reading of an entry or a module's answer: blanks, tabs
// and line feeds are dropped anywhere; then an optional sign, digits with at most one
// ".", an optional exponent (E or D); or &H / &O followed by hex / octal digits.
// Reading stops at the first character that cannot continue the number.
struct NumberReading {
    bool hasNumber = false; // false: no leading number at all (the value is then 0)
    double value = 0.0;     // may be +-infinity for a text such as "1e999"
};

NumberReading readLeadingNumber(std::string_view text);

// The value of readLeadingNumber(), 0 when the text has no leading number.
double readNumber(std::string_view text);

// The decimal text of a finite number: rounded to 15 significant digits, no leading
// blank, no trailing zeros, no separator when whole, "." as separator, -0 as "0".
std::string decimalText(double value);

} // namespace fw
