#pragma once

#include "module_protocol.h"
#include "window_port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

class DataProvider;

// What a step of an update yields when it cannot go on: the message the update ends with.
// Nothing means the step is done and the update goes on.
using Ending = std::optional<Message>;

// Reads and writes one module parameter by command code. A refused exchange comes back as
// the message that ends the update; telling the operator is the update's own business.
class ModuleAccess {
public:
    explicit ModuleAccess(DataProvider &provider) : dp_(provider) {}

    // Value receives the answer up to its first NUL; it is left as it was on failure.
    Ending MRead(uint32_t ID, CommandCode Command, std::string &Value,
                 std::string_view Description);
    // Sends Value followed by two NULs.
    Ending MWrite(uint32_t ID, CommandCode Command, const std::string &Value,
                  std::string_view Description);

private:
    DataProvider &dp_;
};

} // namespace fw
