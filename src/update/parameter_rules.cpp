#include "parameter_rules.h"

#include "messages.h"
#include "module_protocol.h"
#include "number_text.h"

#include <algorithm>
#include <cmath>

namespace fw {

namespace {

struct NumberField {
    std::string ParameterEntries::*entry;
    std::string StagedParameters::*staged;
    double minimum;
    double maximum;
    std::string_view rangeText;
};

// Staged and checked in this order; only the first field out of range is reported.
constexpr std::array<NumberField, 3> kNumberFields{{
    {&ParameterEntries::txInterval, &StagedParameters::txInterval, 5, 60000,
     "The valid range for the TX Interval is 5 to 60000 ms"},
    {&ParameterEntries::sampleTime, &StagedParameters::sampleTime, 5, 60000,
     "The valid range for the Sample Time is 5 to 60000 ms"},
    {&ParameterEntries::sleepDelay, &StagedParameters::sleepDelay, 0, 3600,
     "The valid range for the Sleep Delay is 0 to 3600 s"},
}};

std::string maximumSampleTimeSentence(double maximum) {
    // std::round takes halves away from zero.
    return "WARNING: The Sample Time is too large for the selected TX Interval. The maximum "
           "Sample Time is " +
           decimalText(std::round(maximum)) + " mS" + std::string(messages::kLineBreak);
}

} // namespace

std::optional<Message> stageEntries(const ParameterEntries &entries, StagedParameters &staged) {
    for (const NumberField &field : kNumberFields) {
        const std::string &text = entries.*field.entry;
        if (text.empty())
            continue;
        std::string &target = staged.*field.staged;
        target = decimalText(readNumber(text));
        // The range applies to the number as staged, which is what the module gets.
        const double value = readNumber(target);
        if (!(value >= field.minimum && value <= field.maximum))
            return messages::outOfRange(field.rangeText);
    }
    staged.lowPowerMode = std::to_string(std::max(entries.lowPowerModePosition, 0) - 1);
    return std::nullopt;
}

bool lowPowerLeftAsIs(int lowPowerModePosition) {
    return lowPowerModePosition <= 0;
}

bool lowPowerOn(std::string_view stagedLowPowerMode) {
    return readNumber(stagedLowPowerMode) != 0.0;
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
    if (lowPower && tx < kLowPowerMinimumTxMs)
        warning += "WARNING: In low power mode the TX Interval cannot be less than " +
                   decimalText(kLowPowerMinimumTxMs) + " mS!";
    return warning;
}

} // namespace fw
