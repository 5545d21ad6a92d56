// The project's clock protocol: frames over a byte stream (TCP or serial), their encoding
// and a decoder that rejects anything malformed. See docs/protocol.md.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quorvel/codigos.h"

namespace quorvel::protocol {

inline constexpr uint8_t kMagic0 = 'Q', kMagic1 = 'V';
// The frame layout's version, in every frame header. It has not changed since the first
// protocol, so peers of any protocol version can read each other's hello and its answer.
inline constexpr uint8_t kVersion = 1;
// The protocol's version, agreed in the hello: 2 added the read-ahead frame (kReadAhead), the
// pushed log size (kSubscribe), the log size at the end of a batch, the compact register run
// (kRegisterLog) and fingerprint punches dated by number in kLogSince.
// A peer of another version gets error frame -12 naming both versions.
inline constexpr uint8_t kProtocolVersion = 2;
inline constexpr size_t kHeaderSize = 12;  // magic(2) version(1) op(1) id(4) length(4)
inline constexpr size_t kCrcSize = 4;
inline constexpr uint32_t kMaxPayload = 4u << 20;  // no legitimate frame comes near this

// Frame types. A response carries the request's op with the high bit set.
enum Op : uint8_t {
  kHello = 0x01,
  kProof = 0x02,
  kBatch = 0x03,        // several next-item reads in one round trip
  kLogSince = 0x04,     // the fingerprint clock's log from a position, for a reader's copy
  kReadAhead = 0x05,    // several template reads in one round trip, answered one by one
  kSubscribe = 0x06,    // the clock pushes its log's size to this link (frames with id 0)
  kRegisterLog = 0x07,  // register records in a compact run: no tags, no per-item dispatch
  kError = 0x7F,
  kFirstCall = 0x10,  // one op per device SDK operation, in the order of kCalls
  kResponseBit = 0x80,
};

// Malformed, oversized, truncated or out-of-order input: the peer broke the protocol.
struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t Crc32c(const void* data, size_t size, uint32_t crc = 0);
// The two ways Crc32c computes, exposed so they can be checked against each other: the table
// (any processor) and the processor's instruction (used when the processor has it; on other
// machines it falls back to the table).
uint32_t Crc32cTabela(const void* data, size_t size, uint32_t crc = 0);
uint32_t Crc32cInstrucao(const void* data, size_t size, uint32_t crc = 0);
bool TemInstrucaoCrc();

struct Frame {
  uint8_t op = 0;
  uint32_t id = 0;
  std::string payload;
};

std::string Encode(const Frame& frame);

// Accumulates bytes and hands out whole frames. Never holds more than one maximal frame.
class Decoder {
 public:
  void Feed(const char* data, size_t size);
  // The next complete frame, or nothing yet. Throws ProtocolError (bad magic, version,
  // length or checksum); the decoder is then unusable.
  std::optional<Frame> Next();
  size_t Buffered() const { return buffer_.size() - start_; }

 private:
  std::string buffer_;
  size_t start_ = 0;
};

// Typed values of a call, in the order of the operation's parameters.
using Value = std::variant<int32_t, bool, std::string>;

// Integers travel little-endian whatever the host's order; written and read a word at a
// time, since a punch run is mostly integers.
inline std::array<char, 4> PoeU32(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
          static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}
inline uint32_t LeU32(const char* p) {
  return static_cast<uint32_t>(static_cast<uint8_t>(p[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
}

class Writer {
 public:
  void U8(uint8_t v) { data_.push_back(static_cast<char>(v)); }
  void I32(int32_t v) { data_.append(PoeU32(static_cast<uint32_t>(v)).data(), 4); }
  void Str(std::string_view s);
  void Val(const Value& v);
  void Bytes(std::string_view b) { data_.append(b); }
  std::string& Data() { return data_; }

 private:
  std::string data_;
};

class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  uint8_t U8();
  int32_t I32() {
    if (data_.size() - pos_ < 4) throw ProtocolError("mensagem truncada");
    const uint32_t v = LeU32(data_.data() + pos_);
    pos_ += 4;
    return static_cast<int32_t>(v);
  }
  std::string Str();
  // The same text without a copy (valid while the message is).
  std::string_view StrView();
  Value Val();
  std::string_view Bytes(size_t n);
  bool AtEnd() const { return pos_ == data_.size(); }
  size_t Position() const { return pos_; }
  void ExpectEnd() const {
    if (!AtEnd()) throw ProtocolError("bytes a mais no fim da mensagem");
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// Signature of a device SDK operation as it travels: every parameter in order; the
// reference ones come back in the response.
enum class Kind : uint8_t { Int, Bool, Str };
struct CallSpec {
  const char* name;
  std::vector<Kind> params;
};
// The operations carried over the wire, in opcode order from kFirstCall.
const std::vector<CallSpec>& Calls();
uint8_t OpOf(std::string_view name);  // throws std::logic_error for an unknown name

}  // namespace quorvel::protocol
