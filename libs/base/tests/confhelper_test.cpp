#include "base/confhelper.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/serializers.h"
#include "sandbox.h"
#include "treereader.h"

using tessel::ConfReadHelper;
using tessel::EConfMissingKey;
using tessel::String;
using vexlan::testing::LogCapture;
using vexlan::testing::TreeReader;

namespace {

// A document with one entry of every kind the helper reads.
TreeReader sampleDocument() {
    TreeReader root = TreeReader::section();
    root.add("flag", TreeReader::boolean(true))
        .add("count", TreeReader::number(4294967295u))
        .add("signed", TreeReader::integer(-7))
        .add("name", TreeReader::text("gateway"))
        .add("list", TreeReader::section()
                         .add("element", TreeReader::text("a"))
                         .add("element", TreeReader::text("b")))
        .add("flags", TreeReader::section().add("element", TreeReader::boolean(true)))
        .add("section", TreeReader::section().add("inner", TreeReader::text("x")));
    return root;
}

// Reads `key` into a value of the kind `kind` names; returns readKey's result.
using Read = std::function<bool(ConfReadHelper&, const char* key, bool mandatory)>;

struct KindCase {
    const char* kind;
    const char* presentKey;  // an entry of this kind
    const char* wrongKey;    // an entry of another kind
    Read read;
};

std::vector<KindCase> kindCases() {
    return {
        {"bool", "flag", "name",
         [](ConfReadHelper& h, const char* k, bool m) {
             bool v = false;
             return h.readKey(k, v, m);
         }},
        {"unsigned", "count", "name",
         [](ConfReadHelper& h, const char* k, bool m) {
             unsigned int v = 0;
             return h.readKey(k, v, m);
         }},
        {"int", "signed", "count",
         [](ConfReadHelper& h, const char* k, bool m) {
             int v = 0;
             return h.readKey(k, v, m);
         }},
        {"String", "name", "flag",
         [](ConfReadHelper& h, const char* k, bool m) {
             String v;
             return h.readKey(k, v, m);
         }},
        {"ISerialize", "list", "flags",
         [](ConfReadHelper& h, const char* k, bool m) {
             tessel::Vector<String> v;
             return h.readKey(k, v, m);
         }},
    };
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

TEST(ConfReadHelper, ReadsPresentValuesOfEveryKind) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    bool flag = false;
    unsigned int count = 0;
    int number = 0;
    String name;
    tessel::Vector<String> list;
    LogCapture log;
    EXPECT_TRUE(helper.readKey("flag", flag, true));
    EXPECT_TRUE(helper.readKey("count", count, false));
    EXPECT_TRUE(helper.readKey("signed", number, true));
    EXPECT_TRUE(helper.readKey("name", name, true));
    EXPECT_TRUE(helper.readKey("list", list, true));
    EXPECT_TRUE(flag);
    EXPECT_EQ(count, 4294967295u);
    EXPECT_EQ(number, -7);
    EXPECT_EQ(name, "gateway");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "b");
    EXPECT_TRUE(log.entries().empty());
}

TEST(ConfReadHelper, AbsentOptionalKeyIsFalseAndSilentAndLeavesTheValue) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    LogCapture log;
    bool flag = true;
    unsigned int count = 12;
    int number = -3;
    String name("default");
    EXPECT_FALSE(helper.readKey("nope", flag, false));
    EXPECT_FALSE(helper.readKey("nope", count, false));
    EXPECT_FALSE(helper.readKey("nope", number, false));
    EXPECT_FALSE(helper.readKey("nope", name, false));
    EXPECT_TRUE(flag);
    EXPECT_EQ(count, 12u);
    EXPECT_EQ(number, -3);
    EXPECT_EQ(name, "default");
    EXPECT_TRUE(log.entries().empty());
}

TEST(ConfReadHelper, AbsentMandatoryKeyLogsMissingTagAndRaises) {
    for (const KindCase& c : kindCases()) {
        SCOPED_TRACE(c.kind);
        TreeReader doc = sampleDocument();
        ConfReadHelper helper(&doc);
        LogCapture log;
        EXPECT_THROW(c.read(helper, "absentKey", true), EConfMissingKey);
        std::vector<std::string> expected{"ERROR ConfReadHelper.readKey Missing tag: <absentKey>"};
        EXPECT_EQ(log.entries(), expected);
    }
}

TEST(ConfReadHelper, UnreadableKeyLogsTwoLinesThenFalseOrRaises) {
    for (const KindCase& c : kindCases()) {
        for (bool mandatory : {false, true}) {
            SCOPED_TRACE(std::string(c.kind) + (mandatory ? " mandatory" : " optional"));
            TreeReader doc = sampleDocument();
            ConfReadHelper helper(&doc);
            LogCapture log;
            if (mandatory) {
                EXPECT_THROW(c.read(helper, c.wrongKey, true), EConfMissingKey);
            } else {
                EXPECT_FALSE(c.read(helper, c.wrongKey, false));
            }
            std::vector<std::string> entries = log.entries();
            ASSERT_EQ(entries.size(), 2u);
            // The absorbed exception's chain, then the key.
            EXPECT_TRUE(startsWith(entries[0], "TRACE Exception.catch EKeyReader:treereader:"))
                << entries[0];
            EXPECT_NE(entries[0].find(" -> confhelper.cpp:"), std::string::npos) << entries[0];
            EXPECT_EQ(entries[1], std::string("ERROR ConfReadHelper.readKey Error while reading "
                                              "key: \"") +
                                      c.wrongKey + "\"");
        }
    }
}

