#include "number_text.h"
#include "support/named_rows.h"

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace fw {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct ReadCase {
    const char *name;
    std::string text;
    bool hasNumber;
    double value;
};

void PrintTo(const ReadCase &c, std::ostream *out) {
    *out << '"' << c.text.substr(0, 80) << '"';
}

class ReadLeadingNumber : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadLeadingNumber, ReadsTheLeadingNumber) {
    const NumberReading reading = readLeadingNumber(GetParam().text);
    EXPECT_EQ(reading.hasNumber, GetParam().hasNumber);
    EXPECT_EQ(reading.value, GetParam().value);
    EXPECT_FALSE(reading.value == 0 && std::signbit(reading.value)) << "negative zero";
    EXPECT_EQ(readNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadLeadingNumber,
    ::testing::Values(
        ReadCase{"Empty", "", false, 0}, ReadCase{"BlanksOnly", "   ", false, 0},
        ReadCase{"Letters", "abc", false, 0}, ReadCase{"TextAfterNumber", "12abc", true, 12},
        ReadCase{"InnerBlank", "1 2", true, 12},
        ReadCase{"TabsAndLineFeeds", "\t1\n2 \t", true, 12},
        ReadCase{"CarriageReturnEndsNumber", "1\r2", true, 1},
        ReadCase{"CommaEndsNumber", "1,5", true, 1}, ReadCase{"LeadingZeros", "0333", true, 333},
        ReadCase{"Fraction", "7.5", true, 7.5}, ReadCase{"TrailingZeros", "7.50", true, 7.5},
        ReadCase{"LeadingPoint", ".5", true, 0.5}, ReadCase{"TrailingPoint", "5.", true, 5},
        ReadCase{"SecondPointEndsNumber", "1.2.3", true, 1.2}, ReadCase{"LonePoint", ".", false, 0},
        ReadCase{"LoneMinus", "-", false, 0}, ReadCase{"Plus", "+7", true, 7},
        ReadCase{"Minus", "- 12", true, -12}, ReadCase{"NegativeZero", "-0", true, 0},
        ReadCase{"NegativeZeroFraction", "-0.000", true, 0},
        ReadCase{"ExponentE", "1e3", true, 1000}, ReadCase{"ExponentUpperE", "1E3", true, 1000},
        ReadCase{"ExponentD", "1D3", true, 1000}, ReadCase{"ExponentLowerD", "1d3", true, 1000},
        ReadCase{"NegativeExponent", "25e-1", true, 2.5},
        ReadCase{"BlankInsideExponent", "1 e + 2", true, 100},
        ReadCase{"ExponentWithoutDigits", "1e", true, 1},
        ReadCase{"ExponentSignWithoutDigits", "1e+", true, 1},
        ReadCase{"ExponentEndsAtPoint", "1e2.5", true, 100},
        ReadCase{"ExponentAlone", "e5", false, 0}, ReadCase{"Hex", "&H1F", true, 31},
        ReadCase{"HexLowerCase", "&h1f", true, 31}, ReadCase{"HexWithBlanks", "& H 1F", true, 31},
        ReadCase{"HexStopsAtNonDigit", "&H1G", true, 1}, ReadCase{"Octal", "&O17", true, 15},
        ReadCase{"OctalLowerCase", "&o17", true, 15},
        ReadCase{"OctalStopsAtEight", "&O178", true, 15},
        ReadCase{"HexWithoutDigits", "&H", false, 0},
        ReadCase{"HexAllBitsIsUnsigned", "&HFFFFFFFF", true, 4294967295.0},
        ReadCase{"Hex64Bits", "&H" + std::string(16, 'F'), true, 18446744073709551615.0},
        ReadCase{"HexBeyond64Bits", "&H1" + std::string(16, '0'), true, kInf},
        ReadCase{"HexLeadingZerosDoNotOverflow", "&H" + std::string(40, '0') + "1F", true, 31},
        ReadCase{"SignBeforeHexIsNoNumber", "-&H1F", false, 0},
        ReadCase{"AmpersandAlone", "&12", false, 0}, ReadCase{"TooLarge", "1e999", true, kInf},
        ReadCase{"TooLargeNegative", "-1e999", true, -kInf},
        ReadCase{"TooSmall", "1e-999", true, 0}, ReadCase{"TooSmallNegative", "-1e-999", true, 0},
        ReadCase{"HugeExponent", "1e" + std::string(60, '9'), true, kInf},
        ReadCase{"HugeNegativeExponent", "1e-" + std::string(60, '9'), true, 0},
        ReadCase{"ZeroWithHugeExponent", "0e" + std::string(60, '9'), true, 0},
        ReadCase{"ThousandsOfDigits", "1" + std::string(5000, '0'), true, kInf},
        ReadCase{"ThousandsOfDigitsScaledBack", "1" + std::string(5000, '0') + "e-4999", true, 10},
        ReadCase{"ThousandsOfFractionZeros", "0." + std::string(3000, '0') + "5e3001", true, 5},
        ReadCase{"ManyDigitsRoundedOnce", "123456789012345678901234567890", true,
                 123456789012345678901234567890.0},
        ReadCase{"LargestDouble", "1.7976931348623157e308", true, DBL_MAX},
        ReadCase{"JustAboveLargestDouble", "1.8e308", true, kInf},
        ReadCase{"SmallestSubnormal", "4.9406564584124654e-324", true, 4.9406564584124654e-324}),
    fw::testing::RowName());

struct TextCase {
    const char *name;
    double value;
    const char *text;
};

void PrintTo(const TextCase &c, std::ostream *out) {
    *out << c.value;
}

class DecimalText : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecimalText, WritesTheStagedForm) {
    EXPECT_EQ(decimalText(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, DecimalText,
    ::testing::Values(
        TextCase{"Zero", 0.0, "0"}, TextCase{"NegativeZero", -0.0, "0"},
        TextCase{"Whole", 12, "12"}, TextCase{"Fraction", 7.5, "7.5"},
        TextCase{"NegativeFraction", -12.25, "-12.25"}, TextCase{"Thousand", 1e3, "1000"},
        TextCase{"RangeTop", 60000, "60000"},
        TextCase{"FifteenDigitsHideBinaryNoise", 0.1 + 0.2, "0.3"},
        TextCase{"OneThird", 1.0 / 3, "0.333333333333333"},
        TextCase{"TwoThirdsRounded", 2.0 / 3, "0.666666666666667"},
        TextCase{"SixteenthDigitRoundedAway", 60000.00000000001, "60000"},
        TextCase{"LargestPlain", 999999999999999.0, "999999999999999"},
        TextCase{"RoundingCarriesIntoExponent", 999999999999999.9, "1E+15"},
        TextCase{"LargeUsesExponent", 1e15, "1E+15"},
        TextCase{"LargeRounded", 123456789012345678.0, "1.23456789012346E+17"},
        TextCase{"SmallestPlain", 0.00001, "0.00001"}, TextCase{"SmallUsesExponent", 1e-6, "1E-06"},
        TextCase{"SmallWithFraction", -2.5e-6, "-2.5E-06"},
        TextCase{"ThreeDigitExponent", 1e100, "1E+100"},
        TextCase{"LargestDoubleRoundedDown", DBL_MAX, "1.79769313486231E+308"},
        TextCase{"NegativeLargestDouble", -DBL_MAX, "-1.79769313486231E+308"},
        TextCase{"SmallestSubnormal", 4.9406564584124654e-324, "4.94065645841247E-324"},
        TextCase{"Infinity", kInf, "1E+999"}, TextCase{"NegativeInfinity", -kInf, "-1E+999"},
        TextCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), "0"}),
    fw::testing::RowName());

