// Any bytes from the other end of the provider host's connection: cut into messages, each
// taken apart as the host takes a request and as the program takes an answer. Either it is
// refused with ProtocolError, or it was well-formed and encodes back to the very same bytes.
#include "host_protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace fw::host;

[[noreturn]] void fail(const char *what, std::string_view body) {
    std::fprintf(stderr, "%s for a message of %zu bytes\n", what, body.size());
    std::abort();
}

std::string framed(std::string_view body) {
    const auto length = static_cast<uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    return frame.append(body);
}

template <Call C> void asRequest(std::string_view body) {
    CallArgs<C> args;
    try {
        Decoder request(body);
        decodeRequest(request, args);
    } catch (const ProtocolError &) {
        return;
    }
    if (encodeRequest(args) != framed(body))
        fail("a request taken apart does not encode to itself", body);
}

template <Call C> void asAnswer(std::string_view body) {
    CallArgs<C> args;
    try {
        decodeAnswer(body, args);
    } catch (const ProtocolError &) {
        return;
    }
    if (encodeAnswer(args) != framed(body))
        fail("an answer taken apart does not encode to itself", body);
}

void takeApart(std::string_view body) {
    const auto kind = static_cast<uint8_t>(body[0]);
    const std::optional<Call> call = callOf(static_cast<uint8_t>(kind & ~kAnswerBit));
    if (!call)
        return;
    switch (*call) {
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    case Call::Name:                                                                               \
        if ((kind & kAnswerBit) != 0)                                                              \
            asAnswer<Call::Name>(body);                                                            \
        else                                                                                       \
            asRequest<Call::Name>(body);                                                           \
        break;
#include "provider_calls.def"
    case Call::None:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FrameBuffer frames;
    frames.append(reinterpret_cast<const char *>(data), size);
    try {
        while (std::optional<std::string> body = frames.next()) {
            if (body->empty() || body->size() > kMaxMessage)
                fail("a message out of bounds got through", *body);
            takeApart(*body);
        }
    } catch (const ProtocolError &) {
        // A length out of bounds: the connection ends there.
    }
    return 0;
}
