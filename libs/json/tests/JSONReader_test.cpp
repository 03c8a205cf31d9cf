#include "json/JSONReader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/confhelper.h"
#include "base/exception.h"
#include "base/serializers.h"
#include "json/JSONWrapper.h"
#include "sandbox.h"

using tessel::Buffer;
using tessel::EJsonKeyReader;
using tessel::EKeyReader;
using tessel::ENotImplemented;
using tessel::IKeyReader;
using tessel::JSONWrapper;
using tessel::JSONWrapperFromString;
using tessel::String;
using vexlan::testing::LogCapture;

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// What an operation did: returned, or which exception it raised. EJsonKeyReader is told
// apart from its base EKeyReader.
enum class Raised { Nothing, NotImplemented, JsonKeyReader, KeyReaderOnly };

Raised run(const std::function<void()>& op) {
    try {
        op();
    } catch (const EJsonKeyReader& e) {
        EXPECT_EQ(e.file(), "JSONReader");
        return Raised::JsonKeyReader;
    } catch (const EKeyReader& e) {
        EXPECT_EQ(e.file(), "JSONReader");
        return Raised::KeyReaderOnly;
    } catch (const ENotImplemented& e) {
        EXPECT_EQ(e.file(), "JSONReader");
        return Raised::NotImplemented;
    }
    return Raised::Nothing;
}

// The reader of one member of {"null": null, "value": "text", "array": [1], "object": {}}.
class Readers : public ::testing::Test {
protected:
    IKeyReader* member(const char* name) { return m_document.getReader()->getKey(name); }
    JSONWrapperFromString m_document{
        "{\"null\": null, \"value\": \"text\", \"array\": [1],"
        " \"object\": {\"k\": 1}}"};
};

}  // namespace

TEST_F(Readers, OperationsJsonHasNoUseForAreNotImplementedEverywhere) {
    for (const char* name : {"null", "value", "array", "object"}) {
        SCOPED_TRACE(name);
        IKeyReader* r = member(name);
        char bytes[4];
        Buffer buffer;
        char c;
        unsigned char uc;
        short s;
        unsigned short us;
        EXPECT_EQ(run([&] { r->read(bytes, 4); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->read(buffer, 4); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->read(c); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->read(uc); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->read(s); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->read(us); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->available(); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->position(); }), Raised::NotImplemented);
        EXPECT_EQ(run([&] { r->seek(0); }), Raised::NotImplemented);
        EXPECT_FALSE(r->hasAttribute("k"));
        EXPECT_TRUE(r->getAttribute("k").isEmpty());
    }
}

TEST_F(Readers, TypedReadsOfNullArrayAndObjectRaiseTheJsonKeyReaderError) {
    for (const char* name : {"null", "array", "object"}) {
        SCOPED_TRACE(name);
        IKeyReader* r = member(name);
        LogCapture log;
        String text("kept");
        Buffer buffer;
        bool b = true;
        int i = 3;
        unsigned int u = 4;
        EXPECT_EQ(run([&] { r->read(text); }), Raised::JsonKeyReader);
        EXPECT_EQ(run([&] { r->read(buffer); }), Raised::JsonKeyReader);
        EXPECT_EQ(run([&] { r->read(b); }), Raised::JsonKeyReader);
        EXPECT_EQ(run([&] { r->read(i); }), Raised::JsonKeyReader);
        EXPECT_EQ(run([&] { r->read(u); }), Raised::JsonKeyReader);
        EXPECT_EQ(text, "kept");
        EXPECT_TRUE(b);
        EXPECT_EQ(i, 3);
        EXPECT_EQ(u, 4u);
        EXPECT_TRUE(log.entries().empty());  // the caller decides what to log
    }
}

TEST_F(Readers, KeysOfNullAndScalarReaders) {
    for (const char* name : {"null", "value"}) {
        SCOPED_TRACE(name);
        IKeyReader* r = member(name);
        EXPECT_EQ(r->count("k"), 0);
        EXPECT_EQ(r->count(String("k")), 0);
        EXPECT_FALSE(r->hasKey("k"));
        EXPECT_FALSE(r->hasKey(String("k")));
        EXPECT_EQ(run([&] { r->getKey("k"); }), Raised::JsonKeyReader);
        EXPECT_EQ(run([&] { r->getKey(String("k")); }), Raised::JsonKeyReader);
    }
}

