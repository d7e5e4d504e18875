#include "parameter_rules.h"

#include "messages.h"
#include "module_protocol.h"
#include "number_text.h"

#include <algorithm>
#include <cmath>

namespace fw {

namespace {

struct NumberField {
    EntryField field;
    std::string Entries::*entry;
    std::string StagedParameters::*staged;
    std::string EntryWarnings::*warning;
    double minimum;
    double maximum;
    std::string_view rangeText;
};

// Staged and checked in this order; only the first field out of range is reported.
constexpr std::array<NumberField, 3> kNumberFields{{
    {EntryField::TxInterval, &Entries::txInterval, &StagedParameters::txInterval,
     &EntryWarnings::txInterval, 5, 60000, "The valid range for the TX Interval is 5 to 60000 ms"},
    {EntryField::SampleTime, &Entries::sampleTime, &StagedParameters::sampleTime,
     &EntryWarnings::sampleTime, 5, 60000, "The valid range for the Sample Time is 5 to 60000 ms"},
    {EntryField::SleepDelay, &Entries::sleepDelay, &StagedParameters::sleepDelay,
     &EntryWarnings::sleepDelay, 0, 3600, "The valid range for the Sleep Delay is 0 to 3600 s"},
}};

std::string maximumSampleTimeSentence(double maximum) {
    // std::round takes halves away from zero.
    return "WARNING: The Sample Time is too large for the selected TX Interval. The maximum "
           "Sample Time is " +
           decimalText(std::round(maximum)) + " mS" + std::string(messages::kLineBreak);
}

std::string stagedText(const std::string &entry) {
    return decimalText(readNumber(entry));
}

// The range applies to the number as staged, which is what the module gets.
bool inRange(const NumberField &field, const std::string &staged) {
    const double value = readNumber(staged);
    return value >= field.minimum && value <= field.maximum;
}

std::string stagedLowPowerMode(int position) {
    return std::to_string(std::max(position, 0) - 1);
}

} // namespace

EntryRange entryRange(EntryField field) {
    const auto found = std::find_if(kNumberFields.begin(), kNumberFields.end(),
                                    [field](const NumberField &f) { return f.field == field; });
    return {found->minimum, found->maximum};
}

std::optional<EntryField> firstOutOfRange(const Entries &entries) {
    for (const NumberField &field : kNumberFields) {
        const std::string &text = entries.*field.entry;
        if (!text.empty() && !inRange(field, stagedText(text)))
            return field.field;
    }
    return std::nullopt;
}

EntryWarnings entryWarnings(const Entries &entries) {
    EntryWarnings warnings;
    bool allInRange = true;
    StagedParameters staged;
    for (const NumberField &field : kNumberFields) {
        const std::string &text = entries.*field.entry;
        if (text.empty())
            continue;
        staged.*field.staged = stagedText(text);
        if (!inRange(field, staged.*field.staged)) {
            warnings.*field.warning = messages::outOfRange(field.rangeText).text;
            allInRange = false;
        }
    }
    // An update stops at the first range message, so it would never reach these rules. Each
    // rule needs the TX interval and the low power choice; only the minimum needs no sample time.
    if (!allInRange || entries.txInterval.empty() || lowPowerLeftAsIs(entries.lowPowerModePosition))
        return warnings;
    staged.lowPowerMode = stagedLowPowerMode(entries.lowPowerModePosition);
    const bool sampleGiven = !entries.sampleTime.empty();
    const std::string warning =
        sampleGiven ? compatibilityWarning(staged) : lowPowerMinimumWarning(staged);
    if (!warning.empty()) {
        const std::string text = messages::incompatible(warning).text;
        warnings.txInterval = text;
        if (sampleGiven)
            warnings.sampleTime = text;
        warnings.lowPowerMode = text;
    }
    return warnings;
}

bool entriesIncompatible(const Entries &entries) {
    // Only a compatibility rule flags the low power choice.
    return !entryWarnings(entries).lowPowerMode.empty();
}

std::optional<Message> stageEntries(const Entries &entries, StagedParameters &staged) {
    for (const NumberField &field : kNumberFields) {
        const std::string &text = entries.*field.entry;
        if (text.empty())
            continue;
        std::string &target = staged.*field.staged;
        target = stagedText(text);
        if (!inRange(field, target))
            return messages::outOfRange(field.rangeText);
    }
    staged.lowPowerMode = stagedLowPowerMode(entries.lowPowerModePosition);
    return std::nullopt;
}

bool lowPowerLeftAsIs(int lowPowerModePosition) {
    return lowPowerModePosition <= 0;
}

bool lowPowerOn(std::string_view stagedLowPowerMode) {
    return readNumber(stagedLowPowerMode) != 0.0;
}

Entries entriesFor(const StagedParameters &moduleValues) {
    constexpr int kNo = 1;
    constexpr int kYes = 2;
    return {decimalText(readNumber(moduleValues.txInterval)),
            decimalText(readNumber(moduleValues.sampleTime)),
            decimalText(readNumber(moduleValues.sleepDelay)),
            lowPowerOn(moduleValues.lowPowerMode) ? kYes : kNo};
}

bool isSupportedModel(std::string_view model) {
    return std::find(kSupportedModels.begin(), kSupportedModels.end(), model) !=
           kSupportedModels.end();
}

void upperCaseInPlace(std::string &model) {
    // ASCII only: the module's model names are ASCII, and other bytes stay as they came.
    for (char &c : model)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
}

std::string compatibilityWarning(const StagedParameters &staged) {
    const double tx = readNumber(staged.txInterval);
    const double sample = readNumber(staged.sampleTime);
    const bool lowPower = lowPowerOn(staged.lowPowerMode);

    std::string warning;
    if (lowPower && tx < sample + kLowPowerMarginMs)
        warning = maximumSampleTimeSentence(tx - kLowPowerMarginMs);
    if (!lowPower && sample > tx)
        warning = maximumSampleTimeSentence(tx);
    return warning + lowPowerMinimumWarning(staged);
}

std::string lowPowerMinimumWarning(const StagedParameters &staged) {
    if (!lowPowerOn(staged.lowPowerMode) || readNumber(staged.txInterval) >= kLowPowerMinimumTxMs)
        return {};
    return "WARNING: In low power mode the TX Interval cannot be less than " +
           decimalText(kLowPowerMinimumTxMs) + " mS!";
}

} // namespace fw
