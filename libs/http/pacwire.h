// The messages between the client and its proxy-script evaluator process (vexlan-pac-eval):
// frames of one kind byte, a four-byte little-endian payload length and the payload, whose
// fields are bytes, little-endian integers and length-prefixed texts. Every side bounds what
// it accepts: a frame or text over its cap is a broken conversation.
//
//   client -> evaluator  kEvaluate  u32 timeout ms, u32 heap bytes, i64 clock, text script,
//                                   text url, text host
//   evaluator -> client  kQuestion  u8 (0 resolve, 1 myIpAddress), text host
//   client -> evaluator  kAddress   text address (empty: does not resolve)
//   evaluator -> client  kAlert     text
//   evaluator -> client  kResult    u8 (PacScript::Result), text answer or reason
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/string.h"

namespace tessel {
namespace http {
namespace pacwire {

enum Kind : uint8_t {
    kEvaluate = 'E',  // one evaluation
    kQuestion = 'Q',  // a DNS helper's question
    kAddress = 'A',   // the client's answer to a question
    kAlert = 'T',     // a text of alert()
    kResult = 'R',    // the outcome of the evaluation; the conversation is over
};

constexpr uint32_t kHeaderBytes = 5;
// Longest proxy script the evaluator accepts, whatever the caller's own limit.
constexpr uint32_t kMaxScriptBytes = 16 * 1024 * 1024;
constexpr uint32_t kMaxUrlBytes = 64 * 1024;
constexpr uint32_t kMaxHostBytes = 64 * 1024;
// Longest name worth asking about (DNS names have at most 253 bytes) and longest address.
constexpr uint32_t kMaxNameBytes = 255;
constexpr uint32_t kMaxAddressBytes = 64;
// Distinct names one evaluation may ask about (the evaluator keeps the answers).
constexpr uint32_t kMaxQuestions = 256;
constexpr uint32_t kMaxReasonBytes = 512;
// Largest payload of each direction.
constexpr uint32_t kMaxRequestPayload =
    4 + 4 + 8 + 3 * 4 + kMaxScriptBytes + kMaxUrlBytes + kMaxHostBytes;
constexpr uint32_t kMaxReplyPayload = 1 + 4 + 64 * 1024;

// Builds one frame.
class Encoder {
public:
    void u8(uint8_t value) { m_payload.push_back(static_cast<char>(value)); }
    void u32(uint32_t value);
    void i64(int64_t value);
    void text(const String& value);
    std::string frame(Kind kind) const;

private:
    std::string m_payload;
};

// Reads the fields of one payload; every call fails once the payload is exhausted or a
// text is longer than its cap.
class Decoder {
public:
    Decoder(const char* data, size_t size) : m_data(data), m_size(size) {}
    bool u8(uint8_t& value);
    bool u32(uint32_t& value);
    bool i64(int64_t& value);
    bool text(String& value, uint32_t cap);
    bool atEnd() const { return m_at == m_size; }

private:
    const char* m_data;
    size_t m_size;
    size_t m_at = 0;
};

// The kind and payload length of a header of kHeaderBytes bytes.
void parseHeader(const char* header, uint8_t& kind, uint32_t& length);

}  // namespace pacwire
}  // namespace http
}  // namespace tessel
