// The evaluator process: killed past the limit (and gone, not left running), started again for
// the next lookup, kept when it finished in time, bounded in what it asks the client.
#include "http/pacevaluator.h"

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"

namespace {

using tessel::String;
using tessel::http::PacEvaluator;
using tessel::http::PacLimits;
using tessel::http::PacScript;

// Every name resolves; the questions are counted.
class CountingResolver : public tessel::http::PacResolver {
public:
    String resolve(const String& host) override {
        ++questions;
        return host == "intranet.test" ? String("10.9.8.7") : String("10.0.0.1");
    }
    String myIpAddress() override { return "192.168.1.20"; }
    std::atomic<int> questions{0};
};

// The process is neither running nor a zombie: it was ours and has been waited for.
bool reaped(int64_t pid) {
    errno = 0;
    return waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == -1 && errno == ECHILD;
}

bool running(int64_t pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 &&
           waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) == 0;
}

class PacEvaluatorTest : public ::testing::Test {
protected:
    void SetUp() override { PacScript::setResolver(&m_resolver); }
    void TearDown() override { PacScript::setResolver(nullptr); }

    PacScript::Result run(const std::string& body, String& answer) {
        return PacEvaluator::evaluate(
            String::copy("function FindProxyForURL(url, host) { " + body + " }"),
            "http://www.example.com/x", "www.example.com", answer, m_limits);
    }

    CountingResolver m_resolver;
    PacLimits m_limits = [] {
        PacLimits l;
        l.timeoutMilliseconds = 2000;
        return l;
    }();
};

TEST_F(PacEvaluatorTest, ARunawayBuiltInIsKilledAndTheNextLookupStartsAnotherProcess) {
    m_limits.timeoutMilliseconds = 300;
    // One call that the engine's own time check never interrupts: minutes of work.
    const char* runaways[] = {
        "return String(Array.prototype.indexOf.call({length: 1e9}, 1));",
        "return String(Array.prototype.lastIndexOf.call({length: 1e9}, 1));",
    };
    for (const char* body : runaways) {
        String answer = "untouched";
        ASSERT_EQ(run("return 'DIRECT';", answer), PacScript::Result::kAnswer);
        int64_t before = PacEvaluator::lastProcessId();
        vexlan::testing::LogCapture log;
        EXPECT_EQ(run(body, answer), PacScript::Result::kNoAnswer) << body;
        EXPECT_EQ(answer, "DIRECT");
        int64_t stopped = PacEvaluator::lastProcessId();
        EXPECT_EQ(stopped, before) << "the kept process was used";
        EXPECT_TRUE(reaped(stopped)) << "process " << stopped << " is still there";
        ASSERT_FALSE(log.entries().empty());
        EXPECT_EQ(log.entries().back().rfind(
                      "TRACE PacScript.evaluate proxy script failed: timeout, the evaluator was "
                      "stopped after ",
                      0),
                  0u)
            << log.entries().back();

        ASSERT_EQ(run("return 'PROXY next.test:1';", answer), PacScript::Result::kAnswer);
        EXPECT_EQ(answer, "PROXY next.test:1");
        EXPECT_NE(PacEvaluator::lastProcessId(), stopped);
        EXPECT_TRUE(running(PacEvaluator::lastProcessId()));
    }
}

TEST_F(PacEvaluatorTest, AProcessThatFinishedInTimeIsKept) {
    String answer;
    ASSERT_EQ(run("return 'DIRECT';", answer), PacScript::Result::kAnswer);
    int64_t first = PacEvaluator::lastProcessId();
    vexlan::testing::LogCapture log;
    EXPECT_EQ(run("throw new Error('boom');", answer), PacScript::Result::kNoAnswer);
    EXPECT_TRUE(log.contains("TRACE PacScript.evaluate proxy script failed: Error: boom"));
    ASSERT_EQ(run("return 'PROXY kept.test:1';", answer), PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "PROXY kept.test:1");
    EXPECT_EQ(PacEvaluator::lastProcessId(), first);
    EXPECT_TRUE(running(first));
}

TEST_F(PacEvaluatorTest, AnOrdinaryEndlessLoopGivesNoAnswer) {
    // The engine stops it itself, or (on a machine too busy to report in time) the process
    // is killed: "timeout" either way, and the next lookup answers.
    m_limits.timeoutMilliseconds = 200;
    String answer = "untouched";
    vexlan::testing::LogCapture log;
    EXPECT_EQ(run("for (;;) { try { while (true) {} } catch (e) {} }", answer),
              PacScript::Result::kNoAnswer);
    EXPECT_EQ(answer, "untouched");
    ASSERT_FALSE(log.entries().empty());
    EXPECT_NE(log.entries().back().find("timeout"), std::string::npos) << log.entries().back();
    ASSERT_EQ(run("return 'DIRECT';", answer), PacScript::Result::kAnswer);
}

