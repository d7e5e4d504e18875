#include "module_access.h"

#include "data_provider.h"
#include "messages.h"
#include "window_port.h"

namespace fw {

namespace {
constexpr uint8_t kModuleArg = 1;
}

bool ModuleAccess::MRead(uint32_t ID, CommandCode Command, std::string &Value,
                         std::string_view Description) {
    std::string answer;
    if (dp_.ReadModuleCommand(kModuleArg, ID, code(Command), answer) != 0) {
        reportFailure(Description);
        return false;
    }
    // Modules pad their answers after a NUL terminator.
    Value = answer.substr(0, answer.find('\0'));
    return true;
}

bool ModuleAccess::MWrite(uint32_t ID, CommandCode Command, const std::string &Value,
                          std::string_view Description) {
    std::string payload = Value;
    payload.append(2, '\0');
    if (dp_.WriteModuleCommand(kModuleArg, ID, code(Command), payload) != 0) {
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
