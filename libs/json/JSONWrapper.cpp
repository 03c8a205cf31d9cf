#include "json/JSONWrapper.h"

#include <json/reader.h>
#include <json/value.h>

#include "base/console.h"
#include "base/exception.h"
#include "base/fixedpositions.h"
#include "json/JSONReader.h"

namespace tessel {
namespace {

constexpr bool sameCode(JSONWrapper::ValueType ours, Json::ValueType theirs) {
    return static_cast<int>(ours) == static_cast<int>(theirs);
}
static_assert(sameCode(JSONWrapper::nullValue, Json::nullValue) &&
                  sameCode(JSONWrapper::intValue, Json::intValue) &&
                  sameCode(JSONWrapper::uintValue, Json::uintValue) &&
                  sameCode(JSONWrapper::realValue, Json::realValue) &&
                  sameCode(JSONWrapper::stringValue, Json::stringValue) &&
                  sameCode(JSONWrapper::booleanValue, Json::booleanValue) &&
                  sameCode(JSONWrapper::arrayValue, Json::arrayValue) &&
                  sameCode(JSONWrapper::objectValue, Json::objectValue),
              "type codes follow the JSON library");

[[noreturn]] void conversionFailed(const Json::LogicError& e) {
    log(2, "JSONWrapper", "_as", String("JsonLogicError: ") + String::copy(std::string(e.what())));
    TESSEL_THROW_AT(EJsonError, fixed::kJSONWrapper);
}

// One parser per thread, set up once: comments accepted and dropped, any value as the
// root, trailing text ignored, and a bounded nesting depth.
Json::CharReader& parser() {
    thread_local std::unique_ptr<Json::CharReader> reader = [] {
        Json::CharReaderBuilder builder;
        builder["allowComments"] = true;
        builder["collectComments"] = false;
        builder["strictRoot"] = false;
        builder["stackLimit"] = JSONWrapperFromString::kMaxDepth;
        return std::unique_ptr<Json::CharReader>(builder.newCharReader());
    }();
    return *reader;
}

}  // namespace

JSONWrapper::JSONWrapper(const Json::Value* value) : m_value(value) {}

JSONWrapper::JSONWrapper(const JSONWrapper& other)
    : m_value(other.m_value),
      m_reader(other.m_reader ? std::make_unique<JSONPolyReader>(*other.m_reader) : nullptr) {}

JSONWrapper& JSONWrapper::operator=(const JSONWrapper& other) {
    if (this != &other) {
        m_value = other.m_value;
        m_reader = other.m_reader ? std::make_unique<JSONPolyReader>(*other.m_reader) : nullptr;
    }
    return *this;
}

JSONWrapper::~JSONWrapper() = default;

const Json::Value* JSONWrapper::value() const {
    return m_value;
}

int JSONWrapper::getType() const {
    return static_cast<int>(value()->type());
}

IKeyReader* JSONWrapper::getReader() {
    if (!m_reader)
        m_reader = std::make_unique<JSONPolyReader>(*this);
    return m_reader->get();
}

Vector<String> JSONWrapper::memberNames() const {
    Vector<String> names("element");
    const Json::Value& v = *value();
    if (!v.isObject())
        return names;
    names.reserve(v.size());
    for (auto it = v.begin(); it != v.end(); ++it) {
        const char* end = nullptr;
        const char* begin = it.memberName(&end);
        names.push_back(String::copy(begin, static_cast<uint32_t>(end - begin)));
    }
    return names;
}

JSONWrapper JSONWrapper::child(const String& name) const {
    const Json::Value& v = *value();
    if (v.isObject()) {
        const Json::Value* member = v.find(name.data(), name.data() + name.length());
        if (member)
            return JSONWrapper(member);
    }
    return JSONWrapper(&Json::Value::nullSingleton());
}

std::vector<JSONWrapper> JSONWrapper::elements() const {
    std::vector<JSONWrapper> values;
    const Json::Value& v = *value();
    if (!v.isArray() && !v.isObject())
        return values;
    values.reserve(v.size());
    for (auto it = v.begin(); it != v.end(); ++it)
        values.emplace_back(&*it);
    return values;
}

bool JSONWrapper::asBool() const {
    try {
        return value()->asBool();
    } catch (const Json::LogicError& e) {
        conversionFailed(e);
    }
}

int JSONWrapper::asInt() const {
    try {
        return value()->asInt();
    } catch (const Json::LogicError& e) {
        conversionFailed(e);
    }
}

unsigned int JSONWrapper::asUInt() const {
    try {
        return value()->asUInt();
    } catch (const Json::LogicError& e) {
        conversionFailed(e);
    }
}

String JSONWrapper::asString() const {
    const Json::Value& v = *value();
    const char* begin = nullptr;
    const char* end = nullptr;
    // Strings are copied straight from the document; other kinds go through the library.
    if (v.type() == Json::stringValue && v.getString(&begin, &end)) {
        return String::copy(begin, static_cast<uint32_t>(end - begin));
    }
    return String::copy(asStdString());
}

std::string JSONWrapper::asStdString() const {
    try {
        return value()->asString();
    } catch (const Json::LogicError& e) {
        conversionFailed(e);
    }
}

JSONWrapperFromString::JSONWrapperFromString(const String& text)
    : JSONWrapperFromString(text, std::make_unique<Json::Value>()) {}

JSONWrapperFromString::JSONWrapperFromString(const String& text,
                                             std::unique_ptr<Json::Value> document)
    : JSONMutWrapper(document.get()), m_document(std::move(document)) {
    const char* begin = text.isEmpty() ? "" : text.data();
    bool parsed = false;
    try {
        parsed = parser().parse(begin, begin + text.length(), m_document.get(), nullptr);
    } catch (const Json::Exception&) {
        // Nesting beyond the limit.
        parsed = false;
    }
    if (!parsed) {
        log(2, "JSONWrapperFromString", "", "unable to parse json !");
        TESSEL_THROW_AT(EJsonError, fixed::kJSONWrapper);
    }
}

JSONWrapperFromString::~JSONWrapperFromString() = default;

}  // namespace tessel
