#include "http/header.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "base/exception.h"
#include "sandbox.h"

using tessel::String;
using tessel::http::EBadHeader;
using tessel::http::Header;
using namespace tessel::http;
using vexlan::testing::LogCapture;

namespace {

// A CR that ends a logged message: the log file is binary on both systems, so it stays.
const std::string kLineEndCr = "\r";

TEST(HeaderNames, TableOfSixtyFourSlots) {
    EXPECT_STREQ(headerName(5), "");
    EXPECT_STREQ(headerName(kAcceptCharset), "Accept-Charset");
    EXPECT_STREQ(headerName(kSoapAction), "SOAPAction");
    EXPECT_STREQ(headerName(kXVexlanTicket64), "X-Vexlan-ticket64");
    EXPECT_STREQ(headerKey(kSslClientVerify), "ssl_client_verify");
    EXPECT_STREQ(headerName(kSetCookie2), "Set-Cookie2");
    EXPECT_STREQ(headerName(64), "");
    int named = 0;
    for (int slot = 0; slot < kHeaderSlots; ++slot) {
        std::string name = headerName(slot);
        std::string lower;
        for (char c : name)
            lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(headerKey(slot), lower) << slot;
        if (!name.empty())
            ++named;
    }
    EXPECT_EQ(named, 63);
}

struct RemoveCase {
    const char* block;
    int slot;
    const char* result;
};

TEST(Header, RemoveAttribute) {
    const RemoveCase cases[] = {
        // Every line of the header goes, whatever the case and the blanks before ":".
        {"HTTP/1.1 200 OK\r\nContent-Type: a\r\ncontent-TYPE : b\r\nX: y\r\n\r\n", kContentType,
         "HTTP/1.1 200 OK\r\nX: y\r\n\r\n"},
        {"HTTP/1.1 200 OK\r\nContent-Type\t: a\r\n\r\n", kContentType, "HTTP/1.1 200 OK\r\n\r\n"},
        // A longer name, or the name inside a line, is no hit.
        {"HTTP/1.1 200 OK\r\nContent-Typex: a\r\nX: content-type: b\r\n\r\n", kContentType,
         "HTTP/1.1 200 OK\r\nContent-Typex: a\r\nX: content-type: b\r\n\r\n"},
        {"HTTP/1.1 200 OK\r\nSet-Cookie2: a\r\nSet-Cookie: b\r\n\r\n", kSetCookie,
         "HTTP/1.1 200 OK\r\nSet-Cookie2: a\r\n\r\n"},
        // The first line can be a hit; LF-style blocks work the same.
        {"Host: h\nVia: v\n\n", kHost, "Via: v\n\n"},
        {"HTTP/1.1 200 OK\nhost: a\nHOST: b\n\n", kHost, "HTTP/1.1 200 OK\n\n"},
        // A slot without a name removes nothing.
        {"HTTP/1.1 200 OK\r\n: x\r\n\r\n", 5, "HTTP/1.1 200 OK\r\n: x\r\n\r\n"},
    };
    for (const RemoveCase& c : cases) {
        SCOPED_TRACE(c.block);
        Header header{String(c.block)};
        header.removeAttribute(c.slot);
        EXPECT_EQ(header.text(), c.result);
    }
}

TEST(Header, HitWithoutLineFeedAfterTheColonIsRejected) {
    String block = "HTTP/1.1 200 OK\r\nContent-Type\n:";
    Header header(block);
    LogCapture capture;
    EXPECT_THROW(header.removeAttribute(kContentType), EBadHeader);
    EXPECT_TRUE(capture.contains("TRACE http.Header.removeAttribute bad header: HTTP/1.1 200 OK" +
                                 kLineEndCr));
    EXPECT_EQ(header.text(), block);
}

TEST(Header, BlockNeedsALineFeedAmongItsLastFourBytes) {
    LogCapture capture;
    EXPECT_THROW(Header(String("HTTP/1.1 200 OK")), EBadHeader);
    EXPECT_TRUE(capture.contains("TRACE http.Header.Header bad header: HTTP/1.1 200 OK"));
    EXPECT_THROW(Header(String("a\nbcde")), EBadHeader);
    EXPECT_THROW(Header(String("")), EBadHeader);
    EXPECT_NO_THROW(Header(String("a\nbcd")));
    try {
        Header bad(String("no line feed"));
    } catch (const EBadHeader& e) {
        EXPECT_EQ(e.file(), "header");
    }
}

TEST(Header, LinesAreAddedBeforeTheEmptyLine) {
    Header crlf(String("HTTP/1.1 200 OK\r\nA: b\r\n\r\n"));
    EXPECT_TRUE(crlf.crlf());
    crlf.addLine(kHost, "h");
    crlf.appendLine("X-Raw: 1\r\n");
    EXPECT_EQ(crlf.text(), "HTTP/1.1 200 OK\r\nA: b\r\nHost: h\r\nX-Raw: 1\r\n\r\n");

    Header lf(String("HTTP/1.1 200 OK\nA: b\n\n"));
    EXPECT_FALSE(lf.crlf());
    lf.addLine(kVia, "v");
    EXPECT_EQ(lf.text(), "HTTP/1.1 200 OK\nA: b\nVia: v\n\n");

    Header empty;
    empty.addLine(kUserAgent, "agent");
    EXPECT_EQ(empty.text(), "User-Agent: agent\r\n\r\n");
}

TEST(Header, ReceivedLinesBuildAWellFormedBlock) {
    // A block starts from the status line alone; each received line keeps its own line end.
    Header header(String("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(header.crlf());
    header.appendLine("Content-Type: text/html\r\n");
    header.appendLine("Content-Length: 5\r\n");
    header.appendLine("\r\n");
    EXPECT_EQ(header.text(),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\n");
    header.removeAttribute(kContentType);
    EXPECT_EQ(header.text(), "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n");
}

TEST(Header, PendingFieldsAreWrittenByToString) {
    Header header(
        String("HTTP/1.1 200 OK\r\nx-forwarded-proto: http\r\nHost: h\r\n"
               "Content-Length: 9\r\nWWW-Authenticate: old\r\n\r\n"));
    header.setField(kXForwardedProto, "https");
    header.removeField(kHost);
    tessel::Strings schemes;
    schemes.append("Basic realm=\"r\"");
    schemes.append("Negotiate");
    header.setFieldValues(kWWWAuthenticate, schemes);
    header.setContentLength(42);
    EXPECT_EQ(header.fieldState(kXForwardedProto), kFieldSet);
    EXPECT_EQ(header.toString(),
              "HTTP/1.1 200 OK\r\nX-Forwarded-Proto: https\r\n"
              "WWW-Authenticate: Basic realm=\"r\"\r\nWWW-Authenticate: Negotiate\r\n"
              "Content-Length: 42\r\n\r\n");
    EXPECT_EQ(header.fieldState(kXForwardedProto), kFieldWritten);
    EXPECT_EQ(header.fieldState(kHost), kFieldRemoved);
    EXPECT_EQ(header.fieldState(kWWWAuthenticate), kFieldWritten);
    EXPECT_EQ(header.fieldState(kContentLength), kFieldWritten);
    EXPECT_EQ(header.fieldValue(kXForwardedProto), "https");
    EXPECT_EQ(header.fieldValue(kContentLength), "42");

    // Written and removed fields leave the text alone afterwards.
    header.appendLine("Host: again");
    String text = header.text();
    EXPECT_EQ(header.toString(), text);
}

TEST(Header, AFailedToStringLeavesTheObjectAsItWas) {
    String block = "HTTP/1.1 200 OK\r\nHost: h\r\nContent-Type\n:";
    Header header(block);
    header.setField(kHost, "other");
    header.setField(kContentType, "text/plain");
    EXPECT_THROW(header.toString(), EBadHeader);
    EXPECT_EQ(header.text(), block);
    EXPECT_EQ(header.fieldState(kHost), kFieldSet);
    EXPECT_EQ(header.fieldState(kContentType), kFieldSet);
}

TEST(Header, Reset) {
    Header header(String("HTTP/1.1 200 OK\r\n\r\n"));
    header.setField(kHost, "h");
    header.removeField(kContentLength);
    header.reset();
    EXPECT_EQ(header.text(), "");
    EXPECT_EQ(header.fieldState(kHost), kFieldInitial);
    EXPECT_EQ(header.fieldState(kContentLength), kFieldInitial);
    EXPECT_EQ(header.toString(), "");
}

}  // namespace
