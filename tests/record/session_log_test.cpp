#include "session_log.h"
#include "support/named_rows.h"
#include "support/time_zone.h"
#include "update_record.h"

#include <gtest/gtest.h>
#include <vector>

namespace fw::record {
namespace {

using fw::testing::PrintTo;

constexpr std::time_t k1403 = 1796738607; // 2026-12-08 14:03:27 UTC
constexpr std::time_t kMinute = 60;

struct Ended {
    std::string moduleId;
    bool complete;
    std::time_t at = k1403;
    UpdateTab tab = UpdateTab::General;
};

struct RepeatCase {
    const char *name;
    std::vector<Ended> updates;     // in the order they end
    std::vector<std::string> notes; // one per row kept
    int complete;
    int failed;
};

class SessionRows : public ::testing::TestWithParam<RepeatCase> {
protected:
    fw::testing::TimeZone utc{"UTC0"};
};

TEST_P(SessionRows, KeepEachUpdateAndMarkAModuleThatHadCompleted) {
    const RepeatCase &row = GetParam();
    std::time_t now = 0;
    SessionLog log([&now] { return now; });
    std::vector<UpdateReport> kept;
    for (const Ended &update : row.updates) {
        UpdateReport report;
        report.moduleId = update.moduleId;
        report.complete = update.complete;
        report.tab = update.tab;
        now = update.at;
        EXPECT_EQ(log.updateEnding(report), std::nullopt);
        if (update.tab != UpdateTab::Read)
            kept.push_back(report);
    }

    ASSERT_EQ(log.rows().size(), kept.size());
    std::vector<std::string> notes;
    for (size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(log.rows()[i].report, kept[i]) << "row " << i;
        notes.push_back(repeatNote(log.rows()[i]));
    }
    EXPECT_EQ(notes, row.notes);
    EXPECT_EQ(log.completeCount(), row.complete);
    EXPECT_EQ(log.failedCount(), row.failed);
}

const std::string kAgain = "updated again; first at 14:03";

INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionRows,
    ::testing::Values(
        RepeatCase{"RepeatAfterComplete",
                   {{"12AB", true}, {"12AB", true, k1403 + 9 * kMinute}},
                   {"", kAgain},
                   2,
                   0},
        RepeatCase{"FailedAfterCompleteIsARepeat",
                   {{"12AB", true}, {"12AB", false, k1403 + kMinute}},
                   {"", kAgain},
                   1,
                   1},
        RepeatCase{"FailureThenCompleteIsNotARepeat",
                   {{"12AB", false}, {"12AB", true, k1403 + 5 * kMinute}},
                   {"", ""},
                   1,
                   1},
        RepeatCase{"TheFirstCompletionIsNamedEveryTime",
                   {{"12AB", false, k1403 - 2 * kMinute},
                    {"12AB", true},
                    {"12AB", true, k1403 + 20 * kMinute},
                    {"12AB", true, k1403 + 80 * kMinute}},
                   {"", "", kAgain, kAgain},
                   3,
                   1},
        RepeatCase{"AnotherModuleIsNotARepeat",
                   {{"12AB", true}, {"12AC", true}, {"12ab", true}},
                   {"", "", ""},
                   3,
                   0},
        RepeatCase{"RowsWithoutAModuleNeverRepeat",
                   {{"", true}, {"", true}, {"", false}},
                   {"", "", ""},
                   2,
                   1},
        // A Read that showed the module's settings is no completion of an update either.
        RepeatCase{"ReadsAreNotKept",
                   {{"12AB", true, k1403, UpdateTab::Read},
                    {"12AB", false, k1403, UpdateTab::Read},
                    {"12AB", true, k1403 + kMinute, UpdateTab::Acquisition}},
                   {""},
                   1,
                   0}),
    fw::testing::RowName());

TEST(SessionCsv, HoldsTheRecordsLinesForTheRowsAsked) {
    const fw::testing::TimeZone zone("CET-1");
    std::time_t now = k1403;
    SessionLog log([&now] { return now; });
    std::vector<UpdateReport> reports(3);
    reports[0].moduleId = "12AB";
    reports[0].complete = true;
    reports[0].written = {"100", "5", "", "1"};
    reports[0].verified = true;
    reports[1].moduleId = "34CD";
    reports[1].model = "=RX";
    reports[1].message.text = "Cannot Save!\r\nTry \"again\", later.";
    reports[2].tab = UpdateTab::Acquisition;
    reports[2].channel = 7;
    for (const UpdateReport &report : reports) {
        ASSERT_EQ(log.updateEnding(report), std::nullopt);
        now += 61;
    }

    // In the order asked, not the log's; the time as the record writes it, in local time.
    EXPECT_EQ(log.csv({2, 0}), std::string(kHeader) +
                                   recordLine(reports[2], "2026-12-08T15:05:29+01:00") +
                                   recordLine(reports[0], "2026-12-08T15:03:27+01:00"));
    EXPECT_EQ(log.csv({1}),
              std::string(kHeader) + recordLine(reports[1], isoLocalTime(k1403 + 61)));
    EXPECT_EQ(log.csv({}), std::string(kHeader));
}

TEST(SessionListeners, HearOfEachRowOnceItIsKeptAndOnlyWhileListening) {
    SessionLog log([] { return k1403; });
    const SessionLog &watched = log;
    std::vector<size_t> heard; // the rows kept when each call came
    std::shared_ptr<void> listening = watched.listen([&] { heard.push_back(log.rows().size()); });
    int others = 0;
    const std::shared_ptr<void> other = watched.listen([&others] { ++others; });

    UpdateReport read;
    read.tab = UpdateTab::Read;
    (void)log.updateEnding(read);
    (void)log.updateEnding({});
    (void)log.updateEnding({});
    listening.reset();
    (void)log.updateEnding({});

    EXPECT_EQ(heard, (std::vector<size_t>{1, 2}));
    EXPECT_EQ(others, 3);
}

struct WrittenCase {
    const char *name;
    StagedParameters written;
    bool verified;
    std::string text;
};

class Written : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(Written, NamesTheValuesWrittenOnly) {
    UpdateReport report;
    report.written = GetParam().written;
    report.verified = GetParam().verified;
    EXPECT_EQ(writtenText(report), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Written,
    ::testing::Values(WrittenCase{"AllFourVerified",
                                  {"100", "5", "0", "1"},
                                  true,
                                  "TX 100 ms, sample 5 ms, sleep 0 s, low power 1 (verified)"},
                      WrittenCase{"SomeNotVerified",
                                  {"", "2.5", "1E-06", ""},
                                  false,
                                  "sample 2.5 ms, sleep 1E-06 s"},
                      WrittenCase{"NoneIsNothingToVerify", {}, true, ""}),
    fw::testing::RowName());

} // namespace
} // namespace fw::record
