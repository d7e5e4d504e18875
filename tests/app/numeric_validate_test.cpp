#include "key_filter.h"
#include "numeric_validate.h"
#include "support/named_rows.h"

#include <QKeyEvent>
#include <gtest/gtest.h>
#include <set>

namespace fw::app {
namespace {

using fw::testing::PrintTo;

struct Flags {
    bool allowNegative;
    bool allowDecimal;
};

void PrintTo(const Flags &f, std::ostream *out) {
    *out << "negative " << f.allowNegative << ", decimal " << f.allowDecimal;
}

class NumericValidateCodes : public ::testing::TestWithParam<Flags> {};

TEST_P(NumericValidateCodes, PassesExactlyTheAllowedSetAndZeroesTheRest) {
    std::set<int> allowed{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 8, 22, 24, 3, 13};
    if (GetParam().allowNegative)
        allowed.insert('-');
    if (GetParam().allowDecimal)
        allowed.insert('.');
    for (int code = -32768; code <= 32767; ++code) {
        const auto key = static_cast<int16_t>(code);
        const int16_t expected = allowed.contains(code) ? key : int16_t{0};
        ASSERT_EQ(NumericValidate(key, GetParam().allowNegative, GetParam().allowDecimal), expected)
            << "code " << code;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFlags, NumericValidateCodes,
                         ::testing::Values(Flags{false, false}, Flags{true, false},
                                           Flags{false, true}, Flags{true, true}));

struct KeyCase {
    const char *name;
    int key;
    Qt::KeyboardModifiers modifiers;
    QString text;
    int code;
};

class KeyAscii : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyAscii, IsTheCodeOfTheTypedCharacter) {
    const KeyCase &c = GetParam();
    const QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers, c.text);
    EXPECT_EQ(keyAsciiOf(event), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyAscii,
    ::testing::Values(KeyCase{"Digit", Qt::Key_7, Qt::NoModifier, "7", '7'},
                      KeyCase{"KeypadDigit", Qt::Key_7, Qt::KeypadModifier, "7", '7'},
                      KeyCase{"Letter", Qt::Key_A, Qt::ShiftModifier, "A", 'A'},
                      KeyCase{"Backspace", Qt::Key_Backspace, Qt::NoModifier, "\b", 8},
                      KeyCase{"Enter", Qt::Key_Return, Qt::NoModifier, "\r", 13},
                      KeyCase{"Escape", Qt::Key_Escape, Qt::NoModifier, "\x1b", 27},
                      KeyCase{"CtrlVWithText", Qt::Key_V, Qt::ControlModifier, "\x16", 22},
                      KeyCase{"CtrlVWithoutText", Qt::Key_V, Qt::ControlModifier, "", 22},
                      KeyCase{"CtrlAWithoutText", Qt::Key_A, Qt::ControlModifier, "", 1},
                      KeyCase{"CtrlCWithLetterText", Qt::Key_C, Qt::ControlModifier, "c", 3},
                      KeyCase{"AltDigit", Qt::Key_5, Qt::AltModifier, "5", '5'},
                      KeyCase{"CtrlZWithoutText", Qt::Key_Z, Qt::ControlModifier, "", 26},
                      KeyCase{"Left", Qt::Key_Left, Qt::NoModifier, "", kNoCharacter},
                      KeyCase{"Home", Qt::Key_Home, Qt::NoModifier, "", kNoCharacter},
                      KeyCase{"DeleteWithDelText", Qt::Key_Delete, Qt::NoModifier, "\x7f",
                              kNoCharacter},
                      KeyCase{"Tab", Qt::Key_Tab, Qt::NoModifier, "\t", kNoCharacter},
                      KeyCase{"Backtab", Qt::Key_Backtab, Qt::ShiftModifier, "", kNoCharacter}),
    fw::testing::RowName());

} // namespace
} // namespace fw::app
