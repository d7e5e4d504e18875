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

// The operator's entries on the "Acquisition Modules" tab, as the controls hold them.
struct ParameterEntries {
    std::string txInterval;
    std::string sampleTime;
    std::string sleepDelay;
    int lowPowerModePosition = -1; // 0 "Leave As Is", 1 "No", 2 "Yes", -1 none
};

// Stages the entries into staged: an empty text leaves its staged value alone, the
// others stage the decimal text of their number. Returns the range message of the
// first field out of range (staging stops there), or nothing when all passed.
std::optional<Message> stageEntries(const ParameterEntries &entries, StagedParameters &staged);

// The supported models, compared whole and case-sensitively after upper-casing.
bool isSupportedModel(std::string_view model);

// ASCII upper case, in place as the window keeps it.
void upperCaseInPlace(std::string &model);

// The composed warning for staged values that the module cannot run; empty when
// they are compatible. Values are read with readNumber().
std::string compatibilityWarning(const StagedParameters &staged);

} // namespace fw