TEST(JSONReader, ScalarConversions) {
    JSONWrapperFromString document(
        "{\"t\": true, \"f\": false, \"n\": -12, \"u\": 4294967295, \"r\": 2.75,"
        " \"s\": \"text\", \"empty\": \"\"}");
    IKeyReader* root = document.getReader();
    auto text = [&](const char* key) {
        String value;
        root->getKey(key)->read(value);
        return value.toStd();
    };
    EXPECT_EQ(text("t"), "true");
    EXPECT_EQ(text("f"), "false");
    EXPECT_EQ(text("n"), "-12");
    EXPECT_EQ(text("u"), "4294967295");
    EXPECT_EQ(text("s"), "text");
    EXPECT_EQ(text("empty"), "");

    bool b = false;
    root->getKey("t")->read(b);
    EXPECT_TRUE(b);
    int i = 0;
    root->getKey("n")->read(i);
    EXPECT_EQ(i, -12);
    root->getKey("r")->read(i);
    EXPECT_EQ(i, 2);
    unsigned int u = 0;
    root->getKey("u")->read(u);
    EXPECT_EQ(u, 4294967295u);
    Buffer buffer;
    root->getKey("s")->read(buffer);
    EXPECT_EQ(buffer, Buffer("text", 4));
}

TEST(JSONReader, ScalarOfTheWrongKindRaisesTheBaseKeyReaderErrorAfterTheLogLine) {
    JSONWrapperFromString document("{\"u\": 4294967295, \"neg\": -1, \"s\": \"12\"}");
    IKeyReader* root = document.getReader();
    struct Case {
        const char* name;
        std::function<void()> read;
    } cases[] = {
        {"4294967295 as int",
         [&] {
             int v;
             root->getKey("u")->read(v);
         }},
        {"-1 as unsigned",
         [&] {
             unsigned int v;
             root->getKey("neg")->read(v);
         }},
        {"string as int",
         [&] {
             int v;
             root->getKey("s")->read(v);
         }},
        {"string as unsigned",
         [&] {
             unsigned int v;
             root->getKey("s")->read(v);
         }},
        {"string as bool",
         [&] {
             bool v;
             root->getKey("s")->read(v);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(run(c.read), Raised::KeyReaderOnly);
        std::vector<std::string> entries = log.entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_TRUE(startsWith(entries[0], "ERROR JSONWrapper._as JsonLogicError: "));
    }
}

TEST(JSONReader, ArrayHandsOutItsElementsInOrderWhateverTheKey) {
    JSONWrapperFromString document("[{\"n\": 1}, {\"n\": 2}, {\"n\": 3}]");
    IKeyReader* array = document.getReader();
    EXPECT_EQ(array->count("anything"), 3);
    EXPECT_EQ(array->count(String("element")), 3);
    EXPECT_FALSE(array->hasKey("element"));
    const char* keys[] = {"element", "other", ""};
    for (int expected = 1; expected <= 3; ++expected) {
        IKeyReader* element = expected == 2 ? array->getKey(String(keys[expected - 1]))
                                            : array->getKey(keys[expected - 1]);
        unsigned int n = 0;
        element->getKey("n")->read(n);
        EXPECT_EQ(n, static_cast<unsigned int>(expected));
    }
    EXPECT_EQ(run([&] { array->getKey("element"); }), Raised::JsonKeyReader);
    EXPECT_EQ(run([&] { array->getKey("element"); }), Raised::JsonKeyReader);  // stays exhausted
    EXPECT_EQ(array->count("element"), 3);
}

TEST(JSONReader, ObjectGivesTheSameReaderForANameEveryTime) {
    JSONWrapperFromString document("{\"a\": {\"x\": 1}, \"nothing\": null}");
    IKeyReader* root = document.getReader();
    IKeyReader* first = root->getKey("a");
    EXPECT_EQ(root->getKey("a"), first);
    EXPECT_EQ(root->getKey(String("a")), first);
    // A member whose value is null exists.
    EXPECT_TRUE(root->hasKey("nothing"));
    EXPECT_EQ(root->count("nothing"), 1);
    EXPECT_FALSE(root->hasKey("A"));  // names are compared byte for byte
    EXPECT_EQ(root->count("A"), 0);
    EXPECT_EQ(run([&] { root->getKey("missing"); }), Raised::JsonKeyReader);
}

TEST(JSONReader, SerialisableObjectsReadThemselvesFromTheReader) {
    JSONWrapperFromString document("{\"list\": [\"a\", \"b\"], \"object\": {\"x\": 1}}");
    IKeyReader* root = document.getReader();
    tessel::Vector<String> list;
    root->getKey("list")->read(list);
    EXPECT_EQ(std::vector<String>(list.begin(), list.end()), (std::vector<String>{"a", "b"}));

    // An object has no "element" entries: the list is empty, not an error.
    tessel::Strings strings;
    strings.append("stale");
    root->getKey("object")->read(strings);
    EXPECT_EQ(strings.count(), 0u);
}

TEST(JSONReader, ReadersMayBeHeldThroughCountedPointers) {
    JSONWrapperFromString document("{\"a\": {\"b\": \"deep\"}}");
    tessel::gc::Pointer<tessel::JSONReader> kept;
    {
        JSONWrapper copy(document);
        kept = static_cast<tessel::JSONReader*>(copy.getReader()->getKey("a"));
    }
    String value;
    kept->getKey("b")->read(value);
    EXPECT_EQ(value, "deep");
    EXPECT_STREQ(kept->className(), "JSONObjectReader");
}

TEST(JSONReader, PolyReaderChoosesTheReaderByType) {
    JSONWrapperFromString document("[null, 1, 4294967296, 1.5, \"s\", true, [], {}]");
    const char* expected[] = {"JSONNullReader",  "JSONValueReader", "JSONValueReader",
                              "JSONValueReader", "JSONValueReader", "JSONValueReader",
                              "JSONArrayReader", "JSONObjectReader"};
    tessel::JSONPolyReader root(document);
    EXPECT_EQ(root.type(), JSONWrapper::arrayValue);
    for (const char* className : expected) {
        auto* element = static_cast<tessel::JSONReader*>(root.get()->getKey("element"));
        EXPECT_STREQ(element->className(), className);
    }
}

TEST(JSONReader, NullExceptionOfAnEnvelopeCountsAsAbsent) {
    JSONWrapperFromString document("{\"success\": true, \"code\": 0, \"exception\": null}");
    IKeyReader* root = document.getReader();
    EXPECT_TRUE(root->hasKey("exception"));
    String text("untouched");
    EXPECT_EQ(run([&] { root->getKey("exception")->read(text); }), Raised::JsonKeyReader);

    LogCapture log;
    tessel::ConfReadHelper helper(root);
    bool success = false;
    unsigned int code = 7;
    EXPECT_TRUE(helper.readKey("success", success, true));
    EXPECT_TRUE(helper.readKey("code", code, false));
    EXPECT_FALSE(helper.readKey("exception", text, false));
    EXPECT_TRUE(success);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(text, "untouched");
    std::vector<std::string> entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(startsWith(entries[0], "TRACE Exception.catch EJsonKeyReader:JSONReader:"));
    EXPECT_EQ(entries[1], "ERROR ConfReadHelper.readKey Error while reading key: \"exception\"");
}

TEST(JSONReader, WrongKindThroughConfReadHelperLogsThreeLines) {
    // The wrapper's own line, the absorbed exception, the key.
    JSONWrapperFromString document("{\"code\": \"zero\"}");
    LogCapture log;
    tessel::ConfReadHelper helper(document.getReader());
    unsigned int code = 0;
    EXPECT_THROW(helper.readKey("code", code, true), tessel::EConfMissingKey);
    std::vector<std::string> entries = log.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(startsWith(entries[0], "ERROR JSONWrapper._as JsonLogicError: "));
    EXPECT_TRUE(startsWith(entries[1], "TRACE Exception.catch EKeyReader:JSONReader:"));
    EXPECT_EQ(entries[2], "ERROR ConfReadHelper.readKey Error while reading key: \"code\"");
}

TEST(JSONReader, LookupWorksForSmallAndLargeObjects) {
    // Names that share prefixes and lengths, in objects below and above the scan limit.
    for (int members : {3, 16, 17, 100}) {
        SCOPED_TRACE(members);
        std::string text = "{";
        for (int i = 0; i < members; ++i) {
            text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\": " + std::to_string(i);
        }
        text += ", \"\": -1}";
        JSONWrapperFromString document(String::copy(text));
        IKeyReader* root = document.getReader();
        for (int i = 0; i < members; ++i) {
            std::string key = "k" + std::to_string(i);
            ASSERT_TRUE(root->hasKey(key.c_str())) << key;
            int value = -2;
            root->getKey(String::copy(key))->read(value);
            EXPECT_EQ(value, i);
        }
        int empty = 0;
        root->getKey("")->read(empty);
        EXPECT_EQ(empty, -1);
        for (const char* absent : {"k", "K0", "k0 ", "k1000", "l"}) {
            EXPECT_FALSE(root->hasKey(absent)) << absent;
            EXPECT_EQ(root->count(String(absent)), 0);
        }
    }
}
