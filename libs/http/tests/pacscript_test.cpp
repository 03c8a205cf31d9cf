#include "http/pacscript.h"

#include <gtest/gtest.h>

#include "http/pacevaluator.h"

#include <map>
#include <string>

#include "sandbox.h"

namespace {

using tessel::String;
using tessel::http::PacEvaluator;
using tessel::http::PacLimits;
using tessel::http::PacResolver;
using tessel::http::PacScript;

// The evaluation in this process and the one in the evaluator process that the client uses:
// both must answer alike, name lookups included.
using Evaluate = PacScript::Result (*)(const String&, const String&, const String&, String&,
                                       const PacLimits&);
const std::pair<const char*, Evaluate> kEvaluations[] = {
    {"in process", &PacScript::evaluate}, {"evaluator process", &PacEvaluator::evaluate}};

class FakeResolver : public PacResolver {
public:
    String resolve(const String& host) override {
        auto it = names.find(host.toStd());
        return it == names.end() ? String() : String::copy(it->second);
    }
    String myIpAddress() override { return "192.168.1.20"; }

    std::map<std::string, std::string> names = {{"intranet.test", "10.9.8.7"},
                                                {"www.example.com", "93.184.216.34"}};
};

class PacScriptTest : public ::testing::Test {
protected:
    void SetUp() override { PacScript::setResolver(&m_resolver); }
    void TearDown() override { PacScript::setResolver(nullptr); }

    // FindProxyForURL answers String(expression).
    std::string eval(const std::string& expression, Evaluate evaluate = &PacScript::evaluate) {
        std::string script =
            "function FindProxyForURL(url, host) { return String(" + expression + "); }";
        String answer = "(none)";
        auto result = evaluate(String::copy(script), "http://a/", "a", answer, m_limits);
        EXPECT_EQ(result, PacScript::Result::kAnswer) << expression;
        return answer.toStd();
    }

    PacScript::Result run(const std::string& script, String& answer) {
        return PacScript::evaluate(String::copy(script), "http://www.example.com/x",
                                   "www.example.com", answer, m_limits);
    }

