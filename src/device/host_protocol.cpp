#include "host_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace fw::host {

Encoder &Encoder::raw(const void *data, size_t size) {
    body_.append(static_cast<const char *>(data), size);
    return *this;
}

Encoder &Encoder::bytes(std::string_view value) {
    u32(static_cast<uint32_t>(value.size()));
    body_.append(value);
    return *this;
}

std::string Encoder::frame() const {
    const auto length = static_cast<uint32_t>(body_.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    return frame + body_;
}

Decoder::Decoder(std::string_view body) : rest_(body) {
    kind_ = u8();
}

void Decoder::copy(void *into, size_t size) {
    if (rest_.size() < size)
        throw ProtocolError("a message was cut short");
    std::memcpy(into, rest_.data(), size);
    rest_.remove_prefix(size);
}

bool Decoder::boolean() {
    const uint8_t value = u8();
    if (value > 1)
        throw ProtocolError("a yes-or-no field held " + std::to_string(value));
    return value == 1;
}

std::string Decoder::bytes(size_t limit) {
    const uint32_t length = u32();
    if (length > limit || length > rest_.size())
        throw ProtocolError("a field of " + std::to_string(length) + " bytes does not fit");
    std::string value(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return value;
}

void Decoder::end() const {
    if (!rest_.empty())
        throw ProtocolError(std::to_string(rest_.size()) + " bytes were left over in a message");
}

std::optional<std::string> FrameBuffer::next() {
    uint32_t length = 0;
    if (buffer_.size() < sizeof length)
        return std::nullopt;
    std::memcpy(&length, buffer_.data(), sizeof length);
    if (length == 0 || length > kMaxMessage)
        throw ProtocolError("a message of " + std::to_string(length) + " bytes");
    if (buffer_.size() - sizeof length < length)
        return std::nullopt;
    std::string body = buffer_.substr(sizeof length, length);
    buffer_.erase(0, sizeof length + length);
    return body;
}

bool sendAll(int fd, std::string_view frame) {
    while (!frame.empty()) {
        const ssize_t sent = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        frame.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

std::string cutText(std::string_view text, size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    size_t end = limit;
    // Back over the continuation bytes of a character that the cut would split.
    size_t back = 0;
    while (end > 0 && back < 3 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) {
        --end;
        ++back;
    }
    return std::string(text.substr(0, end));
}

// The fields are statement lists spliced in whole, which parentheses would break.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define FW_IN(type, name) e.put(c.name);
#define FW_INOUT(type, name) e.put(c.name);
#define FW_IN_BYTES(name, limit) e.bytes(c.name);
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    std::string encodeRequest([[maybe_unused]] const CallArgs<Call::Name> &c) {                    \
        Encoder e(static_cast<uint8_t>(Call::Name));                                               \
        fields return e.frame();                                                                   \
    }
#include "provider_calls.def"

#define FW_IN(type, name) d.get(c.name);
#define FW_INOUT(type, name) d.get(c.name);
#define FW_IN_BYTES(name, limit) c.name = d.bytes(limit);
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    void decodeRequest(Decoder &d, [[maybe_unused]] CallArgs<Call::Name> &c) {                     \
        fields d.end();                                                                            \
    }
#include "provider_calls.def"

#define FW_OUT(type, name) e.put(c.name);
#define FW_INOUT(type, name) e.put(c.name);
#define FW_OUT_BYTES(name, limit) e.bytes(c.name);
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    std::string encodeAnswer([[maybe_unused]] const CallArgs<Call::Name> &c) {                     \
        Encoder e(static_cast<uint8_t>(static_cast<uint8_t>(Call::Name) | kAnswerBit));            \
        fields return e.frame();                                                                   \
    }
#include "provider_calls.def"
// NOLINTEND(bugprone-macro-parentheses)

#define FW_OUT(type, name) d.get(c.name);
#define FW_INOUT(type, name) d.get(c.name);
#define FW_OUT_BYTES(name, limit) c.name = d.bytes(limit);
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    void decodeAnswer(std::string_view body, [[maybe_unused]] CallArgs<Call::Name> &c) {           \
        Decoder d(body);                                                                           \
        if (d.kind() != (static_cast<uint8_t>(Call::Name) | kAnswerBit))                           \
            throw ProtocolError("an answer of another kind");                                      \
        fields d.end();                                                                            \
    }
#include "provider_calls.def"

} // namespace fw::host
