#pragma once

#include "window_port.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// The four parameters as they are staged, read from a module and written to it.
struct StagedParameters {
    std::string txInterval;
    std::string sampleTime;
    std::string sleepDelay;
    std::string lowPowerMode;

    friend bool operator==(const StagedParameters &, const StagedParameters &) = default;
};

// In low power mode the TX interval must be at least the sample time plus the margin,
// and at least the minimum.
inline constexpr double kLowPowerMarginMs = 25;
inline constexpr double kLowPowerMinimumTxMs = 41;

// The numbers a box admits, as stageEntries() holds its staged number to them.
struct EntryRange {
    double minimum;
    double maximum;
};
EntryRange entryRange(EntryField field);

// The first number box whose entry is out of range, as stageEntries() finds it; nothing
// when every box holds a number in range or nothing.
std::optional<EntryField> firstOutOfRange(const Entries &entries);

// What the window flags while the operator types: for each box, the text the update would
// show about its entry; empty where the entry is fine. Every box that holds text is held to
// its range. Once every box holds a number in range or nothing, each compatibility rule is
// applied as soon as the entries it needs are given: the TX interval and the low power list on
// "No" or "Yes" for all of them, the sample time too for those that weigh it.
struct EntryWarnings {
    std::string txInterval;
    std::string sampleTime;
    std::string sleepDelay;
    std::string lowPowerMode;

    friend bool operator==(const EntryWarnings &, const EntryWarnings &) = default;
};
EntryWarnings entryWarnings(const Entries &entries);
// The entries break a compatibility rule by themselves, whatever the module holds.
bool entriesIncompatible(const Entries &entries);

// Stages the entries into staged: an empty text leaves its staged value alone, the
// others stage the decimal text of their number. Returns the range message of the
// first field out of range (staging stops there; the failing field keeps its newly
// staged text), or nothing when all passed. A number too large for a double is out of
// range. The low power mode always stages as its list position - 1; no selection at
// all stages "-1" like "Leave As Is".
std::optional<Message> stageEntries(const Entries &entries, StagedParameters &staged);

// True when the low power choice leaves the module's own value in place: "Leave As Is",
// or no selection at all.
bool lowPowerLeftAsIs(int lowPowerModePosition);

// Low power mode is on when the staged text reads as a nonzero number.
bool lowPowerOn(std::string_view stagedLowPowerMode);

// The entries that make the next updates write values like these from a module: the
// numbers in their decimal text, the low power list on "No" or "Yes".
Entries entriesFor(const StagedParameters &moduleValues);

// The supported models, compared whole and case-sensitively after upper-casing.
bool isSupportedModel(std::string_view model);

// ASCII upper case, in place as the window keeps it.
void upperCaseInPlace(std::string &model);

// The composed warning for staged values that the module cannot run; empty when
// they are compatible. Values are read with readNumber(); the maximum sample time in
// the warning is rounded to a whole number, halves away from zero.
std::string compatibilityWarning(const StagedParameters &staged);
// Its last sentence alone, which needs no sample time: in low power mode the TX interval is
// below the minimum. Empty otherwise.
std::string lowPowerMinimumWarning(const StagedParameters &staged);

} // namespace fw
