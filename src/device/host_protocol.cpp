#include "host_protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace fw::host {

const char *callName(uint8_t kind) {
    switch (static_cast<Call>(kind & ~kAnswerBit)) {
    case Call::Create:
        return "zdp_create";
    case Call::Destroy:
        return "zdp_destroy";
    case Call::ErrorText:
        return "zdp_error_text";
    case Call::Probe:
        return "zdp_probe_provider";
    case Call::Open:
        return "zdp_open_connection";
    case Call::Close:
        return "zdp_close_connection";
    case Call::GetChannel:
        return "zdp_get_base_channel";
    case Call::SetChannel:
        return "zdp_set_base_channel";
    case Call::Pair:
        return "zdp_pair_module";
    case Call::Write:
        return "zdp_write_module_command";
    case Call::Read:
        return "zdp_read_module_command";
    }
    return nullptr;
}

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

} // namespace fw::host
