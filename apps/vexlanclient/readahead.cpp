#include "vexlanclient/readahead.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/fixedpositions.h"

using tessel::EFile;

ReadAheadReader::ReadAheadReader(tessel::File& file)
    : m_file(file), m_block(kBlock), m_fileLeft(file.available()) {}

bool ReadAheadReader::refill() {
    int n = std::min(m_fileLeft, kBlock);
    if (n <= 0)
        return false;
    m_file.read(m_block.data(), n);
    m_at = 0;
    m_have = n;
    // Asked again rather than counted down, so that a file that changes length is followed
    // as reading it directly would.
    m_fileLeft = m_file.available();
    return true;
}

void ReadAheadReader::read(void* data, int len) {
    auto* out = static_cast<unsigned char*>(data);
    while (len > 0) {
        if (m_at == m_have && !refill())
            TESSEL_THROW_AT(EFile, tessel::fixed::kFileReadShort);
        int n = std::min(len, m_have - m_at);
        std::memcpy(out, m_block.data() + m_at, static_cast<size_t>(n));
        out += n;
        len -= n;
        m_at += n;
        m_consumed += n;
    }
}

void ReadAheadReader::read(tessel::Buffer& data, int len) {
    if (len < 0)
        TESSEL_THROW_AT(EFile, tessel::fixed::kFileReadShort);
    tessel::Buffer fresh(static_cast<uint32_t>(len));
    read(fresh.mutableData(), len);
    data = fresh;
}

int ReadAheadReader::available() {
    int64_t left = static_cast<int64_t>(m_have - m_at) + m_fileLeft;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

int ReadAheadReader::position() {
    return m_consumed;
}

void ReadAheadReader::read(tessel::ISerialize&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(tessel::Buffer&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(tessel::String&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(char&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(unsigned char&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(bool&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(int&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(short&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(unsigned int&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::read(unsigned short&) {
    TESSEL_THROW(tessel::ENotImplemented);
}
void ReadAheadReader::seek(int) {
    TESSEL_THROW(tessel::ENotImplemented);
}
