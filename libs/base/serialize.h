// The reader and writer contracts through which every stored object is read and written.
// Sequential readers/writers (IReader, IWriter) move values in order without names; keyed
// ones (IKeyReader, IKeyWriter) add named entries so that a document tree can be walked.
//
// Every read fills its argument completely or raises. An operation that a class does not
// support raises ENotImplemented; an absent key raises the reader's EKeyReader family.
// Child readers returned by getKey and child writers returned by writeKey belong to their
// parent and stay valid only until the next getKey / writeKey on that parent.
#pragma once

#include "base/buffer.h"
#include "base/string.h"

namespace tessel {

class IReader;
class IKeyReader;
class IWriter;
class IKeyWriter;

class ISerialize {
public:
    virtual ~ISerialize() = default;
    // Fill the object from a keyed reader positioned on the object's own entry.
    virtual void read(IKeyReader& reader) = 0;
    // Fill the object from a sequential reader.
    virtual void read(IReader& reader) = 0;
    // Write the members as keyed entries under the writer's current entry.
    virtual void write(IKeyWriter& writer) = 0;
    // Write the members in sequence.
    virtual void write(IWriter& writer) = 0;
};

class IReader {
public:
    virtual ~IReader() = default;
    // Exactly `len` raw bytes.
    virtual void read(void* data, int len) = 0;
    // Exactly `len` raw bytes into a fresh buffer that replaces `data`.
    virtual void read(Buffer& data, int len) = 0;
    // Hands the object this reader (keyed readers: object.read(IKeyReader&)).
    virtual void read(ISerialize& object) = 0;
    // Self-delimited buffer and string.
    virtual void read(Buffer& data) = 0;
    virtual void read(String& text) = 0;
    virtual void read(char& value) = 0;
    virtual void read(unsigned char& value) = 0;
    virtual void read(bool& value) = 0;
    virtual void read(int& value) = 0;
    virtual void read(short& value) = 0;
    // Every element count is read as unsigned int.
    virtual void read(unsigned int& value) = 0;
    virtual void read(unsigned short& value) = 0;
    // Bytes left before the end.
    virtual int available() = 0;
    virtual int position() = 0;
    virtual void seek(int position) = 0;
};

class IKeyReader : public IReader {
public:
    using IReader::read;
    // Number of entries under `key` at this level.
    virtual int count(const String& key) = 0;
    virtual int count(const char* key) = 0;
    // At least one usable entry `key` exists.
    virtual bool hasKey(const String& key) = 0;
    virtual bool hasKey(const char* key) = 0;
    // Reader on the next entry named `key` (document order); raises when there is none.
    // Owned by this reader; valid until the next getKey on it.
    virtual IKeyReader* getKey(const String& key) = 0;
    virtual IKeyReader* getKey(const char* key) = 0;
    virtual bool hasAttribute(const char* name) = 0;
    // The attribute's value; empty when absent (raises nothing).
    virtual String getAttribute(const char* name) = 0;
};

class IWriter {
public:
    virtual ~IWriter() = default;
    virtual void write(const void* data, int len) = 0;
    // The first `len` bytes of `data`, raw.
    virtual void write(const Buffer& data, int len) = 0;
    // Hands the object this writer (keyed writers: object.write(IKeyWriter&)).
    virtual void write(ISerialize& object) = 0;
    // Self-delimited buffer and string.
    virtual void write(const Buffer& data) = 0;
    virtual void write(const String& text) = 0;
    virtual void write(char value) = 0;
    virtual void write(unsigned char value) = 0;
    virtual void write(bool value) = 0;
    virtual void write(int value) = 0;
    virtual void write(short value) = 0;
    virtual void write(unsigned int value) = 0;
    virtual void write(unsigned short value) = 0;
    // Capacity hint for `len` further bytes; writes nothing.
    virtual void reserve(int len) = 0;

    // A literal is a String, not a bool (which the language would otherwise pick).
    void write(const char* text) { write(String(text)); }
};

class IKeyWriter : public IWriter {
public:
    using IWriter::write;
    // Opens a child entry under the current entry; the previous child is closed. The child
    // writer belongs to this writer and stays valid until the next writeKey on it.
    virtual IKeyWriter* writeKey(const String& key) = 0;
    virtual IKeyWriter* writeKey(const char* key) = 0;
    // Adds an attribute to the current entry; returns this writer.
    virtual IKeyWriter* writeAttribute(const String& name, const String& value) = 0;
};

class IArchive : public IWriter, public IReader {
public:
    using IReader::read;
    using IWriter::write;
};

}  // namespace tessel