    FakeResolver m_resolver;
    PacLimits m_limits = [] {
        PacLimits l;
        l.nowMilliseconds = 1704285015000;  // Wednesday 2024-01-03 12:30:15 UTC
        l.timeoutMilliseconds = 2000;
        return l;
    }();
};

TEST_F(PacScriptTest, HelperFunctionsAnswerAsScriptsExpect) {
    const std::pair<const char*, const char*> cases[] = {
        {"isPlainHostName('www')", "true"},
        {"isPlainHostName('www.example.com')", "false"},
        {"dnsDomainIs('www.Example.COM', '.example.com')", "true"},
        {"dnsDomainIs('www.example.org', '.example.com')", "false"},
        {"dnsDomainIs('com', '.example.com')", "false"},
        {"localHostOrDomainIs('www', 'www.example.com')", "true"},
        {"localHostOrDomainIs('www.example.com', 'www.example.com')", "true"},
        {"localHostOrDomainIs('www.other.com', 'www.example.com')", "false"},
        {"dnsDomainLevels('www.example.com')", "2"},
        {"dnsDomainLevels('www')", "0"},
        {"shExpMatch('http://a.example.com/x', '*.example.com/*')", "true"},
        {"shExpMatch('abc', 'a?c')", "true"},
        {"shExpMatch('abc', 'a?d')", "false"},
        {"shExpMatch('', '*')", "true"},
        {"shExpMatch('aaa', '*a*a*a*a')", "false"},
        {"shExpMatch('x.y', 'x*y')", "true"},
        {"isInNet('10.1.2.3', '10.0.0.0', '255.0.0.0')", "true"},
        {"isInNet('11.1.2.3', '10.0.0.0', '255.0.0.0')", "false"},
        {"isInNet('intranet.test', '10.9.0.0', '255.255.0.0')", "true"},
        {"isInNet('nowhere.test', '0.0.0.0', '0.0.0.0')", "false"},
        {"isInNet('10.1.2.3', '10.0.0', '255.0.0.0')", "false"},
        {"dnsResolve('intranet.test')", "10.9.8.7"},
        {"dnsResolve('nowhere.test')", "null"},
        {"dnsResolve('10.0.0.1')", "10.0.0.1"},
        {"isResolvable('intranet.test')", "true"},
        {"isResolvable('nowhere.test')", "false"},
        {"myIpAddress()", "192.168.1.20"},
        {"weekdayRange('WED', 'GMT')", "true"},
        {"weekdayRange('MON', 'FRI', 'GMT')", "true"},
        {"weekdayRange('SAT', 'SUN', 'GMT')", "false"},
        {"weekdayRange('FRI', 'MON', 'GMT')", "false"},
        {"weekdayRange('TUE', 'MON', 'GMT')", "true"},
        {"weekdayRange('XYZ', 'GMT')", "false"},
        {"dateRange(3, 'GMT')", "true"},
        {"dateRange(4, 'GMT')", "false"},
        {"dateRange('JAN', 'GMT')", "true"},
        {"dateRange(2024, 'GMT')", "true"},
        {"dateRange('DEC', 'FEB', 'GMT')", "true"},
        {"dateRange('FEB', 'DEC', 'GMT')", "false"},
        {"dateRange(1, 'JAN', 2, 'JAN', 'GMT')", "false"},
        {"dateRange('NOV', 2023, 'FEB', 2024, 'GMT')", "true"},
        {"dateRange(1, 'JAN', 2024, 3, 'JAN', 2024, 'GMT')", "true"},
        {"dateRange(2025, 2023, 'GMT')", "false"},
        {"timeRange(12, 'GMT')", "true"},
        {"timeRange(9, 17, 'GMT')", "true"},
        {"timeRange(13, 14, 'GMT')", "false"},
        {"timeRange(22, 13, 'GMT')", "true"},
        {"timeRange(9, 12, 'GMT')", "false"},
        {"timeRange(12, 30, 12, 31, 'GMT')", "true"},
        {"timeRange(12, 31, 13, 0, 'GMT')", "false"},
        {"timeRange(12, 30, 15, 12, 30, 15, 'GMT')", "true"},
        {"timeRange(12, 30, 16, 12, 30, 20, 'GMT')", "false"},
        {"convert_addr('10.1.2.3')", "167838211"},
        {"convert_addr('192.168.1.1')", "-1062731519"},  // signed, as in browsers
        {"(convert_addr(dnsResolve('intranet.test')) & convert_addr('255.255.0.0')) == "
         "convert_addr('10.9.0.0')",
         "true"},
        {"alert('debugging')", "undefined"},
        {"alert()", "undefined"},
    };
    for (const auto& [where, evaluate] : kEvaluations) {
        for (const auto& [expression, expected] : cases) {
            EXPECT_EQ(eval(expression, evaluate), expected) << expression << " (" << where << ")";
        }
    }
}

TEST_F(PacScriptTest, AlertTextsGoToTheLogBounded) {
    std::string script =
        "function FindProxyForURL(u, h) {"
        "  alert('checking ' + h); alert(42); alert(new Array(2000).join('x'));"
        "  alert(new Array(1024).join('y') + '\\u00e9');"  // cut inside the two-byte character
        "  alert('two\\nlines\\tand\\u0000');"
        "  for (var i = 0; i < 200; i++) alert('loop ' + i);"
        "  return 'DIRECT'; }";
    const std::string prefix = "TRACE PacScript.alert ";
    for (const auto& [where, evaluate] : kEvaluations) {
        vexlan::testing::LogCapture log;
        String answer;
        ASSERT_EQ(evaluate(String::copy(script), "http://www.example.com/x", "www.example.com",
                           answer, m_limits),
                  PacScript::Result::kAnswer)
            << where;
        EXPECT_EQ(answer, "DIRECT");
        std::vector<std::string> alerts;
        for (const std::string& entry : log.entries()) {
            if (entry.rfind(prefix, 0) == 0)
                alerts.push_back(entry.substr(prefix.size()));
        }
        ASSERT_EQ(alerts.size(), PacScript::kMaxAlerts) << where;
        EXPECT_EQ(alerts[0], "checking www.example.com");
        EXPECT_EQ(alerts[1], "42");
        EXPECT_EQ(alerts[2], std::string(PacScript::kMaxAlertBytes, 'x'));
        EXPECT_EQ(alerts[3], std::string(PacScript::kMaxAlertBytes - 1, 'y'));
        EXPECT_EQ(alerts[4], "two lines and ");  // one log line, whatever the script sends
        EXPECT_EQ(alerts.back(), "loop " + std::to_string(PacScript::kMaxAlerts - 6));
    }
}

TEST_F(PacScriptTest, FindProxyForUrlReceivesUrlAndHost) {
    String answer;
    ASSERT_EQ(run("function FindProxyForURL(u, h) {"
                  "  if (dnsDomainIs(h, '.example.com')) return 'PROXY p.test:3128; DIRECT';"
                  "  return 'DIRECT'; }",
                  answer),
              PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "PROXY p.test:3128; DIRECT");
    ASSERT_EQ(run("function FindProxyForURL(u, h) { return u + ' ' + h; }", answer),
              PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "http://www.example.com/x www.example.com");
}

TEST_F(PacScriptTest, FailingScriptsGiveNoAnswerAndLogTheReason) {
    m_limits.timeoutMilliseconds = 300;
    m_limits.maxHeapBytes = 8 * 1024 * 1024;
    const std::pair<const char*, const char*> cases[] = {
        {"function FindProxyForURL(u, h) { return 'DIRECT' ", "SyntaxError"},
        {"function FindProxyForURL(u, h) { throw new Error('boom'); }", "boom"},
        {"var x = 1;", "FindProxyForURL is not a function"},
        {"var FindProxyForURL = 'DIRECT';", "FindProxyForURL is not a function"},
        {"function FindProxyForURL(u, h) { return 42; }", "did not return a string"},
        {"function FindProxyForURL(u, h) { return null; }", "did not return a string"},
        {"throw 'at load time';", "at load time"},
        // Endless loops are stopped, even when the script catches what stops them.
        {"function FindProxyForURL(u, h) { while (true) {} }", "timeout"},
        {"function FindProxyForURL(u, h) { for (;;) { try { while (true) {} } catch (e) {} } }",
         "timeout"},
        {"while (true) {}", "timeout"},
        {"function FindProxyForURL(u, h) { for (;;) { try { dnsResolve('slow.test'); } catch (e) "
         "{} } }",
         "timeout"},
        // Memory and recursion are bounded.
        {"function FindProxyForURL(u, h) { var a = []; for (;;) a.push(new Array(100000).join('x') "
         "+ a.length); }",
         "Error"},
        {"function f() { return f() + 1; } function FindProxyForURL(u, h) { return f(); }",
         "RangeError"},
        {"function FindProxyForURL(u, h) { return new Array(100000).join('xy'); }", "too long"},
    };
    for (const auto& [script, reason] : cases) {
        vexlan::testing::LogCapture log;
        String answer = "untouched";
        EXPECT_EQ(run(script, answer), PacScript::Result::kNoAnswer) << script;
        EXPECT_EQ(answer, "untouched") << script;
        auto entries = log.entries();
        ASSERT_FALSE(entries.empty()) << script;
        const std::string& last = entries.back();
        EXPECT_EQ(last.rfind("TRACE PacScript.evaluate proxy script failed: ", 0), 0u) << last;
        EXPECT_NE(last.find(reason), std::string::npos) << script << " -> " << last;
    }
}

TEST_F(PacScriptTest, ScriptsOverTheSizeLimitAreNotRun) {
    m_limits.maxScriptBytes = 64;
    vexlan::testing::LogCapture log;
    String answer;
    std::string script = "function FindProxyForURL(u, h) { return 'DIRECT'; }";
    EXPECT_EQ(run(script, answer), PacScript::Result::kAnswer);
    script += std::string(64, ' ');
    EXPECT_EQ(run(script, answer), PacScript::Result::kNoAnswer);
    EXPECT_TRUE(log.contains("TRACE PacScript.evaluate proxy script too large: 115 bytes"));
}

TEST(PacShExpMatch, MatchesLikeShellGlobs) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"", "", true},         {"a", "", false},        {"", "?", false},
        {"abc", "*", true},     {"abc", "a*", true},     {"abc", "*c", true},
        {"abc", "*b", false},   {"abcbc", "a*bc", true}, {"ab", "a**b", true},
        {"a.b.c", "*.*", true}, {"aXb", "a?b", true},    {"ab", "a?b", false},
        {"ABC", "abc", false},
    };
    for (const auto& [text, pattern, expected] : cases) {
        EXPECT_EQ(PacScript::shExpMatch(text, pattern), expected) << text << " ~ " << pattern;
    }
}

}  // namespace