TEST_F(PacEvaluatorTest, AKeptProcessThatDiedIsReplaced) {
    String answer;
    ASSERT_EQ(run("return 'DIRECT';", answer), PacScript::Result::kAnswer);
    int64_t first = PacEvaluator::lastProcessId();
    ASSERT_EQ(kill(static_cast<pid_t>(first), SIGKILL), 0);
    ASSERT_EQ(run("return 'PROXY again.test:1';", answer), PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "PROXY again.test:1");
    EXPECT_NE(PacEvaluator::lastProcessId(), first);
    EXPECT_TRUE(reaped(first));
}

TEST_F(PacEvaluatorTest, NameLookupsAreAnsweredByTheClientsResolverAndBounded) {
    String answer;
    // One host tested against many networks asks once.
    ASSERT_EQ(run("var n = 0; for (var i = 0; i < 50; i++) if (isInNet(host, '10.0.0.0', "
                  "'255.0.0.0')) n++;"
                  "return n + ' ' + dnsResolve('intranet.test') + ' ' + myIpAddress();",
                  answer),
              PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "50 10.9.8.7 192.168.1.20");
    EXPECT_EQ(m_resolver.questions.load(), 2);
    // Past the cap of distinct names, the rest do not resolve and nobody is asked.
    m_resolver.questions = 0;
    ASSERT_EQ(
        run("var n = 0; for (var i = 0; i < 1000; i++) if (isResolvable('n' + i + '.test')) n++;"
            "return String(n);",
            answer),
        PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "255");
    EXPECT_EQ(m_resolver.questions.load(), 255);
    // A name longer than DNS allows is not asked about.
    m_resolver.questions = 0;
    ASSERT_EQ(run("return String(dnsResolve(new Array(300).join('a') + '.test'));", answer),
              PacScript::Result::kAnswer);
    EXPECT_EQ(answer, "null");
    EXPECT_EQ(m_resolver.questions.load(), 0);
}

TEST_F(PacEvaluatorTest, OversizedInputsAreRefusedBeforeAnyProcessSeesThem) {
    m_limits.maxScriptBytes = 64;
    String answer = "untouched";
    vexlan::testing::LogCapture log;
    EXPECT_EQ(PacEvaluator::evaluate(String::copy(std::string(65, ' ')), "http://a/", "a", answer,
                                     m_limits),
              PacScript::Result::kNoAnswer);
    EXPECT_TRUE(log.contains("TRACE PacScript.evaluate proxy script too large: 65 bytes"));
    std::string url = "http://a/" + std::string(64 * 1024, 'x');
    EXPECT_EQ(PacEvaluator::evaluate("function FindProxyForURL() { return 'DIRECT'; }",
                                     String::copy(url), "a", answer, m_limits),
              PacScript::Result::kNoAnswer);
    EXPECT_TRUE(log.contains(
        "TRACE PacScript.evaluate proxy script failed: URL too long for the proxy script"));
    EXPECT_EQ(answer, "untouched");
}

TEST_F(PacEvaluatorTest, AMissingProgramMeansNoEngine) {
    const char* saved = getenv("VEXLAN_PAC_EVALUATOR");
    std::string program = saved ? saved : "";
    vexlan::testing::TempDir dir;
    setenv("VEXLAN_PAC_EVALUATOR", (dir.path() + "/absent").c_str(), 1);
    // A kept process of an earlier test would answer: end it through a lookup that overruns.
    m_limits.timeoutMilliseconds = 50;
    String answer;
    run("return String(Array.prototype.indexOf.call({length: 1e9}, 1));", answer);
    vexlan::testing::LogCapture log;
    EXPECT_EQ(run("return 'DIRECT';", answer), PacScript::Result::kNoEngine);
    EXPECT_TRUE(log.contains("TRACE PacScript.evaluate cannot start the proxy script evaluator: " +
                             dir.path() + "/absent: No such file or directory"))
        << (log.entries().empty() ? "" : log.entries().back());
    setenv("VEXLAN_PAC_EVALUATOR", program.c_str(), 1);
}

TEST_F(PacEvaluatorTest, ConcurrentLookupsEachGetTheirAnswer) {
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 5; ++i) {
                String answer;
                std::string expected =
                    "PROXY p" + std::to_string(t) + "-" + std::to_string(i) + ".test:1";
                if (PacEvaluator::evaluate(
                        String::copy("function FindProxyForURL(u, h) { return '" + expected +
                                     "'; }"),
                        "http://a/", "a", answer, m_limits) == PacScript::Result::kAnswer &&
                    answer == String::copy(expected)) {
                    ++right;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(right.load(), 20);
}

}  // namespace
