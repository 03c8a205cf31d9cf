// URI splitting, editing and rebuilding, percent-encoding and -decoding, the errors with their
// log lines, and long start parameters on small stacks.
#include "http/uri.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/exception.h"
#include "regex/matcher.h"
#include "regex/pattern.h"
#include "sandbox.h"

using tessel::String;
using tessel::http::percentDecode;
using tessel::http::percentEncode;
using tessel::http::Uri;
using tessel::http::UriComponentException;

namespace {

std::string str(const String& s) {
    return s.toStd();
}

std::vector<std::string> names(const Uri& uri) {
    std::vector<std::string> out;
    for (const String& n : uri.getParameterNames())
        out.push_back(str(n));
    return out;
}

TEST(UriTest, SplitsAndDecodesAndRebuilds) {
    Uri uri("s://h:8/a%20b?x=1&y=%41&x=2#f%21");
    EXPECT_EQ(str(uri.getScheme()), "s");
    EXPECT_EQ(str(uri.getAuthority()), "h:8");
    EXPECT_EQ(str(uri.getUserInformation()), "");
    EXPECT_EQ(str(uri.getHostAndPort()), "h:8");
    EXPECT_EQ(str(uri.getPath()), "/a b");
    EXPECT_EQ(names(uri), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(str(uri.getParameter("x")), "2");
    EXPECT_EQ(str(uri.getParameter("y")), "A");
    EXPECT_EQ(str(uri.getFragment()), "f!");
    EXPECT_EQ(str(uri.toString()), "s://h:8/a b?x=2&y=A#f!");
}

// RFC 3986, appendix B.
TEST(UriTest, ReferenceExampleOfTheSplittingPattern) {
    const char* text = "http://www.ics.uci.edu/pub/ietf/uri/#Related";
    auto pattern = tessel::regex::Pattern::compile(
        "^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\\?([^#]*))?(#(.*))?");
    auto m = pattern->createMatcher(text);
    ASSERT_TRUE(m->matchesAll());
    EXPECT_EQ(str(m->groupText(1)), "http:");
    EXPECT_EQ(str(m->groupText(2)), "http");
    EXPECT_EQ(str(m->groupText(3)), "//www.ics.uci.edu");
    EXPECT_EQ(str(m->groupText(4)), "www.ics.uci.edu");
    EXPECT_EQ(str(m->groupText(5)), "/pub/ietf/uri/");
    EXPECT_EQ(m->groupStart(6), -1);
    EXPECT_EQ(m->groupStart(7), -1);
    EXPECT_EQ(str(m->groupText(8)), "#Related");
    EXPECT_EQ(str(m->groupText(9)), "Related");

    Uri uri(text);
    EXPECT_EQ(str(uri.getScheme()), "http");
    EXPECT_EQ(str(uri.getAuthority()), "www.ics.uci.edu");
    EXPECT_EQ(str(uri.getPath()), "/pub/ietf/uri/");
    EXPECT_TRUE(uri.getParameterNames().empty());
    EXPECT_EQ(str(uri.getFragment()), "Related");
    EXPECT_EQ(str(uri.toString()), text);
}

TEST(UriTest, StartArgumentWithQueryOnlyBecomesGatewayAddress) {
    Uri uri("?lang=fr");
    EXPECT_EQ(str(uri.getScheme()), "");
    EXPECT_EQ(str(uri.getAuthority()), "");
    EXPECT_EQ(str(uri.getPath()), "");
    EXPECT_EQ(str(uri.getParameter("lang")), "fr");
    uri.setScheme("https");
    uri.setAuthority("h");
    EXPECT_EQ(str(uri.getPath()), "/");
    EXPECT_EQ(str(uri.toString()), "https://h/?lang=fr");
}

TEST(UriTest, SetAuthorityPutsASlashBeforeARelativePath) {
    Uri relative("x/y?q=1", true);
    EXPECT_EQ(str(relative.getPath()), "x/y");
    relative.setAuthority("gw:443");
    EXPECT_EQ(str(relative.getPath()), "/x/y");
    EXPECT_EQ(str(relative.toString()), "//gw:443/x/y?q=1");

    Uri absolute("/files/a.dll");
    absolute.setScheme("https");
    absolute.setAuthority("gw:8443");
    EXPECT_EQ(str(absolute.toString()), "https://gw:8443/files/a.dll");
}

TEST(UriTest, UserInformationAndHostAndPort) {
    struct Case {
        const char* text;
        const char* user;
        const char* host;
    } cases[] = {
        {"https://id@host:8443/p", "id", "host:8443"},
        {"https://host", "", "host"},
        {"https://a@b@c/", "a", "b@c"},
        {"https://@h", "", "h"},
        {"https://id%41@h", "id%41", "h"},  // the authority is never decoded
        {"/p", "", ""},
    };
    for (const Case& c : cases) {
        Uri uri(c.text);
        EXPECT_EQ(str(uri.getUserInformation()), c.user) << c.text;
        EXPECT_EQ(str(uri.getHostAndPort()), c.host) << c.text;
    }
}

TEST(UriTest, QueryParameters) {
    struct Case {
        const char* query;
        std::vector<std::string> names;
        std::vector<std::string> values;
        const char* rebuilt;  // toString() of "?" + query
    } cases[] = {
        {"k=", {"k"}, {""}, "?k"},
        {"k", {"k"}, {""}, "?k"},
        {"a=1&b=2&a=3", {"a", "b"}, {"3", "2"}, "?a=3&b=2"},
        {"a&&b", {"a", "", "b"}, {"", "", ""}, "?a&&b"},
        {"a=1=2", {"a"}, {"1=2"}, "?a=1%3D2"},
        {"=v", {""}, {"v"}, "?=v"},
        {"&", {""}, {""}, "?"},
        {"a%26b=c%3Dd", {"a&b"}, {"c=d"}, "?a%26b=c%3Dd"},
        {"sp=a+b%20c", {"sp"}, {"a+b c"}, "?sp=a%2Bb%20c"},
    };
    for (const Case& c : cases) {
        Uri uri(String::copy(std::string("?") + c.query));
        ASSERT_EQ(names(uri), c.names) << c.query;
        for (size_t i = 0; i < c.names.size(); ++i) {
            EXPECT_EQ(str(uri.getParameter(String::copy(c.names[i]))), c.values[i]) << c.query;
        }
        EXPECT_EQ(str(uri.toString()), c.rebuilt) << c.query;
    }
}

TEST(UriTest, EmptyQueryLeavesNoParameters) {
    Uri uri("http://h/p?");
    EXPECT_TRUE(uri.getParameterNames().empty());
    EXPECT_EQ(str(uri.toString()), "http://h/p");
    uri.setQuery("a=1");
    uri.setQuery("");
    EXPECT_TRUE(uri.getParameterNames().empty());
    EXPECT_FALSE(uri.hasParameter("a"));
}

TEST(UriTest, SetParameterKeepsPlaceOfExistingNames) {
    Uri uri("https://h/?lang=fr&clientversion=1&x=y");
    uri.setParameter("clientversion", "8.4.0.24");
    uri.setParameter("new", "a b&c");
    EXPECT_EQ(names(uri), (std::vector<std::string>{"lang", "clientversion", "x", "new"}));
    EXPECT_EQ(str(uri.getParameter("missing")), "");
    EXPECT_FALSE(uri.hasParameter("missing"));
    EXPECT_TRUE(uri.hasParameter("x"));
    EXPECT_EQ(str(uri.toString()), "https://h/?lang=fr&clientversion=8.4.0.24&x=y&new=a%20b%26c");
}

TEST(UriTest, WithoutDecodingPartsStayAsWritten) {
    const char* text = "http://h/a%20b?x=%41&y#f%21";
    Uri uri(text, false);
    EXPECT_FALSE(uri.isDecoding());
    EXPECT_EQ(str(uri.getPath()), "/a%20b");
    EXPECT_EQ(str(uri.getParameter("x")), "%41");
    EXPECT_EQ(str(uri.getFragment()), "f%21");
    EXPECT_EQ(str(uri.toString()), text);
}

TEST(UriTest, EmptyText) {
    Uri uri;
    EXPECT_EQ(str(uri.toString()), "");
    EXPECT_TRUE(uri.getParameterNames().empty());
}

TEST(UriTest, TextWithLineBreakInFragmentIsRejected) {
    vexlan::testing::LogCapture log;
    try {
        Uri uri("http://h/#a\rb");
        FAIL() << "no exception";
    } catch (const UriComponentException& e) {
        EXPECT_EQ(str(e.message()), "UriComponentException");
        EXPECT_EQ(str(e.file()), "uri");
    }
    EXPECT_TRUE(log.contains("ERROR Uri: Invalid uri: http://h/#a\rb"));
    // Line breaks before the fragment are accepted.
    EXPECT_NO_THROW(Uri("h\n/p\r?q=\n"));
    EXPECT_THROW(Uri("#\n"), tessel::http::HttpException);
}

TEST(UriTest, RejectedSetterKeepsPreviousParts) {
    Uri uri("https://id@h:1/p?a=1#f");
    const std::string before = str(uri.toString());
    for (const char* scheme : {"ht:tp", "a/b", "a?", "#"}) {
        vexlan::testing::LogCapture log;
        EXPECT_THROW(uri.setScheme(scheme), UriComponentException) << scheme;
        EXPECT_TRUE(log.contains(std::string("ERROR Uri.setScheme Invalid scheme: ") + scheme));
        EXPECT_EQ(str(uri.toString()), before);
    }
    for (const char* authority : {"h/x", "h?x", "h#x"}) {
        vexlan::testing::LogCapture log;
        EXPECT_THROW(uri.setAuthority(authority), UriComponentException) << authority;
        EXPECT_TRUE(
            log.contains(std::string("ERROR Uri.setAuthority Invalid authority: ") + authority));
        EXPECT_EQ(str(uri.toString()), before);
    }
    // A colon and an at sign are fine in an authority.
    uri.setAuthority("u@h:2");
    EXPECT_EQ(str(uri.toString()), "https://u@h:2/p?a=1#f");
}

// ---------------------------------------------------------------------------------------------
// Percent-encoding

TEST(PercentTest, EncodesEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    std::string expected;
    for (int b = 0; b < 256; ++b) {
        bool kept = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                    b == '-' || b == '.' || b == '_' || b == '~';
        if (kept) {
            expected += static_cast<char>(b);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02hhX", static_cast<unsigned char>(b));
            expected += hex;
        }
    }
    String encoded = percentEncode(String::copy(all));
    EXPECT_EQ(str(encoded), expected);
    EXPECT_EQ(str(percentDecode(encoded)), all);
    EXPECT_EQ(str(percentEncode(String::copy(std::string("a b/\xe9", 5)))), "a%20b%2F%E9");
    EXPECT_EQ(str(percentEncode("")), "");
}

TEST(PercentTest, KeepAndDropSets) {
    EXPECT_EQ(str(percentEncode("a b/c?", "/", " ")), "ab/c%3F");
    EXPECT_EQ(str(percentEncode("rules;a=b", "", "")), "rules%3Ba%3Db");
}

TEST(PercentTest, DecodesEveryByteInBothCases) {
    for (int b = 0; b < 256; ++b) {
        char upper[4];
        char lower[4];
        std::snprintf(upper, sizeof upper, "%%%02X", b);
        std::snprintf(lower, sizeof lower, "%%%02x", b);
        EXPECT_EQ(str(percentDecode(upper)), std::string(1, static_cast<char>(b))) << upper;
        EXPECT_EQ(str(percentDecode(lower)), std::string(1, static_cast<char>(b))) << lower;
    }
}

TEST(PercentTest, MalformedEscapesStayAsTheyAre) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"%", "%"},
        {"%4", "%4"},
        {"%zz", "%zz"},
        {"%g1", "%g1"},
        {"%1g", "%1g"},
        {"%%", "%%"},
        {"%%41", "%A"},
        {"a%41%", "aA%"},
        {"%41%4", "A%4"},
        {"%2541", "%41"},
        {"100%", "100%"},
        {"%aF", "\xaf"},
        {"no escape", "no escape"},
        {"%4%41", "%4A"},
        {"%%%", "%%%"},
        {"%00", std::string(1, '\0')},
        {"x%41y%42z", "xAyBz"},
        {"", ""},
        {"a", "a"},
        {"ab%", "ab%"},
        {"ab%4", "ab%4"},
        {"ab%41", "abA"},
        {"%41%42", "AB"},
        {"%41%", "A%"},
        {"%%4", "%%4"},
        {"%%%41", "%%A"},
        {"%4%", "%4%"},
        {"+%2B+", "+++"},
        {"%e9\xe9%E9", "\xe9\xe9\xe9"},
        {"\xff%\xff%41",
         "\xff%\xff"
         "A"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(percentDecode(c.in)), c.out) << c.in;
}

