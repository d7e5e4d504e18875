#pragma once

#include "module_protocol.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

class DataProvider;
class WindowPort;

// Reads and writes one module parameter by command code. On a refused exchange it
// reports to the operator itself and leaves the window idle, so callers only stop.
class ModuleAccess {
public:
    ModuleAccess(DataProvider &provider, WindowPort &window) : dp_(provider), window_(window) {}

    // Value receives the answer up to its first NUL; it is left as it was on failure.
    bool MRead(uint32_t ID, CommandCode Command, std::string &Value, std::string_view Description);
    // Sends Value followed by two NULs.
    bool MWrite(uint32_t ID, CommandCode Command, const std::string &Value,
                std::string_view Description);

private:
    void reportFailure(std::string_view description);

    DataProvider &dp_;
    WindowPort &window_;
};

} // namespace fw
