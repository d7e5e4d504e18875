#include "messages.h"
#include "parameter_rules.h"
#include "support/named_rows.h"
#include "support/recording_window.h"

#include <gtest/gtest.h>

namespace fw {

void PrintTo(const StagedParameters &s, std::ostream *out) {
    *out << "{\"" << s.txInterval << "\", \"" << s.sampleTime << "\", \"" << s.sleepDelay
         << "\", \"" << s.lowPowerMode << "\"}";
}

namespace {

const Message kTxRange{"The valid range for the TX Interval is 5 to 60000 ms",
                       "Invalid Parameter Values", MessageIcon::Warning};
const Message kSampleRange{"The valid range for the Sample Time is 5 to 60000 ms",
                           "Invalid Parameter Values", MessageIcon::Warning};
const Message kSleepRange{"The valid range for the Sleep Delay is 0 to 3600 s",
                          "Invalid Parameter Values", MessageIcon::Warning};

const StagedParameters kBefore{"tx", "sample", "sleep", "low"};

enum class Field { Tx, Sample, Sleep };

struct StageCase {
    const char *name;
    Field field;
    std::string text;
    std::string staged;
    std::optional<Message> refusal;
};

void PrintTo(const StageCase &c, std::ostream *out) {
    *out << '"' << c.text << '"';
}

class StageOneField : public ::testing::TestWithParam<StageCase> {};

TEST_P(StageOneField, StagesTheDecimalTextAndChecksItsRange) {
    const StageCase &c = GetParam();
    Entries entries{"", "", "", 2};
    StagedParameters expected = kBefore;
    std::string &entry = c.field == Field::Tx       ? entries.txInterval
                         : c.field == Field::Sample ? entries.sampleTime
                                                    : entries.sleepDelay;
    entry = c.text;
    (c.field == Field::Tx       ? expected.txInterval
     : c.field == Field::Sample ? expected.sampleTime
                                : expected.sleepDelay) = c.staged;
    if (!c.refusal)
        expected.lowPowerMode = "1";

    StagedParameters staged = kBefore;
    EXPECT_EQ(stageEntries(entries, staged), c.refusal);
    EXPECT_EQ(staged, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, StageOneField,
    ::testing::Values(
        StageCase{"TxBelowRange", Field::Tx, "4", "4", kTxRange},
        StageCase{"TxLowest", Field::Tx, "5", "5", {}},
        StageCase{"TxHighest", Field::Tx, "60000", "60000", {}},
        StageCase{"TxAboveRange", Field::Tx, "60001", "60001", kTxRange},
        StageCase{"SampleBelowRange", Field::Sample, "4", "4", kSampleRange},
        StageCase{"SampleLowest", Field::Sample, "5", "5", {}},
        StageCase{"SampleHighest", Field::Sample, "60000", "60000", {}},
        StageCase{"SampleAboveRange", Field::Sample, "60001", "60001", kSampleRange},
        StageCase{"SleepNegative", Field::Sleep, "-1", "-1", kSleepRange},
        StageCase{"SleepLowest", Field::Sleep, "0", "0", {}},
        StageCase{"SleepHighest", Field::Sleep, "3600", "3600", {}},
        StageCase{"SleepAboveRange", Field::Sleep, "3601", "3601", kSleepRange},
        StageCase{"SleepBlanksOnlyStagesZero", Field::Sleep, "   ", "0", {}},
        StageCase{"SleepLettersStageZero", Field::Sleep, "abc", "0", {}},
        StageCase{"SleepNegativeZero", Field::Sleep, "-0", "0", {}},
        StageCase{"TxBlanksOnlyIsZero", Field::Tx, "  ", "0", kTxRange},
        StageCase{"TxLettersAreZero", Field::Tx, "abc", "0", kTxRange},
        StageCase{"TxTextAfterNumber", Field::Tx, "12abc", "12", {}},
        StageCase{"TxInnerBlank", Field::Tx, "1 2", "12", {}},
        StageCase{"TxLeadingZeros", Field::Tx, "0333", "333", {}},
        StageCase{"TxExponent", Field::Tx, "1e3", "1000", {}},
        StageCase{"TxExponentD", Field::Tx, "1D3", "1000", {}},
        StageCase{"TxHex", Field::Tx, "&H1F", "31", {}},
        StageCase{"TxOctal", Field::Tx, "&O17", "15", {}},
        StageCase{"TxFractionPasses", Field::Tx, "7.5", "7.5", {}},
        StageCase{"TxTrailingZerosDropped", Field::Tx, "7.50", "7.5", {}},
        // The range applies to the staged text, the number the module would get.
        StageCase{"TxRoundedOntoTopPasses", Field::Tx, "60000.00000000001", "60000", {}},
        StageCase{"TxRoundedOntoBottomPasses", Field::Tx, "4.9999999999999999", "5", {}},
        StageCase{"TxTooLargeForDouble", Field::Tx, "1e999", "1E+999", kTxRange},
        StageCase{"SampleTooLargeForDouble", Field::Sample, "1e999", "1E+999", kSampleRange},
        StageCase{"SleepTooLargeNegative", Field::Sleep, "-1e999", "-1E+999", kSleepRange},
        StageCase{"SleepHexBeyond64Bits", Field::Sleep, "&H" + std::string(20, 'F'), "1E+999",
                  kSleepRange}),
    fw::testing::RowName());

TEST(StageEntries, EmptyFieldsLeaveTheirStagedValuesAlone) {
    StagedParameters staged = kBefore;
    EXPECT_EQ(stageEntries({"", "", "", 2}, staged), std::nullopt);
    EXPECT_EQ(staged, (StagedParameters{"tx", "sample", "sleep", "1"}));
}

TEST(StageEntries, ReportsOnlyTheFirstFieldOutOfRangeAndStopsThere) {
    StagedParameters staged = kBefore;
    EXPECT_EQ(stageEntries({"4", "60001", "9999", 2}, staged), kTxRange);
    EXPECT_EQ(staged, (StagedParameters{"4", "sample", "sleep", "low"}));

    staged = kBefore;
    EXPECT_EQ(stageEntries({"0333", "60001", "9999", 2}, staged), kSampleRange);
    EXPECT_EQ(staged, (StagedParameters{"333", "60001", "sleep", "low"}));
}

TEST(StageEntries, LowPowerModeStagesItsListPositionMinusOne) {
    for (const auto &[position, text] :
         std::vector<std::pair<int, std::string>>{{0, "-1"}, {1, "0"}, {2, "1"}, {-1, "-1"}}) {
        StagedParameters staged = kBefore;
        EXPECT_EQ(stageEntries({"100", "50", "10", position}, staged), std::nullopt);
        EXPECT_EQ(staged, (StagedParameters{"100", "50", "10", text})) << position;
        EXPECT_EQ(lowPowerLeftAsIs(position), position <= 0);
    }
}

TEST(LowPowerOn, WhenTheStagedTextReadsNonzero) {
    for (const char *on : {"1", "-1", "2", " 1", "0.5", "&H1"})
        EXPECT_TRUE(lowPowerOn(on)) << on;
    for (const char *off : {"0", "0.0", " 0 ", "-0", "", "abc"})
        EXPECT_FALSE(lowPowerOn(off)) << off;
}

TEST(SupportedModels, CompareWholeAndCaseSensitively) {
    for (std::string model :
         {"RX-LC", "GHMTX", "GH-K410", "GH-K520", "RX-VM", "RX,IM", "RX-RM", "RX-TM"}) {
        EXPECT_TRUE(isSupportedModel(model)) << model;
        std::string lower = model;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_FALSE(isSupportedModel(lower)) << lower;
        upperCaseInPlace(lower);
        EXPECT_EQ(lower, model);
    }
    for (const char *model : {"RX-IM", "RX-LC ", " RX-LC", "RX-L", "RX-LCX", "", "rx-lc"})
        EXPECT_FALSE(isSupportedModel(model)) << model;
}

TEST(UpperCaseInPlace, ChangesOnlyAsciiLetters) {
    std::string model = "gh-k410 \xC3\xA9,x";
    upperCaseInPlace(model);
    EXPECT_EQ(model, "GH-K410 \xC3\xA9,X");
}

std::string maximumSentence(const std::string &maximum) {
    return "WARNING: The Sample Time is too large for the selected TX Interval. The maximum "
           "Sample Time is " +
           maximum + " mS\r\n";
}
const std::string kMinimumSentence =
    "WARNING: In low power mode the TX Interval cannot be less than 41 mS!";

struct CompatibilityCase {
    const char *name;
    std::string lowPower;
    std::string tx;
    std::string sample;
    std::string warning;
};

void PrintTo(const CompatibilityCase &c, std::ostream *out) {
    *out << "low power " << c.lowPower << ", T " << c.tx << ", S " << c.sample;
}

class Compatibility : public ::testing::TestWithParam<CompatibilityCase> {};

TEST_P(Compatibility, ComposesTheWarning) {
    const CompatibilityCase &c = GetParam();
    EXPECT_EQ(compatibilityWarning({c.tx, c.sample, "0", c.lowPower}), c.warning);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Compatibility,
    ::testing::Values(
        CompatibilityCase{"LowPowerRoomy", "1", "333", "5", ""},
        CompatibilityCase{"LowPowerBothRules", "1", "30", "10",
                          maximumSentence("5") + kMinimumSentence},
        CompatibilityCase{"LowPowerOnlyMinimum", "1", "35", "5", kMinimumSentence},
        CompatibilityCase{"LowPowerNegativeMaximum", "1", "20", "5",
                          maximumSentence("-5") + kMinimumSentence},
        CompatibilityCase{"LowPowerBoundariesPass", "1", "41", "16", ""},
        CompatibilityCase{"LowPowerJustOverMargin", "1", "41", "16.5", maximumSentence("16")},
        CompatibilityCase{"LowPowerJustUnderMinimum", "1", "40.9", "5", kMinimumSentence},
        CompatibilityCase{"OffRoomy", "0", "333", "5", ""},
        CompatibilityCase{"OffSampleAboveTx", "0", "100", "200", maximumSentence("100")},
        CompatibilityCase{"OffNoMinimum", "0", "10", "5", ""},
        CompatibilityCase{"OffSampleEqualsTx", "0", "10", "10", ""},
        CompatibilityCase{"OffModuleValueWithFraction", "0", "100.5", "200",
                          maximumSentence("101")},
        CompatibilityCase{"OnFromModuleValue", "2", "30", "10",
                          maximumSentence("5") + kMinimumSentence},
        CompatibilityCase{"OffFromModuleValue", "0.0", "30", "10", ""},
        CompatibilityCase{"HalfRoundsUp", "1", "30.5", "10",
                          maximumSentence("6") + kMinimumSentence},
        CompatibilityCase{"NegativeHalfRoundsAwayFromZero", "1", "19.5", "5",
                          maximumSentence("-6") + kMinimumSentence},
        CompatibilityCase{"SmallNegativeHalf", "1", "24.5", "1",
                          maximumSentence("-1") + kMinimumSentence},
        CompatibilityCase{"SmallNegativeRoundsToPlainZero", "1", "24.6", "5",
                          maximumSentence("0") + kMinimumSentence},
        CompatibilityCase{"ModuleHexValues", "&H1", "&H1E", "&HA",
                          maximumSentence("5") + kMinimumSentence}),
    fw::testing::RowName());

TEST(Compatibility, WarningGoesWholeIntoItsMessage) {
    EXPECT_EQ(
        messages::incompatible(compatibilityWarning({"100", "200", "", "0"})),
        (Message{maximumSentence("100"), "Incompatible Parameter Values", MessageIcon::Warning}));
}

// ---- what the window flags while the operator types ---------------------------------

struct FlagCase {
    const char *name;
    Entries entries;
    EntryWarnings warnings;
};

const std::string kIncompatibleTx15Sample20 = maximumSentence("15");
const std::string kLowPowerTooShort = maximumSentence("5") + kMinimumSentence;

class EntryFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(EntryFlags, CarryTheTextTheUpdateWouldShow) {
    EXPECT_EQ(entryWarnings(GetParam().entries), GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, EntryFlags,
    ::testing::Values(
        FlagCase{"DefaultsAreFine", {"333", "5", "0", 2}, {}},
        FlagCase{"LowPowerMarginExactlyPasses", {"41", "16", "0", 2}, {}},
        FlagCase{"LowPowerMinimumExactlyPasses", {"41", "5", "", 2}, {}},
        FlagCase{"SampleEqualToTxOutsideLowPowerPasses", {"100", "100", "", 1}, {}},
        FlagCase{
            "SampleAboveTxOutsideLowPower",
            {"15", "20", "", 1},
            {kIncompatibleTx15Sample20, kIncompatibleTx15Sample20, "", kIncompatibleTx15Sample20}},
        FlagCase{"LowPowerBothRules",
                 {"30", "10", "", 2},
                 {kLowPowerTooShort, kLowPowerTooShort, "", kLowPowerTooShort}},
        FlagCase{"LowPowerJustUnderTheMargin",
                 {"41", "16.5", "", 2},
                 {maximumSentence("16"), maximumSentence("16"), "", maximumSentence("16")}},
        // The module's own value is unknown until it pairs: nothing to hold the others to.
        FlagCase{"LeaveAsIsTakesNoSide", {"15", "20", "", 0}, {}},
        FlagCase{"NoSelectionTakesNoSide", {"15", "20", "", -1}, {}},
        FlagCase{"BlankTxTakesNoSide", {"", "20", "", 2}, {}},
        // The minimum in low power mode needs no sample time; the margin waits for the module's.
        FlagCase{"BlankSampleHoldsTxToTheMinimumOnly",
                 {"30", "", "", 2},
                 {kMinimumSentence, "", "", kMinimumSentence}},
        FlagCase{"BlankSampleAboveTheMinimumTakesNoSide", {"41", "", "", 2}, {}},
        FlagCase{"EveryBoxOutOfRange",
                 {"4", "60001", "3601", 2},
                 {kTxRange.text, kSampleRange.text, kSleepRange.text, ""}},
        FlagCase{"RangeIsCheckedOnTheStagedNumber", {"0005", "5.0", "3600", 1}, {}},
        // An update stops at the range message and never reaches the compatibility rules.
        FlagCase{
            "RangeBeforeCompatibility", {"15", "20", "4000", 1}, {"", "", kSleepRange.text, ""}}),
    fw::testing::RowName());

TEST(EntryFlags, TheRefusedBoxIsTheOneWhoseMessageTheUpdateShows) {
    for (const Entries &entries : {Entries{"4", "0", "", 1}, Entries{"5", "0", "9999", 1},
                                   Entries{"", "", "3601", 1}, Entries{"5", "5", "0", 1}}) {
        StagedParameters staged;
        const std::optional<Message> refusal = stageEntries(entries, staged);
        const std::optional<EntryField> field = firstOutOfRange(entries);
        ASSERT_EQ(refusal.has_value(), field.has_value());
        if (field) {
            const EntryWarnings warnings = entryWarnings(entries);
            const std::string *flagged[] = {&warnings.txInterval, &warnings.sampleTime,
                                            &warnings.sleepDelay};
            EXPECT_EQ(*flagged[static_cast<int>(*field)], refusal->text);
        }
    }
}

} // namespace
} // namespace fw