TEST(PercentTest, DecodesAroundZeroBytesAndLongRuns) {
    const std::string zeros("\0%41\0%00%\0", 10);
    EXPECT_EQ(str(percentDecode(String::copy(zeros))), std::string("\0A\0\0%\0", 6));
    const std::string run(1000, 'r');
    EXPECT_EQ(str(percentDecode(String::copy(run + "%41" + run + "%4" + run + "%"))),
              run + "A" + run + "%4" + run + "%");
    EXPECT_EQ(str(percentDecode(String::copy(run + "%2" + run + "%41"))), run + "%2" + run + "A");
}

TEST(PercentTest, TextWithoutAValidEscapeIsReturnedAsItIs) {
    const String none = String::copy(std::string("a%zz%4%", 7));
    EXPECT_EQ(percentDecode(none).data(), none.data());
    const String plain = String::copy(std::string("plain"));
    EXPECT_EQ(percentDecode(plain).data(), plain.data());
}

// Every text of up to five bytes over a small alphabet, against a byte-by-byte reading of the
// rule: "%" and two hexadecimal digits become one byte, everything else is copied.
TEST(PercentTest, ShortTextsMatchTheByteRule) {
    const char alphabet[] = {'%', '4', 'a', 'G', '\0', '\xc3'};
    auto isHex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string in;
    for (int length = 0; length <= 5; ++length) {
        int total = 1;
        for (int i = 0; i < length; ++i)
            total *= static_cast<int>(sizeof alphabet);
        for (int k = 0; k < total; ++k) {
            in.clear();
            for (int i = 0, rest = k; i < length; ++i, rest /= static_cast<int>(sizeof alphabet))
                in += alphabet[rest % static_cast<int>(sizeof alphabet)];
            std::string expected;
            for (size_t i = 0; i < in.size(); ++i) {
                if (in[i] == '%' && i + 2 < in.size() && isHex(in[i + 1]) && isHex(in[i + 2])) {
                    expected += static_cast<char>(value(in[i + 1]) * 16 + value(in[i + 2]));
                    i += 2;
                } else {
                    expected += in[i];
                }
            }
            ASSERT_EQ(str(percentDecode(String::copy(in))), expected) << length << " " << k;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Long start parameters

struct LongResult {
    bool ok = false;
    size_t pathLength = 0;
    std::string lang;
    std::string host;
};

void parseLong(void* arg) {
    auto* result = static_cast<std::pair<const std::string*, LongResult*>*>(arg);
    try {
        Uri uri(String::copy(*result->first));
        result->second->pathLength = uri.getPath().length();
        result->second->lang = str(uri.getParameter("lang"));
        result->second->host = str(uri.getHostAndPort());
        result->second->ok = true;
    } catch (const tessel::Exception&) {
        result->second->ok = false;
    }
}

void runOnSmallStack(void (*body)(void*), void* arg) {
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    struct Call {
        void (*body)(void*);
        void* arg;
    } call{body, arg};
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* c = static_cast<Call*>(p);
                      c->body(c->arg);
                      return nullptr;
                  },
                  &call),
              0);
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
}

