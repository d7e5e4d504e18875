#pragma once

#include "provider_calls.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The messages between a client (the program, the checker) and fleetwright-provider-host,
// the process that holds the data-provider library. They travel over one stream socket,
// one request and then one answer at a time. Every message is a 32-bit length in native
// byte order (both ends are the same build on one machine) followed by that many bytes:
// a kind byte, then the fields of that kind in a fixed order. A message is taken only
// whole: a length out of bounds, a field cut short or a byte left over is a protocol fault.
//
// The host speaks first, once, with Hello:
//   u8 loaded; loaded: u16 present calls (bit n: Call n + 1), u8 has version, u32 version;
//   not loaded: i32 loader error, text why
// Then each request's kind is its Call and its fields are those of the call's row in
// provider_calls.def; its answer's kind is the same Call with kAnswerBit set. The provider
// is the library's pointer as a number; the client never looks behind it. "bytes" and
// "text" are a u32 length and that many bytes; a bool is a u8 of 0 or 1.
namespace fw::host {

inline constexpr uint8_t kHello = 0x40;
inline constexpr uint8_t kAnswerBit = 0x80;

// The bit of Hello's present calls that stands for a call.
inline uint16_t presentBit(Call call) {
    return static_cast<uint16_t>(1u << indexOf(call));
}
static_assert(kCalls.size() <= 16, "Hello's present calls are 16 bits");

// Bounds of every message, so that neither end can be made to hold more.
inline constexpr size_t kMaxMessage = size_t{1} << 20;
// A read answer holds at most this much; a larger capacity is refused by the client.
inline constexpr size_t kMaxReadCapacity = size_t{256} * 1024;
// Library texts longer than this are cut (at a character boundary) before they travel.
inline constexpr size_t kMaxText = size_t{64} * 1024;
// Bytes either side of a read's buffer that the host watches for writes past it.
inline constexpr size_t kGuardBytes = 64;

// The host finds its connection here.
inline constexpr int kConnectionFd = 3;
// Exit status of a host whose client broke the protocol.
inline constexpr int kProtocolFaultExit = 97;

class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds one message.
class Encoder {
public:
    explicit Encoder(uint8_t kind) { body_.push_back(static_cast<char>(kind)); }

    Encoder &u8(uint8_t value) { return raw(&value, sizeof value); }
    Encoder &u16(uint16_t value) { return raw(&value, sizeof value); }
    Encoder &u32(uint32_t value) { return raw(&value, sizeof value); }
    Encoder &u64(uint64_t value) { return raw(&value, sizeof value); }
    Encoder &i16(int16_t value) { return raw(&value, sizeof value); }
    Encoder &i32(int32_t value) { return raw(&value, sizeof value); }
    Encoder &bytes(std::string_view value);
    Encoder &put(bool value) { return u8(value ? 1 : 0); }
    template <typename T> Encoder &put(T value) { return raw(&value, sizeof value); }

    // The length prefix and the body, ready to send.
    std::string frame() const;

private:
    Encoder &raw(const void *data, size_t size);
    std::string body_;
};

// Takes one message apart; every shortfall throws ProtocolError.
class Decoder {
public:
    explicit Decoder(std::string_view body);

    uint8_t kind() const { return kind_; }
    uint8_t u8() { return take<uint8_t>(); }
    uint16_t u16() { return take<uint16_t>(); }
    uint32_t u32() { return take<uint32_t>(); }
    uint64_t u64() { return take<uint64_t>(); }
    int16_t i16() { return take<int16_t>(); }
    int32_t i32() { return take<int32_t>(); }
    bool boolean();
    std::string bytes(size_t limit);
    void get(bool &value) { value = boolean(); }
    template <typename T> void get(T &value) { value = take<T>(); }
    // Throws unless every byte has been taken.
    void end() const;

private:
    template <typename T> T take() {
        T value{};
        copy(&value, sizeof value);
        return value;
    }
    void copy(void *into, size_t size);

    std::string_view rest_;
    uint8_t kind_ = 0;
};

// Gathers bytes from a stream and cuts whole messages out of them.
class FrameBuffer {
public:
    void append(const char *data, size_t size) { buffer_.append(data, size); }
    // The next whole message body, if one has arrived; throws ProtocolError on a length
    // out of bounds.
    std::optional<std::string> next();

private:
    std::string buffer_;
};

// Writes the whole frame, retrying after signals; false when the other end has gone. Never
// raises SIGPIPE.
bool sendAll(int fd, std::string_view frame);

// At most limit bytes of text, cut before a character that would not fit whole.
std::string cutText(std::string_view text, size_t limit);

// Every call's fields, as provider_calls.def lists them: what a request carries in and its
// answer carries back.
template <Call C> struct CallArgs;
#define FW_IN(type, name) type name{};
#define FW_OUT(type, name) type name{};
#define FW_INOUT(type, name) type name{};
#define FW_IN_BYTES(name, limit) std::string name{};
#define FW_OUT_BYTES(name, limit) std::string name{};
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    template <> struct CallArgs<Call::Name> {                                                      \
        static constexpr Call kCall = Call::Name;                                                  \
        fields                                                                                     \
    };
#include "provider_calls.def"

// The codec of every call, one for both ends. A request frame from the caller's fields; the
// request's fields from a message whose kind was read (throws ProtocolError, and on bytes
// left over); the answer frame from the fields; the answer's fields from a message, which
// must be of the call's answer kind.
#define FW_CALL(Name, symbol, Scope, fields, invoke)                                               \
    std::string encodeRequest(const CallArgs<Call::Name> &c);                                      \
    void decodeRequest(Decoder &request, CallArgs<Call::Name> &c);                                 \
    std::string encodeAnswer(const CallArgs<Call::Name> &c);                                       \
    void decodeAnswer(std::string_view body, CallArgs<Call::Name> &c);
#include "provider_calls.def"

} // namespace fw::host
