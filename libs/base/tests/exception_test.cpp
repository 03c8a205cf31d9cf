#include "base/exception.h"

#include <gtest/gtest.h>

using tessel::Exception;
using tessel::String;

TEST(Exception, FileIsReducedToItsBaseName) {
    struct Case {
        const char* path;
        const char* file;
    };
    const Case cases[] = {
        {"libs/base/file.cpp", "file.cpp"},
        {"c:\\src\\file.cpp", "file.cpp"},
        {"c:\\src/dir\\file.cpp", "dir\\file.cpp"},  // the last "/" wins, backslashes after it stay
        {"a/b\\c/d.cpp", "d.cpp"},
        {"file", "file"},
        {"dir/", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Exception("m", c.path, 1).file(), c.file) << c.path;
}

TEST(Exception, TextFormAndChain) {
    Exception plain("EFile", "/x/file.cpp", 326);
    EXPECT_EQ(plain.toString(), "EFile:file.cpp:326");
    EXPECT_EQ(plain.code(), 0);
    Exception coded(-1, "IOException", "stream.cpp", 7);
    EXPECT_EQ(coded.toString(), "IOException:stream.cpp:7(4294967295)");
    EXPECT_EQ(Exception(12, "m", "f", 1).toString(), "m:f:1(12)");
    EXPECT_EQ(plain.chain("/repo/apps/client.cpp", 155), "EFile:file.cpp:326 -> client.cpp:155");
}

TEST(Exception, CopiesKeepEveryField) {
    Exception original(3, "message", "dir/source.cpp", 42);
    Exception copy = original;
    EXPECT_EQ(copy.message(), "message");
    EXPECT_EQ(copy.file(), "source.cpp");
    EXPECT_EQ(copy.line(), 42u);
    EXPECT_EQ(copy.code(), 3);
}

TEST(Exception, ThrowMacroUsesTheClassNameAndThisFile) {
    try {
        TESSEL_THROW(tessel::EFile);
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "tessel::EFile");
        EXPECT_EQ(e.file(), "exception_test.cpp");
        EXPECT_GT(e.line(), 0u);
    }
}

TEST(Exception, FamilyIsCaughtThroughItsBases) {
    EXPECT_THROW(throw tessel::EJsonKeyReader("m", "f", 1), tessel::EKeyReader);
    EXPECT_THROW(throw tessel::xml::EKeyReader("m", "f", 1), tessel::EKeyReader);
    EXPECT_THROW(throw tessel::xml::EParser("m", "f", 1), tessel::xml::XmlException);
    EXPECT_THROW(throw tessel::http::EBadHeader("m", "f", 1), tessel::http::HttpException);
    EXPECT_THROW(throw tessel::http::UriComponentException("m", "f", 1),
                 tessel::http::HttpException);
    EXPECT_THROW(throw tessel::zlib::EZip("m", "f", 1), Exception);
    EXPECT_THROW(throw tessel::ENotImplemented("ENotImplemented", "f", 1), Exception);
}

TEST(Exception, ThrowAtKeepsAFixedPositionOrAFixedSource) {
    constexpr tessel::FixedPosition kBoth{"file", 915};
    constexpr tessel::FixedSource kSourceOnly{"uri"};
    try {
        TESSEL_THROW_AT(tessel::EFile, kBoth);
    } catch (const Exception& e) {
        EXPECT_EQ(e.toString(), "tessel::EFile:file:915");
    }
    uint32_t line = 0;
    try {
        line = __LINE__ + 1;
        TESSEL_THROW_AT(tessel::http::UriComponentException, kSourceOnly);
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "tessel::http::UriComponentException");
        EXPECT_EQ(e.file(), "uri");
        EXPECT_EQ(e.line(), line);
    }
}
