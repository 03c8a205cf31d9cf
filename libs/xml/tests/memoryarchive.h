// An in-memory sequential archive for round trips of the binary form: integers in host order,
// strings and buffers as an unsigned length followed by the bytes (the layout of File).
#pragma once

#include <cstring>
#include <string>

#include "base/buffer.h"
#include "base/exception.h"
#include "base/serialize.h"

namespace xmltest {

class MemoryArchive : public tessel::IArchive {
public:
    using tessel::IArchive::read;
    using tessel::IArchive::write;

    void write(const void* data, int len) override {
        if (len > 0)
            m_bytes.append(static_cast<const char*>(data), static_cast<size_t>(len));
    }
    void write(const tessel::Buffer& data, int len) override { write(data.data(), len); }
    void write(tessel::ISerialize& object) override {
        object.write(static_cast<tessel::IWriter&>(*this));
    }
    void write(const tessel::Buffer& data) override {
        write(data.length());
        write(data.data(), static_cast<int>(data.length()));
    }
    void write(const tessel::String& text) override {
        write(text.length());
        write(text.data(), static_cast<int>(text.length()));
    }
    void write(char v) override { write(&v, 1); }
    void write(unsigned char v) override { write(&v, 1); }
    void write(bool v) override { write(static_cast<unsigned char>(v ? 1 : 0)); }
    void write(int v) override { write(&v, 4); }
    void write(short v) override { write(&v, 2); }
    void write(unsigned int v) override { write(&v, 4); }
    void write(unsigned short v) override { write(&v, 2); }
    void reserve(int) override {}

    void read(void* data, int len) override {
        if (len < 0 || m_at + static_cast<size_t>(len) > m_bytes.size()) {
            TESSEL_THROW(tessel::EFile);
        }
        std::memcpy(data, m_bytes.data() + m_at, static_cast<size_t>(len));
        m_at += static_cast<size_t>(len);
    }
    void read(tessel::Buffer& data, int len) override {
        tessel::Buffer fresh(static_cast<uint32_t>(len));
        read(fresh.mutableData(), len);
        data = fresh;
    }
    void read(tessel::ISerialize& object) override {
        object.read(static_cast<tessel::IReader&>(*this));
    }
    void read(tessel::Buffer& data) override {
        unsigned int n = 0;
        read(n);
        read(data, static_cast<int>(n));
    }
    void read(tessel::String& text) override {
        unsigned int n = 0;
        read(n);
        if (m_at + n > m_bytes.size())
            TESSEL_THROW(tessel::EFile);
        text = tessel::String::copy(m_bytes.data() + m_at, n);
        m_at += n;
    }
    void read(char& v) override { read(&v, 1); }
    void read(unsigned char& v) override { read(&v, 1); }
    void read(bool& v) override {
        unsigned char b = 0;
        read(b);
        v = b != 0;
    }
    void read(int& v) override { read(&v, 4); }
    void read(short& v) override { read(&v, 2); }
    void read(unsigned int& v) override { read(&v, 4); }
    void read(unsigned short& v) override { read(&v, 2); }
    int available() override { return static_cast<int>(m_bytes.size() - m_at); }
    int position() override { return static_cast<int>(m_at); }
    void seek(int position) override { m_at = static_cast<size_t>(position); }

    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    size_t m_at = 0;
};

}  // namespace xmltest