std::string longParameter(size_t pathBytes) {
    std::string text = "vexlan://0123456789abcdef@gateway.example:8443/";
    text.reserve(text.size() + pathBytes + pathBytes / 500 + 32);
    for (size_t i = 0; i < pathBytes; ++i) {
        if (i % 1000 == 0) {
            text += "%41";
        } else {
            text += 'p';
        }
    }
    text += "?lang=fr#end";
    return text;
}

TEST(UriLongTest, TenMegabyteParameterOnMainAndSmallStackThread) {
    const std::string text = longParameter(10 * 1024 * 1024);
    for (bool smallStack : {false, true}) {
        LongResult result;
        std::pair<const std::string*, LongResult*> arg{&text, &result};
        if (smallStack) {
            runOnSmallStack(parseLong, &arg);
        } else {
            parseLong(&arg);
        }
        EXPECT_TRUE(result.ok) << smallStack;
        EXPECT_EQ(result.pathLength, 10u * 1024 * 1024 + 1) << smallStack;
        EXPECT_EQ(result.lang, "fr") << smallStack;
        EXPECT_EQ(result.host, "gateway.example:8443") << smallStack;
    }
}

TEST(UriLongTest, HundredKilobyteParameterOnSmallStackThread) {
    std::string text = "https://id@h/?lang=de&blob=";
    for (int i = 0; i < 100 * 1024 / 3; ++i)
        text += "%41";
    text += "#" + std::string(1000, 'f');
    LongResult result;
    std::pair<const std::string*, LongResult*> arg{&text, &result};
    runOnSmallStack(parseLong, &arg);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.lang, "de");
    EXPECT_EQ(result.host, "h");
}

