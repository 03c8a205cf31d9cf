#include "http/pacwire.h"

namespace tessel {
namespace http {
namespace pacwire {

void Encoder::u32(uint32_t value) {
    for (int i = 0; i < 4; ++i)
        u8(static_cast<uint8_t>(value >> (8 * i)));
}

void Encoder::i64(int64_t value) {
    auto bits = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        u8(static_cast<uint8_t>(bits >> (8 * i)));
}

void Encoder::text(const String& value) {
    u32(value.length());
    m_payload.append(value.data(), value.length());
}

std::string Encoder::frame(Kind kind) const {
    std::string out;
    out.reserve(kHeaderBytes + m_payload.size());
    out.push_back(static_cast<char>(kind));
    auto length = static_cast<uint32_t>(m_payload.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(length >> (8 * i)));
    out.append(m_payload);
    return out;
}

bool Decoder::u8(uint8_t& value) {
    if (m_at >= m_size)
        return false;
    value = static_cast<uint8_t>(m_data[m_at++]);
    return true;
}

bool Decoder::u32(uint32_t& value) {
    if (m_size - m_at < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(m_data[m_at++])) << (8 * i);
    return true;
}

bool Decoder::i64(int64_t& value) {
    if (m_size - m_at < 8)
        return false;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<uint64_t>(static_cast<uint8_t>(m_data[m_at++])) << (8 * i);
    value = static_cast<int64_t>(bits);
    return true;
}

bool Decoder::text(String& value, uint32_t cap) {
    uint32_t length = 0;
    if (!u32(length) || length > cap || m_size - m_at < length)
        return false;
    value = String::copy(m_data + m_at, length);
    m_at += length;
    return true;
}

void parseHeader(const char* header, uint8_t& kind, uint32_t& length) {
    kind = static_cast<uint8_t>(header[0]);
    length = 0;
    for (int i = 0; i < 4; ++i)
        length |= static_cast<uint32_t>(static_cast<uint8_t>(header[1 + i])) << (8 * i);
}

}  // namespace pacwire
}  // namespace http
}  // namespace tessel
