// The string writer's byte layout and the generic list and pointer serialisers.
#include "base/serialize.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/serializers.h"
#include "base/stringwriter.h"
#include "treereader.h"

using tessel::Buffer;
using tessel::IKeyReader;
using tessel::IKeyWriter;
using tessel::IReader;
using tessel::ISerialize;
using tessel::IWriter;
using tessel::String;
using tessel::StringWriter;
using vexlan::testing::TreeReader;

namespace {

std::string bytes(const String& s) {
    return s.toStd();
}

// Writes two members in sequence; the keyed forms are not needed here.
class Pair : public ISerialize {
public:
    void read(IKeyReader& reader) override { reader.getKey("name")->read(m_name); }
    void read(IReader& reader) override {
        reader.read(m_id);
        reader.read(m_name);
    }
    void write(IKeyWriter& writer) override {
        writer.writeKey("id")->write(m_id);
        writer.writeKey("name")->write(m_name);
    }
    void write(IWriter& writer) override {
        writer.write(m_id);
        writer.write(m_name);
    }
    unsigned short m_id = 0x0102;
    String m_name = "xy";
};

}  // namespace

TEST(StringWriter, AppendsTheExactBytesOfEachOperation) {
    struct Case {
        const char* name;
        std::function<void(IWriter&)> write;
        std::string expected;
    };
    const unsigned char raw[] = {0x00, 0xFF, 0x7F};
    Buffer buffer("ab\0c", 4);
    std::vector<Case> cases = {
        {"unsigned int 1", [](IWriter& w) { w.write(1u); }, std::string("\0\0\0\1", 4)},
        {"unsigned int max", [](IWriter& w) { w.write(0xFFFFFFFFu); }, "\xFF\xFF\xFF\xFF"},
        {"int -2", [](IWriter& w) { w.write(-2); }, "\xFF\xFF\xFF\xFE"},
        {"int 0x01020304", [](IWriter& w) { w.write(0x01020304); }, "\x01\x02\x03\x04"},
        {"short 0x1234", [](IWriter& w) { w.write(static_cast<short>(0x1234)); }, "\x12\x34"},
        {"short -1", [](IWriter& w) { w.write(static_cast<short>(-1)); }, "\xFF\xFF"},
        {"unsigned short 0xABCD", [](IWriter& w) { w.write(static_cast<unsigned short>(0xABCD)); },
         "\xAB\xCD"},
        {"char", [](IWriter& w) { w.write('z'); }, "z"},
        {"unsigned char 0xFF", [](IWriter& w) { w.write(static_cast<unsigned char>(0xFF)); },
         "\xFF"},
        {"bool true", [](IWriter& w) { w.write(true); }, "\x01"},
        {"bool false", [](IWriter& w) { w.write(false); }, std::string("\0", 1)},
        {"String abc", [](IWriter& w) { w.write(String("abc")); }, "abc"},
        {"literal abc", [](IWriter& w) { w.write("abc"); }, "abc"},
        {"empty String", [](IWriter& w) { w.write(String()); }, ""},
        {"Buffer with a zero byte", [&](IWriter& w) { w.write(buffer); }, std::string("ab\0c", 4)},
        {"raw", [&](IWriter& w) { w.write(raw, 3); }, std::string("\0\xFF\x7F", 3)},
        {"raw with zero count", [&](IWriter& w) { w.write(raw, 0); }, ""},
        {"Buffer, first 2 bytes", [&](IWriter& w) { w.write(buffer, 2); }, "ab"},
        {"Buffer, count past its end", [&](IWriter& w) { w.write(buffer, 9); },
         std::string("ab\0c", 4)},
        {"Buffer, negative count", [&](IWriter& w) { w.write(buffer, -1); }, ""},
        {"reserve", [](IWriter& w) { w.reserve(100); }, ""},
        {"object",
         [](IWriter& w) {
             Pair p;
             w.write(p);
         },
         "\x01\x02xy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        String target("pre");
        StringWriter writer(target);
        c.write(writer);
        EXPECT_EQ(bytes(target), "pre" + c.expected);
    }
}

TEST(StringWriter, ReserveKeepsContentAndLaterAppendsUseTheRoom) {
    String target = String::copy(std::string("head"));
    StringWriter writer(target);
    writer.reserve(1000);
    EXPECT_EQ(target, "head");
    EXPECT_STREQ(target.c_str(), "head");
    const void* storage = target.storageIdentity();
    for (int i = 0; i < 250; ++i)
        writer.write(0x41424344);
    EXPECT_EQ(target.storageIdentity(), storage);
    EXPECT_EQ(target.length(), 1004u);
    EXPECT_EQ(bytes(target.substring(0, 12)), "headABCDABCD");
}

TEST(StringWriter, DoesNotChangeOtherCopiesOfTheTarget) {
    String target = String::copy(std::string("abc"));
    String other = target;
    StringWriter writer(target);
    writer.write(true);
    EXPECT_EQ(other, "abc");
    EXPECT_EQ(bytes(target), "abc\x01");
}

TEST(Serializers, SequentialListsWriteACountThenTheElements) {
    tessel::Strings strings;
    strings.append("a");
    strings.append("bc");
    tessel::Vector<String> vector;
    vector.push_back("a");
    vector.push_back("bc");
    tessel::List<String> list;
    list.push_back("a");
    list.push_back("bc");
    const std::string expected(
        "\0\0\0\2"
        "abc",
        7);
    for (ISerialize* s : std::vector<ISerialize*>{&strings, &vector, &list}) {
        String target;
        StringWriter writer(target);
        writer.write(*s);
        EXPECT_EQ(bytes(target), expected);
    }
}

TEST(Serializers, KeyedReadWalksTheElementKeyIntoAnEmptiedContainer) {
    TreeReader doc = TreeReader::section();
    doc.add("domains", TreeReader::text("one.example"))
        .add("other", TreeReader::text("ignored"))
        .add("domains", TreeReader::text("two.example"));
    tessel::List<String> list("domains");
    list.push_back("stale");
    doc.read(list);
    EXPECT_EQ(list, (std::list<String>{"one.example", "two.example"}));

    TreeReader elements = TreeReader::section();
    elements.add("element", TreeReader::text("x")).add("element", TreeReader::text("y"));
    tessel::Strings strings;
    strings.append("stale");
    elements.read(strings);
    ASSERT_EQ(strings.count(), 2u);
    EXPECT_EQ(strings[0], "x");
    EXPECT_EQ(strings[1], "y");
}

TEST(Serializers, KeyedReadWithoutEntriesGivesAnEmptyContainer) {
    TreeReader doc = TreeReader::section();
    doc.add("notElement", TreeReader::text("x"));
    tessel::Strings strings;
    strings.append("stale");
    tessel::Vector<String> vector;
    vector.push_back("stale");
    tessel::List<String> list;
    list.push_back("stale");
    doc.read(strings);
    TreeReader doc2 = TreeReader::section();
    doc2.read(vector);
    TreeReader doc3 = TreeReader::section();
    doc3.read(list);
    EXPECT_EQ(strings.count(), 0u);
    EXPECT_TRUE(vector.empty());
    EXPECT_TRUE(list.empty());
}

namespace {

// Records the keyed calls it receives as "key(" ... ")" and values as text.
class RecordingWriter : public IKeyWriter {
public:
    using IKeyWriter::write;
    void write(const void*, int len) override { m_log += "raw" + std::to_string(len) + ";"; }
    void write(const Buffer&, int) override { m_log += "buffer;"; }
    void write(ISerialize& object) override { object.write(static_cast<IKeyWriter&>(*this)); }
    void write(const Buffer&) override { m_log += "buffer;"; }
    void write(const String& text) override { m_log += "'" + text.toStd() + "';"; }
    void write(char) override { m_log += "char;"; }
    void write(unsigned char) override { m_log += "uchar;"; }
    void write(bool v) override { m_log += v ? "true;" : "false;"; }
    void write(int v) override { m_log += std::to_string(v) + ";"; }
    void write(short v) override { m_log += std::to_string(v) + ";"; }
    void write(unsigned int v) override { m_log += std::to_string(v) + ";"; }
    void write(unsigned short v) override { m_log += std::to_string(v) + ";"; }
    void reserve(int) override {}
    IKeyWriter* writeKey(const String& key) override { return writeKey(key.c_str()); }
    IKeyWriter* writeKey(const char* key) override {
        m_log += std::string("<") + key + ">";
        return this;
    }
    IKeyWriter* writeAttribute(const String&, const String&) override { return this; }
    std::string m_log;
};

}  // namespace

TEST(Serializers, KeyedWriteUsesOneEntryPerElement) {
    tessel::List<String> list("domains");
    list.push_back("a");
    list.push_back("b");
    RecordingWriter writer;
    writer.write(list);
    EXPECT_EQ(writer.m_log, "<domains>'a';<domains>'b';");
}

namespace {

class Node : public tessel::gc::ObjectDelete, public Pair {
public:
    const char* className() const override { return "Node"; }
};

}  // namespace

TEST(SerializePointer, EmptyPointerWritesNothingNotEvenTheKey) {
    tessel::gc::Pointer<Node> empty;
    tessel::SerializePointer<Node> serializer(empty);
    RecordingWriter keyed;
    keyed.write(serializer);
    EXPECT_EQ(keyed.m_log, "");
    String target;
    StringWriter sequential(target);
    sequential.write(serializer);
    EXPECT_TRUE(target.isEmpty());
}

TEST(SerializePointer, WritesTheObjectUnderGc) {
    tessel::gc::Pointer<Node> node = new Node;
    tessel::SerializePointer<Node> serializer(node);
    RecordingWriter keyed;
    keyed.write(serializer);
    EXPECT_EQ(keyed.m_log, "<gc><id>258;<name>'xy';");
    String target;
    StringWriter sequential(target);
    sequential.write(serializer);
    EXPECT_EQ(bytes(target), "\x01\x02xy");
}

TEST(SerializePointer, KeyedReadCreatesTheObjectAndReadsItUnderGc) {
    TreeReader doc = TreeReader::section();
    doc.add("gc", TreeReader::section().add("name", TreeReader::text("zz")));
    tessel::gc::Pointer<Node> node;
    tessel::SerializePointer<Node> serializer(node);
    doc.read(serializer);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->m_name, "zz");

    // An existing object is read in place.
    Node* before = node.get();
    TreeReader again = TreeReader::section();
    again.add("gc", TreeReader::section().add("name", TreeReader::text("ww")));
    again.read(serializer);
    EXPECT_EQ(node.get(), before);
    EXPECT_EQ(node->m_name, "ww");
}
