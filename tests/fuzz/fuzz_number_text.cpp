// Any text must read without fault, and its staged form must stage to itself again.
#include "number_text.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

[[noreturn]] void fail(const char *what, std::string_view text) {
    std::fprintf(stderr, "%s for input of %zu bytes\n", what, text.size());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const fw::NumberReading reading = fw::readLeadingNumber(text);
    if (std::isnan(reading.value))
        fail("reading is NaN", text);
    if (reading.value == 0 && std::signbit(reading.value))
        fail("reading is negative zero", text);
    if (!reading.hasNumber && reading.value != 0)
        fail("no number but a nonzero value", text);
    if (!std::isfinite(reading.value))
        return 0;

    const std::string staged = fw::decimalText(reading.value);
    const fw::NumberReading again = fw::readLeadingNumber(staged);
    if (!again.hasNumber)
        fail("staged text does not read as a number", text);
    if (fw::decimalText(again.value) != staged)
        fail("staged text does not stage to itself", text);
    return 0;
}
