// ReadAheadReader: a sequential reader over an open File that reads the file in 64 KB
// blocks and hands them out in whatever small pieces the caller asks for. Digests read their
// input in chunks of at most 1024 bytes; straight from the File each chunk would cost
// several system calls, which dominates hashing a component of tens of megabytes.
#pragma once

#include <vector>

#include "base/file.h"
#include "base/serialize.h"

class ReadAheadReader : public tessel::IReader {
public:
    static constexpr int kBlock = 65536;

    // `file` is not owned, must be open for reading (or closed: then nothing is available)
    // and must not be read by anyone else while this reader is used.
    explicit ReadAheadReader(tessel::File& file);

    using tessel::IReader::read;
    // Exactly `len` bytes; EFile when the file ends first.
    void read(void* data, int len) override;
    void read(tessel::Buffer& data, int len) override;
    int available() override;
    int position() override;

    // Only raw reads are offered: the rest raise ENotImplemented.
    void read(tessel::ISerialize& object) override;
    void read(tessel::Buffer& data) override;
    void read(tessel::String& text) override;
    void read(char& value) override;
    void read(unsigned char& value) override;
    void read(bool& value) override;
    void read(int& value) override;
    void read(short& value) override;
    void read(unsigned int& value) override;
    void read(unsigned short& value) override;
    void seek(int position) override;

private:
    // Loads the next block; false at the end of the file.
    bool refill();

    tessel::File& m_file;
    std::vector<unsigned char> m_block;
    int m_at = 0;        // next byte of the block to hand out
    int m_have = 0;      // bytes in the block
    int m_fileLeft = 0;  // bytes of the file not yet in the block
    int m_consumed = 0;  // bytes handed out
};
