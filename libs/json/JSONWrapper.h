// JSON documents: JSONWrapper views one parsed value, JSONWrapperFromString parses a text
// and owns the result. The typed conversions follow the JSON library and report a value of
// the wrong kind as EJsonError after a log line. The JSON library itself stays behind this
// header: its value type is only named, never defined here.
//
// Ownership: a wrapper does not own the value it views; the document owns its whole tree,
// and must outlive every wrapper and reader taken from it. Not synchronised: a document and
// its readers belong to one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/serializers.h"
#include "base/string.h"

namespace Json {
class Value;
}

namespace tessel {

class IKeyReader;
class JSONPolyReader;

class JSONWrapper {
public:
    // The value type codes, numbered as the JSON library numbers them.
    enum ValueType : int {
        nullValue = 0,
        intValue = 1,
        uintValue = 2,
        realValue = 3,
        stringValue = 4,
        booleanValue = 5,
        arrayValue = 6,
        objectValue = 7,
    };

    // A view of `value` (never null; not owned).
    explicit JSONWrapper(const Json::Value* value);
    // Copies share the viewed value and an already built reader.
    JSONWrapper(const JSONWrapper& other);
    JSONWrapper& operator=(const JSONWrapper& other);
    virtual ~JSONWrapper();

    virtual const Json::Value* value() const;
    // One of ValueType.
    int getType() const;
    // The reader over this value. The first call builds the whole reader tree below the
    // value (see JSONReader.h); later calls return the same reader, which this wrapper keeps.
    IKeyReader* getReader();
    // The member names of an object value (element key "element"); empty for other values.
    Vector<String> memberNames() const;
    // The member `name` of an object value, or the JSON library's shared null value when
    // there is no such member (or the value is not an object). Never raises.
    JSONWrapper child(const String& name) const;
    // The values the JSON library's iteration walks: an array's items in order, an object's
    // member values in member-name order, nothing for any other value.
    std::vector<JSONWrapper> elements() const;

    // The JSON library's conversions. A value that cannot be converted is logged
    // (ERROR "JSONWrapper" "_as") and raises EJsonError.
    bool asBool() const;
    int asInt() const;
    unsigned int asUInt() const;
    String asString() const;
    std::string asStdString() const;

private:
    const Json::Value* m_value;
    std::unique_ptr<JSONPolyReader> m_reader;
};

// A wrapper that may also change the value it views.
class JSONMutWrapper : public JSONWrapper {
public:
    explicit JSONMutWrapper(Json::Value* value) : JSONWrapper(value), m_mutable(value) {}
    Json::Value* mutableValue() const { return m_mutable; }

private:
    Json::Value* m_mutable;
};

// A parsed document. Comments are accepted and any value may be the root; nesting deeper
// than kMaxDepth is refused, so that no input can exhaust the stack.
class JSONWrapperFromString : public JSONMutWrapper {
public:
    static constexpr int kMaxDepth = 1000;

    // Parses `text`. A text that is not JSON is logged (ERROR "JSONWrapperFromString":
    // "unable to parse json !") and raises EJsonError.
    explicit JSONWrapperFromString(const String& text);
    ~JSONWrapperFromString() override;
    JSONWrapperFromString(const JSONWrapperFromString&) = delete;
    JSONWrapperFromString& operator=(const JSONWrapperFromString&) = delete;

private:
    JSONWrapperFromString(const String& text, std::unique_ptr<Json::Value> document);

    std::unique_ptr<Json::Value> m_document;
};

}  // namespace tessel
