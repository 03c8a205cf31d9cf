// A small in-memory keyed reader for the base library's tests: a tree of named entries whose
// leaves hold one typed value. It keeps the keyed-reader contract (repeated keys walked in
// order, EKeyReader for an absent key or a value of another kind) without any document format.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "base/serialize.h"

namespace vexlan::testing {

class TreeReader : public tessel::IKeyReader {
public:
    enum class Kind { Section, Text, Bool, Unsigned, Int };

    static TreeReader text(const std::string& value) { return TreeReader(Kind::Text, value); }
    static TreeReader boolean(bool value) { return TreeReader(Kind::Bool, value ? "1" : "0"); }
    static TreeReader number(unsigned int value) {
        return TreeReader(Kind::Unsigned, std::to_string(value));
    }
    static TreeReader integer(int value) { return TreeReader(Kind::Int, std::to_string(value)); }
    static TreeReader section() { return TreeReader(Kind::Section, ""); }

    // Adds a child entry; returns this reader for chaining.
    TreeReader& add(const std::string& key, TreeReader child) & {
        m_children.emplace_back(key, std::make_unique<TreeReader>(std::move(child)));
        return *this;
    }
    TreeReader&& add(const std::string& key, TreeReader child) && {
        return std::move(add(key, std::move(child)));
    }
    TreeReader(TreeReader&&) = default;
    TreeReader& operator=(TreeReader&&) = default;

    using tessel::IKeyReader::read;
    void read(void*, int) override { notImplemented(); }
    void read(tessel::Buffer&, int) override { notImplemented(); }
    void read(tessel::ISerialize& object) override { object.read(*this); }
    void read(tessel::Buffer&) override { notImplemented(); }
    void read(tessel::String& value) override {
        expect(Kind::Text);
        value = tessel::String::copy(m_value);
    }
    void read(char&) override { notImplemented(); }
    void read(unsigned char&) override { notImplemented(); }
    void read(bool& value) override {
        expect(Kind::Bool);
        value = m_value == "1";
    }
    void read(int& value) override {
        expect(Kind::Int);
        value = std::stoi(m_value);
    }
    void read(short&) override { notImplemented(); }
    void read(unsigned int& value) override {
        expect(Kind::Unsigned);
        value = static_cast<unsigned int>(std::stoul(m_value));
    }
    void read(unsigned short&) override { notImplemented(); }
    int available() override { notImplemented(); }
    int position() override { notImplemented(); }
    void seek(int) override { notImplemented(); }

    int count(const tessel::String& key) override { return count(key.c_str()); }
    int count(const char* key) override {
        int n = 0;
        for (auto& child : m_children)
            n += child.first == key ? 1 : 0;
        return n;
    }
    bool hasKey(const tessel::String& key) override { return hasKey(key.c_str()); }
    bool hasKey(const char* key) override { return count(key) > 0; }
    tessel::IKeyReader* getKey(const tessel::String& key) override { return getKey(key.c_str()); }
    tessel::IKeyReader* getKey(const char* key) override {
        // Each call moves on to the next entry of that name.
        size_t& next = m_cursors[key];
        size_t seen = 0;
        for (auto& child : m_children) {
            if (child.first != key)
                continue;
            if (seen++ == next) {
                ++next;
                return child.second.get();
            }
        }
        throw tessel::EKeyReader("EKeyReader", "treereader", __LINE__);
    }
    bool hasAttribute(const char*) override { return false; }
    tessel::String getAttribute(const char*) override { return tessel::String(); }

private:
    TreeReader(Kind kind, std::string value) : m_kind(kind), m_value(std::move(value)) {}

    [[noreturn]] static void notImplemented() {
        throw tessel::ENotImplemented("ENotImplemented", "treereader", __LINE__);
    }
    void expect(Kind kind) const {
        if (m_kind != kind)
            throw tessel::EKeyReader("EKeyReader", "treereader", __LINE__);
    }

    Kind m_kind;
    std::string m_value;
    std::vector<std::pair<std::string, std::unique_ptr<TreeReader>>> m_children;
    std::map<std::string, size_t> m_cursors;
};

}  // namespace vexlan::testing
