#pragma once

// Text that comes from a data-provider library or describes what it sent: the one UTF-8
// reading, the one hexadecimal form of a module ID and the one " [Code: n]" suffix.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fw {

// Length of the well-formed UTF-8 sequence that text starts with; 0 when it starts with a
// byte that begins none (a stray continuation, an overlong form, a surrogate, a cut) or
// text is empty.
size_t utf8SequenceLength(std::string_view text);

bool isValidUtf8(std::string_view text);

// Text from the library as a message may show it: valid UTF-8 (each invalid byte becomes
// U+FFFD) of at most kLibraryTextLimit characters, the last one "…" when it was cut. A
// library may answer with megabytes, which a message box takes minutes to lay out.
inline constexpr size_t kLibraryTextLimit = 1000;
std::string libraryText(std::string_view text);

// A module ID as the operator sees it: upper-case hexadecimal, no leading zeros.
std::string hexId(uint32_t moduleId);

// A description of an error status as the operator sees it: "text [Code: n]".
std::string withCode(std::string_view description, int32_t code);

} // namespace fw
