#include "module_access.h"

#include "data_provider.h"
#include "messages.h"
#include "window_port.h"

namespace fw {

bool ModuleAccess::MRead(uint32_t ID, CommandCode Command, std::string &Value,
                         std::string_view Description) {
    std::string answer;
    if (dp_.ReadModuleCommand(kBaseStationArg, ID, code(Command), answer) != 0) {
        reportFailure(Description);
        return false;
    }
    Value = answerText(answer);
    return true;
}

bool ModuleAccess::MWrite(uint32_t ID, CommandCode Command, const std::string &Value,
                          std::string_view Description) {
    if (dp_.WriteModuleCommand(kBaseStationArg, ID, code(Command), payloadOf(Value)) != 0) {
        reportFailure(Description);
        return false;
    }
    return true;
}

void ModuleAccess::reportFailure(std::string_view description) {
    window_.setDefaultPointer();
    window_.showMessage(messages::moduleFailure(description));
    window_.setStatus("");
}

} // namespace fw