TEST(UriHostTest, HostOfAnAuthorityWithoutItsPort) {
    const std::pair<const char*, const char*> cases[] = {
        {"gw.example", "gw.example"},
        {"gw.example:8443", "gw.example"},
        {"127.0.0.1:9443", "127.0.0.1"},
        // An IPv6 literal: the address inside the brackets, not the text up to its first ":".
        {"[2001:db8::1]:8443", "2001:db8::1"},
        {"[::1]", "::1"},
        {"[fe80::1%25eth0]:1", "fe80::1%25eth0"},
        {"[::1", "[::1"},  // unclosed: left as it is
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(str(tessel::http::hostOf(c.first)), c.second);
    }
}

TEST(UriHostTest, OnlyHttpsOrRelativeAddressesMayBeFetched) {
    const std::pair<const char*, bool> cases[] = {
        {"https://gw.example/a.zip", true},
        {"HTTPS://gw.example/a.zip", true},
        {"/components/", true},
        {"//gw.example/components/", true},
        {"components/a.zip", true},
        {"http://gw.example/a.zip", false},
        {"gopher://127.0.0.1:6379/_x", false},
        {"dict://127.0.0.1:11211/d:x", false},
        {"file:///etc/passwd", false},
        {"ftp://gw.example/a.zip", false},
        {"httpsx://gw.example/", false},
        {"gw.example:443/a.zip", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(tessel::http::isHttpsOrRelative(Uri(c.first, false)), c.second);
    }
}

// The splitting pattern is compiled on first use; threads that get there together all parse.
TEST(UriThreadTest, ConcurrentFirstUse) {
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                std::string text = "https://u" + std::to_string(t) + "@h:1/p%20" +
                                   std::to_string(i) + "?k=%41" + std::to_string(i);
                Uri uri(String::copy(text));
                if (str(uri.getUserInformation()) != "u" + std::to_string(t) ||
                    str(uri.getPath()) != "/p " + std::to_string(i) ||
                    str(uri.getParameter("k")) != "A" + std::to_string(i)) {
                    ++failures;
                }
            }
        });
    }
    go = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
