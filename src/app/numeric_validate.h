#pragma once

#include <cstdint>

namespace fw::app {

// KeyAscii when the character may go into a number box, else 0: the ten digits, "-" and
// "." when allowed, and Backspace, Ctrl+V, Ctrl+X, Ctrl+C and Enter.
int16_t NumericValidate(int16_t KeyAscii, bool AllowNegative, bool AllowDecimal);

} // namespace fw::app
