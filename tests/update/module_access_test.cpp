#include "messages.h"
#include "module_access.h"
#include "module_protocol.h"
#include "support/mock_provider.h"
#include "support/named_rows.h"
#include "support/recording_window.h"

#include <gtest/gtest.h>
#include <optional>

namespace fw {
namespace {

using fw::testing::PrintTo;

using fw::testing::MockProvider;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

const std::string kNul(1, '\0');

struct ReadCase {
    const char *name;
    std::string answer;
    std::string expected;
};

class MReadAnswer : public ::testing::TestWithParam<ReadCase> {};

TEST_P(MReadAnswer, KeepsTheTextBeforeTheFirstNul) {
    MockProvider dp;
    ModuleAccess access(dp);
    EXPECT_CALL(dp, ReadModuleCommand(1, 0x12AB, 76, _))
        .WillOnce(DoAll(SetArgReferee<3>(GetParam().answer), Return(0)));

    std::string value = "old";
    EXPECT_EQ(access.MRead(0x12AB, CommandCode::TxInterval, value, "Cannot read TX Interval!"),
              std::nullopt);
    EXPECT_EQ(value, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, MReadAnswer,
                         ::testing::Values(ReadCase{"NulThenPadding", "120" + kNul + "xyz", "120"},
                                           ReadCase{"LeadingNul", kNul + "120", ""},
                                           ReadCase{"Empty", "", ""},
                                           ReadCase{"NoNulKeepsSpaces", " 12 0 ", " 12 0 "}),
                         fw::testing::RowName());

TEST(MRead, FailureReturnsTheMessageAndLeavesTheValueAlone) {
    MockProvider dp;
    ModuleAccess access(dp);
    EXPECT_CALL(dp, ReadModuleCommand(1, 5, 51, _))
        .WillOnce(DoAll(SetArgReferee<3>(std::string("RX-LC")), Return(1)));

    std::string model = "before";
    EXPECT_EQ(access.MRead(5, CommandCode::Model, model, "Cannot read Model!"),
              (Message{"Cannot read Model!\r\nTry again.", "Error", MessageIcon::Critical}));
    EXPECT_EQ(model, "before");
}

TEST(MWrite, SendsTheValueFollowedByTwoNuls) {
    MockProvider dp;
    ModuleAccess access(dp);
    EXPECT_CALL(dp, WriteModuleCommand(1, 7, 76, std::string("333") + kNul + kNul))
        .WillOnce(Return(0));
    EXPECT_CALL(dp, WriteModuleCommand(1, 7, 55, kNul + kNul)).WillOnce(Return(0));

    EXPECT_EQ(access.MWrite(7, CommandCode::TxInterval, "333", "Cannot write TX Interval!"),
              std::nullopt);
    EXPECT_EQ(access.MWrite(7, CommandCode::Save, "", "Cannot Save!"), std::nullopt);
}

TEST(MWrite, FailureReturnsTheMessageWithTheCallersDescription) {
    MockProvider dp;
    ModuleAccess access(dp);
    EXPECT_CALL(dp, WriteModuleCommand(_, _, _, _)).WillOnce(Return(-1));

    EXPECT_EQ(access.MWrite(7, CommandCode::TxInterval, "333", "Cannot write TX Interval!"),
              (Message{"Cannot write TX Interval!\r\nTry again.", "Error", MessageIcon::Critical}));
}

TEST(Messages, HexIdIsUpperCaseUnsignedWithoutLeadingZeros) {
    EXPECT_EQ(messages::hexId(5), "5");
    EXPECT_EQ(messages::hexId(0x12AB), "12AB");
    EXPECT_EQ(messages::hexId(0x1A2B3C), "1A2B3C");
    EXPECT_EQ(messages::hexId(0x80000001u), "80000001");
    EXPECT_EQ(messages::hexId(0xFFFFFFFFu), "FFFFFFFF");
}

TEST(Messages, UpdateCompleteReadsLineByLine) {
    EXPECT_EQ(messages::updateComplete("RX-LC", 0x12AB),
              (Message{"Model: RX-LC\r\nID: 12AB\r\nCompleted OK", "Update Complete",
                       MessageIcon::None}));
}

struct LibraryTextCase {
    const char *name;
    std::string text;
    std::string shown;
};

class LibraryText : public ::testing::TestWithParam<LibraryTextCase> {};

TEST_P(LibraryText, IsValidUtf8OfAtMostAThousandCharacters) {
    EXPECT_EQ(messages::libraryText(GetParam().text), GetParam().shown);
}

std::string times(size_t count, const std::string &text) {
    std::string repeated;
    for (size_t i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

const std::string kClef = "\U0001d11e", kCut = "\u2026", kBad = "\ufffd";

INSTANTIATE_TEST_SUITE_P(
    Texts, LibraryText,
    ::testing::Values(
        LibraryTextCase{"AThousandStay", times(1000, kClef), times(1000, kClef)},
        LibraryTextCase{"OneMoreIsCut", times(1000, kClef) + "a", times(999, kClef) + kCut},
        LibraryTextCase{"StrayBytes",
                        "a\xff"
                        "b\x80",
                        "a" + kBad + "b" + kBad},
        LibraryTextCase{"OverlongAndSurrogate", "\xc0\xaf\xed\xa0\x80", times(5, kBad)},
        LibraryTextCase{"CutShortAtTheEnd", "ok\xe2\x82", "ok" + kBad + kBad},
        LibraryTextCase{"InvalidBytesCount", std::string(1001, '\xff'), times(999, kBad) + kCut}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Messages, QuoteLibraryTextCut) {
    const std::string huge(1 << 20, 'M');
    const std::string cut = std::string(999, 'M') + kCut;
    EXPECT_EQ(messages::communicationFailure(huge, 3).text,
              "Communication with the base station failed!\r\n" + cut + " [Code: 3]");
    EXPECT_EQ(messages::updateComplete(huge, 1).text,
              "Model: " + cut + "\r\nID: 1\r\nCompleted OK");
    EXPECT_EQ(messages::unsupportedModel(huge).text,
              "The paired module is a " + cut + " which is not supported by this software!");
    EXPECT_EQ(messages::incompatible(huge).text, cut);
}

} // namespace
} // namespace fw
