// Keyed readers over a parsed JSON document: one counted reader per JSON value, built all at
// once when a wrapper's getReader() is first called. Objects answer getKey by member name
// (always the same reader for one name); arrays ignore the key and hand out their elements
// one after the other; scalars convert their value on each typed read.
//
// Errors: a typed read of null, an object or an array, a missing member and an exhausted
// array raise EJsonKeyReader; a scalar of the wrong kind raises EKeyReader (after the
// wrapper's "JsonLogicError" log line); operations JSON has no use for raise ENotImplemented.
//
// Ownership: child readers belong to their parent, which keeps them for its whole life, and
// callers may also hold any reader through gc::Pointer. A reader reads its value from the
// document when asked, so the document must outlive its readers.
#pragma once

#include <utility>
#include <vector>

#include "base/gcobject.h"
#include "base/serialize.h"
#include "base/string.h"
#include "json/JSONWrapper.h"

namespace tessel {

// The default of every keyed-reader operation, which the null reader keeps unchanged.
class JSONReader : public IKeyReader, public gc::ObjectDelete {
public:
    const char* className() const override { return "JSONReader"; }

    using IKeyReader::read;
    void read(void* data, int len) override;
    void read(Buffer& data, int len) override;
    // Hands the object this reader: object.read(IKeyReader&).
    void read(ISerialize& object) override;
    void read(Buffer& data) override;
    void read(String& text) override;
    void read(char& value) override;
    void read(unsigned char& value) override;
    void read(bool& value) override;
    void read(int& value) override;
    void read(short& value) override;
    void read(unsigned int& value) override;
    void read(unsigned short& value) override;
    int available() override;
    int position() override;
    void seek(int position) override;

    int count(const String& key) override;
    int count(const char* key) override;
    bool hasKey(const String& key) override;
    bool hasKey(const char* key) override;
    IKeyReader* getKey(const String& key) override;
    IKeyReader* getKey(const char* key) override;
    bool hasAttribute(const char* name) override;
    String getAttribute(const char* name) override;
};

// A counted reader and the value type it was chosen for.
class JSONPolyReader {
public:
    JSONPolyReader() = default;
    // Builds the reader for the wrapper's value and, below it, the readers of every nested
    // value. The tree is built without recursion, however deep the value.
    explicit JSONPolyReader(const JSONWrapper& wrapper);

    JSONReader* get() const { return m_reader.get(); }
    int type() const { return m_type; }

private:
    friend class JSONTreeBuilder;
    gc::Pointer<JSONReader> m_reader;
    int m_type = JSONWrapper::nullValue;
};

class JSONNullReader : public JSONReader {
public:
    const char* className() const override { return "JSONNullReader"; }
};

// A number, a string or a boolean.
class JSONValueReader : public JSONReader {
public:
    explicit JSONValueReader(const JSONWrapper& value) : m_value(value) {}
    const char* className() const override { return "JSONValueReader"; }

    using JSONReader::read;
    // The string conversion of the value (numbers and booleans as their text).
    void read(Buffer& data) override;
    void read(String& text) override;
    void read(bool& value) override;
    void read(int& value) override;
    void read(unsigned int& value) override;

private:
    JSONWrapper m_value;
};

class JSONArrayReader : public JSONReader {
public:
    const char* className() const override { return "JSONArrayReader"; }

    // The number of elements, whatever the key.
    int count(const String& key) override;
    int count(const char* key) override;
    // The next element, whatever the key: the first call gives element 0. Past the last
    // element: EJsonKeyReader.
    IKeyReader* getKey(const String& key) override;
    IKeyReader* getKey(const char* key) override;

private:
    friend class JSONTreeBuilder;
    std::vector<JSONPolyReader> m_elements;
    int m_cursor = 0;
};

class JSONObjectReader : public JSONReader {
public:
    const char* className() const override { return "JSONObjectReader"; }

    // 1 when the member exists (whatever its value, null included), else 0.
    int count(const String& key) override;
    int count(const char* key) override;
    bool hasKey(const String& key) override;
    bool hasKey(const char* key) override;
    // The member's reader, the same one on every call; EJsonKeyReader when absent.
    IKeyReader* getKey(const String& key) override;
    IKeyReader* getKey(const char* key) override;

private:
    friend class JSONTreeBuilder;
    const JSONPolyReader* find(const String& key) const;

    // In byte-wise order of the names; the names point into the document.
    std::vector<std::pair<String, JSONPolyReader>> m_members;
};

}  // namespace tessel