// Staging a staged text again must give the same text, or a value read back from a
// module, or staged twice, would drift.
void expectStable(double value) {
    const std::string text = decimalText(value);
    const NumberReading back = readLeadingNumber(text);
    ASSERT_TRUE(back.hasNumber) << text;
    EXPECT_EQ(decimalText(back.value), text) << "value " << value;
}

TEST(DecimalTextProperty, RandomTextsReadSafelyAndStageStably) {
    std::mt19937 random(20240611);
    const std::string alphabet = "0123456789012345678901234567890.+-eEdDhHoO&fF \t\nab,\r";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 40);
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += alphabet[pick(random)];
        if (round % 50 == 0) // now and then, long digit runs and long exponents
            text += std::string(static_cast<size_t>(length(random)) * 30, '7');
        const NumberReading reading = readLeadingNumber(text);
        ASSERT_FALSE(std::isnan(reading.value)) << text;
        ASSERT_FALSE(reading.value == 0 && std::signbit(reading.value)) << text;
        if (!reading.hasNumber) {
            ASSERT_EQ(reading.value, 0) << text;
        }
        if (std::isfinite(reading.value))
            expectStable(reading.value);
    }
}

TEST(DecimalTextProperty, RandomDoublesStageStably) {
    std::mt19937_64 random(7);
    for (int round = 0; round < 4000; ++round) {
        const uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value))
            expectStable(value);
    }
    // The edges of the plain form and of the double range.
    for (double value : {DBL_MAX, std::nextafter(DBL_MAX, 0.0), DBL_MIN, DBL_TRUE_MIN,
                         std::nextafter(1e15, 0.0), 1e15, std::nextafter(1e-5, 0.0), 1e-5}) {
        expectStable(value);
        expectStable(-value);
    }
    EXPECT_EQ(readNumber(decimalText(kInf)), kInf);
    EXPECT_EQ(readNumber(decimalText(-kInf)), -kInf);
}

// The window runs under the operator's locale (Qt sets it from the environment), where
// the decimal separator may be a comma.
TEST(NumberTextLocale, PointWhateverTheLocale) {
    // The build compiles one into its own tree; the system's locales stay reachable too.
    setenv("LOCPATH", FW_TEST_LOCALE_PATH ":/usr/lib/locale", 1);
    const char *chosen = nullptr;
    for (const char *name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    if (!chosen) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    EXPECT_EQ(readNumber("7.5"), 7.5);
    EXPECT_EQ(readNumber("7,5"), 7);
    EXPECT_EQ(decimalText(7.5), "7.5");
    EXPECT_EQ(decimalText(2.5e-6), "2.5E-06");
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
}

} // namespace
} // namespace fw