TEST(ConfReadHelper, PresentKeyOfEveryKindReadsInBothModes) {
    for (const KindCase& c : kindCases()) {
        SCOPED_TRACE(c.kind);
        TreeReader doc = sampleDocument();
        ConfReadHelper helper(&doc);
        EXPECT_TRUE(c.read(helper, c.presentKey, false));
    }
}

TEST(ConfReadHelper, UnreadableOptionalStringLeavesTheValue) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    LogCapture log;
    String name("kept");
    EXPECT_FALSE(helper.readKey("flag", name, false));
    EXPECT_EQ(name, "kept");
}

TEST(ConfReadHelper, PresentSectionReadsItsKeys) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    ConfReadHelper section = helper.readKey("section", true);
    ASSERT_TRUE(section.isPresent());
    String inner;
    EXPECT_TRUE(section.readKey("inner", inner, true));
    EXPECT_EQ(inner, "x");
}

TEST(ConfReadHelper, AbsentOptionalSectionIsFlaggedMissingAndKeepsInnerKeysMandatory) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    LogCapture log;
    ConfReadHelper section = helper.readKey("optionalSection", false);
    EXPECT_FALSE(section.isPresent());
    EXPECT_TRUE(log.entries().empty());

    String value("kept");
    EXPECT_FALSE(section.readKey("inner", value, false));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(log.entries().empty());

    EXPECT_THROW(section.readKey("inner", value, true), EConfMissingKey);
    EXPECT_THROW(section.readKey("deeper", true), EConfMissingKey);
    std::vector<std::string> expected{"ERROR ConfReadHelper.readKey Missing tag: <inner>",
                                      "ERROR ConfReadHelper.readKey Missing tag: <deeper>"};
    EXPECT_EQ(log.entries(), expected);

    // An optional section below a missing one is missing too, without a log line.
    EXPECT_FALSE(section.readKey("deeper", false).isPresent());
    EXPECT_EQ(log.entries().size(), 2u);
}

TEST(ConfReadHelper, AbsentMandatorySectionRaises) {
    TreeReader doc = sampleDocument();
    ConfReadHelper helper(&doc);
    LogCapture log;
    EXPECT_THROW(helper.readKey("mandatorySection", true), EConfMissingKey);
    std::vector<std::string> expected{
        "ERROR ConfReadHelper.readKey Missing tag: <mandatorySection>"};
    EXPECT_EQ(log.entries(), expected);
}

TEST(ConfReadHelper, RepeatedKeysAreReadInDocumentOrder) {
    // Each getKey moves on, so reading the same key twice yields the second entry.
    TreeReader doc = TreeReader::section();
    doc.add("server", TreeReader::text("one")).add("server", TreeReader::text("two"));
    ConfReadHelper helper(&doc);
    String first, second;
    EXPECT_TRUE(helper.readKey("server", first, true));
    EXPECT_TRUE(helper.readKey("server", second, true));
    EXPECT_EQ(first, "one");
    EXPECT_EQ(second, "two");
}

namespace {

class Endpoint : public tessel::IConf {
public:
    void readConf(tessel::IKeyReader* reader) override {
        ConfReadHelper helper(reader);
        helper.readKey("name", m_name, true);
        helper.readKey("count", m_count, false);
    }
    String m_name;
    unsigned int m_count = 0;
};

}  // namespace

TEST(IConf, KeyedReadForwardsToReadConf) {
    TreeReader doc = sampleDocument();
    Endpoint endpoint;
    doc.read(endpoint);
    EXPECT_EQ(endpoint.m_name, "gateway");
    EXPECT_EQ(endpoint.m_count, 4294967295u);
}

TEST(IConf, NestedMandatoryFailureSurfacesAsMissingKey) {
    // The nested object's own missing key is logged, then the outer key is reported.
    TreeReader doc = TreeReader::section();
    doc.add("endpoint", TreeReader::section().add("count", TreeReader::number(1)));
    ConfReadHelper helper(&doc);
    Endpoint endpoint;
    LogCapture log;
    EXPECT_THROW(helper.readKey("endpoint", endpoint, true), EConfMissingKey);
    std::vector<std::string> entries = log.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], "ERROR ConfReadHelper.readKey Missing tag: <name>");
    EXPECT_TRUE(startsWith(entries[1], "TRACE Exception.catch EConfMissingKey:confhelper.cpp:"));
    EXPECT_EQ(entries[2], "ERROR ConfReadHelper.readKey Error while reading key: \"endpoint\"");
}

TEST(IConf, SequentialAndWritingOperationsAreNotImplemented) {
    Endpoint endpoint;
    TreeReader doc = sampleDocument();
    tessel::IReader& sequential = doc;
    EXPECT_THROW(endpoint.read(sequential), tessel::ENotImplemented);
    String target;
    class NullWriter : public tessel::IKeyWriter {
    public:
        using tessel::IKeyWriter::write;
        void write(const void*, int) override {}
        void write(const tessel::Buffer&, int) override {}
        void write(tessel::ISerialize&) override {}
        void write(const tessel::Buffer&) override {}
        void write(const String&) override {}
        void write(char) override {}
        void write(unsigned char) override {}
        void write(bool) override {}
        void write(int) override {}
        void write(short) override {}
        void write(unsigned int) override {}
        void write(unsigned short) override {}
        void reserve(int) override {}
        tessel::IKeyWriter* writeKey(const String&) override { return this; }
        tessel::IKeyWriter* writeKey(const char*) override { return this; }
        tessel::IKeyWriter* writeAttribute(const String&, const String&) override { return this; }
    } writer;
    EXPECT_THROW(endpoint.write(static_cast<tessel::IKeyWriter&>(writer)), tessel::ENotImplemented);
    EXPECT_THROW(endpoint.write(static_cast<tessel::IWriter&>(writer)), tessel::ENotImplemented);
}
