#include "module_access.h"

#include "data_provider.h"
#include "messages.h"

namespace fw {

Ending ModuleAccess::MRead(uint32_t ID, CommandCode Command, std::string &Value,
                           std::string_view Description) {
    std::string answer;
    if (dp_.ReadModuleCommand(kBaseStationArg, ID, code(Command), answer) != 0)
        return messages::moduleFailure(Description);
    Value = answerText(answer);
    return std::nullopt;
}

Ending ModuleAccess::MWrite(uint32_t ID, CommandCode Command, const std::string &Value,
                            std::string_view Description) {
    if (dp_.WriteModuleCommand(kBaseStationArg, ID, code(Command), payloadOf(Value)) != 0)
        return messages::moduleFailure(Description);
    return std::nullopt;
}

} // namespace fw
