#include "json/JSONReader.h"

#include <json/value.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/exception.h"
#include "base/fixedpositions.h"

namespace tessel {

// Builds reader trees with an explicit work list instead of recursion, so that the depth of
// a document never reaches the stack.
class JSONTreeBuilder {
public:
    static void build(JSONPolyReader& root, const Json::Value& value) {
        std::vector<std::pair<const Json::Value*, JSONPolyReader*>> pending;
        pending.reserve(64);
        pending.emplace_back(&value, &root);
        while (!pending.empty()) {
            auto [v, slot] = pending.back();
            pending.pop_back();
            fill(*slot, *v, pending);
        }
    }

private:
    static void fill(JSONPolyReader& slot, const Json::Value& value,
                     std::vector<std::pair<const Json::Value*, JSONPolyReader*>>& pending) {
        slot.m_type = static_cast<int>(value.type());
        switch (value.type()) {
            case Json::nullValue:
                slot.m_reader = new JSONNullReader();
                break;
            case Json::arrayValue: {
                auto* array = new JSONArrayReader();
                slot.m_reader = array;
                // Sized once: the slots handed to the work list never move.
                array->m_elements.resize(value.size());
                Json::ArrayIndex i = 0;
                for (const Json::Value& element : value) {
                    pending.emplace_back(&element, &array->m_elements[i++]);
                }
                break;
            }
            case Json::objectValue: {
                auto* object = new JSONObjectReader();
                slot.m_reader = object;
                // Members come in byte-wise name order, which the lookups rely on. Sized
                // once, like arrays.
                object->m_members.resize(value.size());
                size_t i = 0;
                const auto last = value.end();
                for (auto it = value.begin(); it != last; ++it, ++i) {
                    const char* end = nullptr;
                    const char* begin = it.memberName(&end);
                    // The names stay in the document, which outlives its readers.
                    object->m_members[i].first = String(begin, static_cast<uint32_t>(end - begin));
                    pending.emplace_back(&*it, &object->m_members[i].second);
                }
                break;
            }
            default:
                slot.m_reader = new JSONValueReader(JSONWrapper(&value));
                break;
        }
    }
};

JSONPolyReader::JSONPolyReader(const JSONWrapper& wrapper) {
    JSONTreeBuilder::build(*this, *wrapper.value());
}

// --- JSONReader: the defaults ---

// clang-format off
// clang-format off
void JSONReader::read(void*, int) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::read(Buffer&, int) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::read(ISerialize& object) { object.read(static_cast<IKeyReader&>(*this)); }
void JSONReader::read(Buffer&) { TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader); }
void JSONReader::read(String&) { TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader); }
void JSONReader::read(char&) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::read(unsigned char&) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::read(bool&) { TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader); }
void JSONReader::read(int&) { TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader); }
void JSONReader::read(short&) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::read(unsigned int&) { TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader); }
void JSONReader::read(unsigned short&) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
int JSONReader::available() { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
int JSONReader::position() { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
void JSONReader::seek(int) { TESSEL_THROW_AT(ENotImplemented, fixed::kJSONReader); }
int JSONReader::count(const String&) { return 0; }
int JSONReader::count(const char*) { return 0; }
bool JSONReader::hasKey(const String&) { return false; }
bool JSONReader::hasKey(const char*) { return false; }
IKeyReader* JSONReader::getKey(const String&) {
    TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader);
}
IKeyReader* JSONReader::getKey(const char*) {
    TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader);
}
bool JSONReader::hasAttribute(const char*) { return false; }
String JSONReader::getAttribute(const char*) { return String(); }
// clang-format on
// clang-format on

// --- JSONValueReader ---
// A conversion that fails has been logged by the wrapper; it becomes the key reader's error.

void JSONValueReader::read(Buffer& data) {
    String text;
    read(text);
    data = Buffer::fromString(text);
}

void JSONValueReader::read(String& text) {
    try {
        text = m_value.asString();
    } catch (const EJsonError&) {
        TESSEL_THROW_AT(EKeyReader, fixed::kJSONReader);
    }
}

void JSONValueReader::read(bool& value) {
    try {
        value = m_value.asBool();
    } catch (const EJsonError&) {
        TESSEL_THROW_AT(EKeyReader, fixed::kJSONReader);
    }
}

void JSONValueReader::read(int& value) {
    try {
        value = m_value.asInt();
    } catch (const EJsonError&) {
        TESSEL_THROW_AT(EKeyReader, fixed::kJSONReader);
    }
}

void JSONValueReader::read(unsigned int& value) {
    try {
        value = m_value.asUInt();
    } catch (const EJsonError&) {
        TESSEL_THROW_AT(EKeyReader, fixed::kJSONReader);
    }
}

// --- JSONArrayReader ---

int JSONArrayReader::count(const String&) {
    return static_cast<int>(m_elements.size());
}
int JSONArrayReader::count(const char*) {
    return static_cast<int>(m_elements.size());
}

IKeyReader* JSONArrayReader::getKey(const String&) {
    return getKey("");
}

IKeyReader* JSONArrayReader::getKey(const char*) {
    int at = m_cursor++;
    if (at < 0 || static_cast<size_t>(at) >= m_elements.size()) {
        m_cursor = static_cast<int>(m_elements.size());  // stays exhausted
        TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader);
    }
    return m_elements[static_cast<size_t>(at)].get();
}

// --- JSONObjectReader ---

const JSONPolyReader* JSONObjectReader::find(const String& key) const {
    const char* name = key.data();
    const uint32_t length = key.length();
    // Objects of a reply are small: a scan that compares lengths first beats a binary
    // search of byte-wise comparisons. Large objects are searched in their sorted order.
    if (m_members.size() <= 16) {
        for (const auto& member : m_members) {
            if (member.first.length() == length &&
                (length == 0 || std::memcmp(member.first.data(), name, length) == 0)) {
                return &member.second;
            }
        }
        return nullptr;
    }
    auto it = std::lower_bound(m_members.begin(), m_members.end(), key,
                               [](const std::pair<String, JSONPolyReader>& member,
                                  const String& k) { return member.first < k; });
    return it == m_members.end() || it->first != key ? nullptr : &it->second;
}

int JSONObjectReader::count(const String& key) {
    return find(key) ? 1 : 0;
}
int JSONObjectReader::count(const char* key) {
    return find(String(key)) ? 1 : 0;
}
bool JSONObjectReader::hasKey(const String& key) {
    return find(key) != nullptr;
}
bool JSONObjectReader::hasKey(const char* key) {
    return find(String(key)) != nullptr;
}

IKeyReader* JSONObjectReader::getKey(const String& key) {
    const JSONPolyReader* member = find(key);
    if (!member)
        TESSEL_THROW_AT(EJsonKeyReader, fixed::kJSONReader);
    return member->get();
}

IKeyReader* JSONObjectReader::getKey(const char* key) {
    return getKey(String(key));
}

}  // namespace tessel
