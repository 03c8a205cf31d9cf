#include "json/JSONWrapper.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/serialize.h"
#include "sandbox.h"

using tessel::EJsonError;
using tessel::JSONWrapper;
using tessel::JSONWrapperFromString;
using tessel::String;
using vexlan::testing::LogCapture;

namespace {

String str(const std::string& s) {
    return String::copy(s);
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string nestedArrays(int depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

}  // namespace

TEST(JSONWrapperFromString, TextThatIsNotJsonRaisesAfterOneLogLine) {
    const char* texts[] = {"",         "   ",       "{",
                           "[1,",      "{\"a\":}",  "nul",
                           "'single'", "{\"a\" 1}", "<html><body>Not Found</body></html>"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        LogCapture log;
        try {
            JSONWrapperFromString document(text);
            ADD_FAILURE() << "parsed";
        } catch (const EJsonError& e) {
            EXPECT_EQ(e.message(), "EJsonError");
            EXPECT_EQ(e.file(), "JSONWrapper");
        }
        std::vector<std::string> expected{"ERROR JSONWrapperFromString: unable to parse json !"};
        EXPECT_EQ(log.entries(), expected);
    }
}

TEST(JSONWrapperFromString, AcceptsCommentsAndAnyRootValue) {
    struct Case {
        const char* text;
        int type;
    } cases[] = {
        {"// the gateway's reply\n{\"a\": 1 /* one */}", JSONWrapper::objectValue},
        {"[1, 2]", JSONWrapper::arrayValue},
        {"{\"a\": 1,}", JSONWrapper::objectValue},  // the library's default: trailing comma
        {"42", JSONWrapper::intValue},
        {"4294967295", JSONWrapper::intValue},
        {"18446744073709551615", JSONWrapper::uintValue},
        {"-1.5e3", JSONWrapper::realValue},
        {"\"text\"", JSONWrapper::stringValue},
        {"true", JSONWrapper::booleanValue},
        {"null", JSONWrapper::nullValue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        JSONWrapperFromString document(c.text);
        EXPECT_EQ(document.getType(), c.type);
        EXPECT_TRUE(log.entries().empty());
    }
}

TEST(JSONWrapperFromString, NestingIsBoundedAndDeepInputFailsCleanly) {
    // The deepest accepted document still yields a reader tree that can be walked down.
    {
        JSONWrapperFromString deepest(str(nestedArrays(JSONWrapperFromString::kMaxDepth)));
        tessel::IKeyReader* reader = deepest.getReader();
        int depth = 1;
        while (reader->count("element") == 1) {
            reader = reader->getKey("element");
            ++depth;
        }
        EXPECT_EQ(depth, JSONWrapperFromString::kMaxDepth);
    }
    std::string deepObject;
    for (int i = 0; i < 100000; ++i)
        deepObject += "{\"a\":";
    deepObject += "1" + std::string(100000, '}');
    for (const std::string& text :
         {nestedArrays(JSONWrapperFromString::kMaxDepth + 1), nestedArrays(100000), deepObject}) {
        LogCapture log;
        EXPECT_THROW(JSONWrapperFromString{str(text)}, EJsonError);
        EXPECT_TRUE(log.contains("ERROR JSONWrapperFromString: unable to parse json !"));
    }
}

TEST(JSONWrapper, ChildByNameAndMemberNames) {
    JSONWrapperFromString document(
        "{\"b\": 2, \"a\": {\"inner\": \"x\"}, \"B\": null, \"\": true}");
    EXPECT_EQ(document.child("a").getType(), JSONWrapper::objectValue);
    EXPECT_EQ(document.child("a").child("inner").asString(), "x");
    EXPECT_EQ(document.child("B").getType(), JSONWrapper::nullValue);
    EXPECT_EQ(document.child("").asBool(), true);
    // Missing members, and members of values that are not objects, are the shared null.
    LogCapture log;
    EXPECT_EQ(document.child("missing").getType(), JSONWrapper::nullValue);
    EXPECT_EQ(document.child("b").child("x").getType(), JSONWrapper::nullValue);
    EXPECT_EQ(document.child("missing").value(), document.child("other").value());
    EXPECT_TRUE(log.entries().empty());

    tessel::Vector<String> names = document.memberNames();
    EXPECT_EQ(names.m_elementKey, "element");
    std::vector<String> expected{"", "B", "a", "b"};  // byte-wise order
    EXPECT_EQ(std::vector<String>(names.begin(), names.end()), expected);
    EXPECT_TRUE(document.child("b").memberNames().empty());
}

TEST(JSONWrapper, ElementsFollowTheLibrarysIteration) {
    struct Case {
        const char* text;
        std::vector<std::string> elements;  // each as its string conversion
    };
    const Case cases[] = {
        {"[3, \"x\", true]", {"3", "x", "true"}},
        {"{\"b\": 2, \"a\": 1}", {"1", "2"}},  // member values by name
        {"[]", {}},
        {"{}", {}},
        {"5", {}},
        {"\"text\"", {}},
        {"null", {}},
    };
    for (const Case& c : cases) {
        JSONWrapperFromString document(c.text);
        std::vector<std::string> seen;
        for (const JSONWrapper& element : document.elements())
            seen.push_back(element.asString().toStd());
        EXPECT_EQ(seen, c.elements) << c.text;
    }
    JSONWrapperFromString nested("[{\"code\": 5}]");
    EXPECT_EQ(nested.elements().at(0).child("code").asInt(), 5);
}

TEST(JSONWrapper, ConversionsFollowTheLibrary) {
    JSONWrapperFromString document(
        "{\"t\": true, \"n\": -12, \"big\": 4294967295, \"r\": 2.5, \"s\": \"text\","
        " \"z\": \"a\\u0000b\", \"null\": null}");
    EXPECT_TRUE(document.child("t").asBool());
    EXPECT_EQ(document.child("t").asInt(), 1);
    EXPECT_EQ(document.child("t").asString(), "true");
    EXPECT_EQ(document.child("n").asInt(), -12);
    EXPECT_EQ(document.child("n").asString(), "-12");
    EXPECT_TRUE(document.child("n").asBool());
    EXPECT_EQ(document.child("big").asUInt(), 4294967295u);
    EXPECT_EQ(document.child("big").asString(), "4294967295");
    EXPECT_EQ(document.child("r").asInt(), 2);
    EXPECT_EQ(document.child("s").asString(), "text");
    EXPECT_EQ(document.child("s").asStdString(), "text");
    EXPECT_EQ(document.child("z").asString().toStd(), std::string("a\0b", 3));
    EXPECT_EQ(document.child("z").asStdString(), std::string("a\0b", 3));
    EXPECT_EQ(document.child("null").asString(), "");
}

TEST(JSONWrapper, FailedConversionLogsTheLibraryMessageAndRaises) {
    JSONWrapperFromString document(
        "{\"s\": \"text\", \"big\": 4294967295, \"neg\": -1, \"huge\": 1e20, \"a\": [1]}");
    struct Case {
        const char* name;
        std::function<void()> convert;
    } cases[] = {
        {"big as int", [&] { document.child("big").asInt(); }},
        {"negative as unsigned", [&] { document.child("neg").asUInt(); }},
        {"huge real as unsigned", [&] { document.child("huge").asUInt(); }},
        {"string as bool", [&] { document.child("s").asBool(); }},
        {"string as int", [&] { document.child("s").asInt(); }},
        {"string as unsigned", [&] { document.child("s").asUInt(); }},
        {"array as string", [&] { document.child("a").asString(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        try {
            c.convert();
            ADD_FAILURE() << "converted";
        } catch (const EJsonError& e) {
            EXPECT_EQ(e.file(), "JSONWrapper");
        }
        std::vector<std::string> entries = log.entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_TRUE(startsWith(entries[0], "ERROR JSONWrapper._as JsonLogicError: ")) << entries[0];
        EXPECT_GT(entries[0].size(), std::string("ERROR JSONWrapper._as JsonLogicError: ").size());
    }
}

TEST(JSONWrapper, ReaderIsBuiltOnceAndSharedByCopies) {
    JSONWrapperFromString document("{\"a\": [1, 2]}");
    tessel::IKeyReader* first = document.getReader();
    EXPECT_EQ(document.getReader(), first);
    JSONWrapper copy(document);
    EXPECT_EQ(copy.getReader(), first);
    EXPECT_EQ(copy.value(), document.value());
    JSONWrapper fresh(document.value());
    EXPECT_NE(fresh.getReader(), first);  // another wrapper builds its own tree
}
