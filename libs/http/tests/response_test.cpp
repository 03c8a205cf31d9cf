#include "http/response.h"

#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "sandbox.h"

using tessel::String;
using tessel::http::Cookie;
using tessel::http::EBadHeader;
using tessel::http::ResponseHeader;
using namespace tessel::http;
using vexlan::testing::LogCapture;

namespace {

// A CR that ends a logged message: the log file is binary on both systems, so it stays.
const std::string kLineEndCr = "\r";

TEST(ResponseHeader, ExtractResponseCode) {
    const std::pair<const char*, int> cases[] = {
        {"HTTP/1.1   404 Not Found\r\n", 404},
        {"HTTP/1.0 200 OK\r\nX: y\r\n\r\n", 200},
        {"HTTP/1.1 30x Odd\r\n\r\n", 30},
        {"HTTP/1.1 abc\n\n", 0},
    };
    for (const auto& c : cases) {
        ResponseHeader header{String(c.first)};
        EXPECT_EQ(header.extractResponseCode(), c.second) << c.first;
        EXPECT_EQ(header.statusCode(), c.second);
        EXPECT_EQ(header.statusCodeState(), kFieldWritten);
    }
}

TEST(ResponseHeader, StatusLineWithoutBlankIsRejected) {
    for (const char* block : {"HTTP/1.1\r\n", "HTTP/1.1\r\nX: a b\r\n\r\n"}) {
        ResponseHeader header{String(block)};
        LogCapture capture;
        try {
            header.extractResponseCode();
            ADD_FAILURE() << "no exception for " << block;
        } catch (const EBadHeader& e) {
            EXPECT_EQ(e.file(), "response");
        }
        EXPECT_TRUE(capture.contains(
            "TRACE http.Response.extractResponseCode bad header: HTTP/1.1" + kLineEndCr));
        EXPECT_EQ(header.statusCodeState(), kFieldInitial);
    }
}

TEST(ResponseHeader, StatusCodeIsRewrittenInPlace) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", "HTTP/1.1 404 OK\r\n\r\n"},
        {"HTTP/1.1  2000 Very OK\r\nA: b\r\n\r\n", "HTTP/1.1  404 Very OK\r\nA: b\r\n\r\n"},
    };
    for (const auto& c : cases) {
        ResponseHeader header{String(c.first)};
        header.setStatusCode(404);
        EXPECT_EQ(header.toString(), c.second);
        EXPECT_EQ(header.statusCodeState(), kFieldWritten);
    }
    ResponseHeader noReason(String("HTTP/1.1 200\r\n\r\n"));
    noReason.setStatusCode(500);
    LogCapture capture;
    EXPECT_THROW(noReason.toString(), EBadHeader);
    EXPECT_TRUE(capture.contains(
        "TRACE http.ResponseHeader.extractResponseCode bad header: HTTP/1.1 200" + kLineEndCr));
    EXPECT_EQ(noReason.text(), "HTTP/1.1 200\r\n\r\n");
}

TEST(Cookie, SetCookieSyntax) {
    Cookie simple;
    simple.name = "a";
    simple.value = "b";
    simple.path = "/";
    simple.secure = true;
    simple.maxAge = "60";
    EXPECT_EQ(simple.toString(), "a=b; path=/; secure; max-age=60");

    Cookie full;
    full.name = "Vexlan-Id";
    full.value = "x1";
    full.domain = "gw.example";
    full.path = "/p";
    full.expires = "Wed, 09 Jun 2021 10:18:14 GMT";
    full.attributes = {{"HttpOnly", ""}, {"SameSite", "Strict"}};
    EXPECT_EQ(
        full.toString(),
        "Vexlan-Id=x1; domain=gw.example; path=/p; expires=\"Wed, 09 Jun 2021 10:18:14 GMT\"; "
        "HttpOnly; SameSite=\"Strict\"");

    Cookie bare;
    bare.name = "n";
    EXPECT_EQ(bare.toString(), "n=");
}

TEST(ResponseHeader, CookiesAndETagAreWrittenByToString) {
    ResponseHeader header(
        String("HTTP/1.1 200 OK\r\nSet-Cookie: old=1\r\nSet-Cookie2: keep=1\r\n"
               "ETag: \"v1\"\r\n\r\n"));
    Cookie a;
    a.name = "a";
    a.value = "1";
    Cookie b;
    b.name = "b";
    b.value = "2";
    b.path = "/";
    header.addCookie(a);
    header.addCookie(b);
    header.setETag("v2");
    EXPECT_EQ(header.cookies().count(), 2u);
    EXPECT_EQ(
        header.toString(),
        "HTTP/1.1 200 OK\r\nSet-Cookie2: keep=1\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2; path=/\r\n"
        "ETag: \"v2\"\r\n\r\n");
    EXPECT_EQ(header.cookieState(), kFieldWritten);
    EXPECT_EQ(header.etagState(), kFieldWritten);

    header.removeCookies(true);
    header.removeETag();
    EXPECT_EQ(header.toString(),
              "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2; path=/\r\n\r\n");
    EXPECT_EQ(header.cookieState(true), kFieldRemoved);
}

TEST(ResponseHeader, ResetAndCopies) {
    ResponseHeader header(String("HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n"));
    header.extractResponseCode();
    Cookie c;
    c.name = "c";
    header.addCookie(c);
    ResponseHeader copy = header;  // the request record keeps a copy of the transfer's header
    header.reset();
    EXPECT_EQ(header.text(), "");
    EXPECT_EQ(header.statusCodeState(), kFieldInitial);
    EXPECT_EQ(header.cookies().count(), 0u);
    EXPECT_EQ(header.cookieState(), kFieldInitial);
    EXPECT_EQ(copy.statusCode(), 302);
    EXPECT_EQ(copy.cookies().count(), 1u);
    EXPECT_EQ(copy.text(), "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\n");
}

}  // namespace
