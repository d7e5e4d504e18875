#pragma once

// The calls of the data-provider ABI as one enumeration, made from provider_calls.def.
// Header-only and free of anything but the standard library, so that the simulator can
// share it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fw::host {

enum class Call : uint8_t {
#define FW_CALL(Name, symbol, Scope, fields, invoke) Name,
    None = 0,
#include "provider_calls.def"
};

// What a call works on: the provider itself, or the base station behind it.
enum class CallScope : uint8_t { Lifecycle, Station };

struct CallRow {
    Call call;
    std::string_view symbol;
    CallScope scope;
};

// Every call but the version, in the ABI's order.
inline constexpr std::array kCalls{
#define FW_CALL(Name, symbol, Scope, fields, invoke) CallRow{Call::Name, #symbol, CallScope::Scope},
#include "provider_calls.def"
};

// The version call's symbol.
inline constexpr std::string_view kVersionSymbol =
#define FW_VERSION_CALL(symbol) #symbol
#include "provider_calls.def"
    ;

// Every symbol a library exports: the version first, then the calls.
inline constexpr size_t kSymbolCount = kCalls.size() + 1;

constexpr size_t indexOf(Call call) {
    return static_cast<size_t>(call) - 1;
}

constexpr std::optional<Call> callOf(uint8_t kind) {
    if (kind == 0 || kind > kCalls.size())
        return std::nullopt;
    return static_cast<Call>(kind);
}

constexpr std::optional<Call> callNamed(std::string_view symbol) {
    for (const CallRow &row : kCalls)
        if (row.symbol == symbol)
            return row.call;
    return std::nullopt;
}

// The library's symbol behind a call, "zdp_create".
constexpr const char *callName(Call call) {
    return kCalls[indexOf(call)].symbol.data();
}

} // namespace fw::host
