#include "numeric_validate.h"

#include <string>

namespace fw::app {

int16_t NumericValidate(int16_t KeyAscii, bool AllowNegative, bool AllowDecimal) {
    std::u16string allowed = u"1234567890";
    if (AllowNegative)
        allowed += u'-';
    if (AllowDecimal)
        allowed += u'.';
    allowed += {char16_t(8), char16_t(22), char16_t(24), char16_t(3), char16_t(13)};

    if (allowed.find(static_cast<char16_t>(KeyAscii)) == std::u16string::npos)
        return 0;
    return KeyAscii;
}

} // namespace fw::app
