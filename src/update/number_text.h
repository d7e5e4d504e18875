#pragma once

#include <string>
#include <string_view>

namespace fw {

// The lenient leading-number reading of an entry or a module's answer: blanks, tabs
// and line feeds are dropped anywhere; then an optional sign, digits with at most one
// ".", an optional exponent (E or D, either case, with an optional sign and at least
// one digit); or &H / &O (either case) followed by hex / octal digits, read unsigned.
// Reading stops at the first character that cannot continue the number, so "1.2.3"
// reads 1.2 and "1e+" reads 1. The decimal point is "." whatever the locale.
struct NumberReading {
    // False when no digit was read ("", "abc", ".", "-", "&H"); the value is then 0.
    bool hasNumber = false;
    // Never NaN and never -0. A magnitude too large for a double ("1e999", or a hex
    // number beyond 64 bits) reads as +-infinity, which no range admits; one too small
    // reads as 0.
    double value = 0.0;
};

NumberReading readLeadingNumber(std::string_view text);

// The value of readLeadingNumber(), 0 when the text has no leading number.
double readNumber(std::string_view text);

// The decimal text of a number as it is staged and written to a module: rounded to 15
// significant digits, a leading "-" when negative, "." as separator, no trailing zeros,
// no separator when whole ("0012" stages "12", "7.50" stages "7.5", -0 gives "0").
// Magnitudes from 1e-5 up to below 1e15 are written in plain digits ("0.00001",
// "999999999999999"); others as a mantissa and a signed exponent of at least two
// digits ("1E+15", "2.5E-06"). Infinities give "1E+999" and "-1E+999", so that every
// text reads back as its number; NaN, which no reading produces, gives "0".
std::string decimalText(double value);

// A module holds the value written when both texts are the same number ("333", "333.0").
bool sameNumber(std::string_view written, std::string_view held);

} // namespace fw
