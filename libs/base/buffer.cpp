#include "base/buffer.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "base/string.h"

namespace tessel {

Buffer::Buffer(uint32_t size) {
    setLength(size);
}

Buffer::Buffer(Buffer&& other) noexcept
    : m_storage(std::move(other.m_storage)), m_data(other.m_data), m_length(other.m_length) {
    other.m_data = nullptr;
    other.m_length = 0;
}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
    if (this != &other) {
        m_storage = std::move(other.m_storage);
        m_data = other.m_data;
        m_length = other.m_length;
        other.m_data = nullptr;
        other.m_length = 0;
    }
    return *this;
}

Buffer::Buffer(const void* data, uint32_t length) {
    append(data, length);
}

Buffer Buffer::fromString(const String& text) {
    return Buffer(text.data(), text.length());
}

unsigned char* Buffer::reserveAppend(uint32_t n) {
    uint32_t room = n == 0 ? 1 : n;
    // The new length, its terminator and the rounding must stay within 32 bits.
    if (room > MemoryBlock::kLargest - 1 - m_length)
        throw std::bad_alloc();
    if (m_storage && m_storage->refCount() <= 1 &&
        m_data == reinterpret_cast<unsigned char*>(m_storage->data())) {
        if (!(m_length < m_storage->capacity() && room < m_storage->capacity() - m_length)) {
            m_storage->growForAppend(m_length + room + 1);
        }
    } else {
        MemoryBlock* block = MemoryBlock::obtain(m_length + room + 1);
        if (m_length)
            std::memcpy(block->data(), m_data, m_length);
        m_storage = block;
    }
    m_data = reinterpret_cast<unsigned char*>(m_storage->data());
    m_data[m_length + n] = 0;
    return m_data + m_length;
}

unsigned char* Buffer::mutableData() {
    reserveAppend(0);
    return m_data;
}

Buffer& Buffer::append(const void* data, uint32_t length) {
    if (length == 0)
        return *this;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (m_data && bytes >= m_data && bytes < m_data + m_length) {
        // Our own bytes: reserving may move them, so keep the old storage alive meanwhile
        // (which also makes the reservation copy instead of growing in place).
        Buffer keep = *this;
        unsigned char* out = reserveAppend(length);
        std::memcpy(out, data, length);
        m_length += length;
        return *this;
    }
    unsigned char* out = reserveAppend(length);
    std::memcpy(out, data, length);
    m_length += length;
    return *this;
}

void Buffer::setLength(uint32_t length) {
    if (length > m_length)
        reserveAppend(length - m_length);
    m_length = length;
    if (m_storage && m_data == reinterpret_cast<unsigned char*>(m_storage->data()) &&
        m_storage->refCount() <= 1) {
        m_data[m_length] = 0;
    }
}

String Buffer::hex() const {
    static const char kDigits[] = "0123456789abcdef";
    String out;
    char* p = out.reserveAppend(m_length * 2);
    for (uint32_t i = 0; i < m_length; ++i) {
        p[2 * i] = kDigits[m_data[i] >> 4];
        p[2 * i + 1] = kDigits[m_data[i] & 0x0F];
    }
    out.setLength(m_length * 2);
    return out;
}

bool Buffer::operator==(const Buffer& other) const noexcept {
    return m_length == other.m_length &&
           (m_length == 0 || std::memcmp(m_data, other.m_data, m_length) == 0);
}

}  // namespace tessel
