#include "vexlanclient/pluginstatus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sandbox.h"

using tessel::String;
using vexlan::PluginStatusProcessor;
using vexlan::testing::LogCapture;
using Lines = std::vector<std::string>;

namespace {

class RecordingListener : public vexlan::IPluginStatusListener {
public:
    void message(const String& text) override { events.push_back("message " + text.toStd()); }
    void stop() override { events.push_back("stop"); }
    Lines take() {
        Lines taken;
        taken.swap(events);
        return taken;
    }
    Lines events;
};

const char* const kClose3 = R"([{"code": 8, "reason": 3}])";
const char* const kCanceled =
    "TRACE VexlanClientPluginDll.processPluginStatus closeRequest canceled";

struct Poll {
    std::string report;
    Lines events;  // what this poll asks of the sub-client
    Lines log;     // the log entries it writes
};

std::vector<Poll> repeat(const Poll& poll, int times) {
    return std::vector<Poll>(times, poll);
}

std::vector<Poll> concat(std::vector<Poll> a, const std::vector<Poll>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(PluginStatusProcessorTest, PollsInSequence) {
    struct Case {
        const char* what;
        std::vector<Poll> polls;
    };
    const Case cases[] = {
        {"a close request of reason 3 repeated is granted at the sixth poll",
         concat(repeat({kClose3, {}, {}}, 5), {{kClose3, {"stop"}, {}}})},
        {"a poll without a close request cancels the count, which starts again",
         concat(concat(repeat({kClose3, {}, {}}, 3), {{"[]", {}, {kCanceled}}}),
                concat(repeat({kClose3, {}, {}}, 5), {{kClose3, {"stop"}, {}}}))},
        {"two entries in one poll count two",
         concat(repeat({R"([{"code":8,"reason":3},{"code":8,"reason":"3"}])", {}, {}}, 2),
                {{R"([{"code":8,"reason":3},{"code":8,"reason":3}])", {"stop"}, {}}})},
        {"a status is passed on; polls without one then pass the empty text",
         {{"[]", {}, {}},
          {R"([{"code": 5, "status": "connected ip=10.8.0.2"}])",
           {"message connected ip=10.8.0.2"},
           {}},
          {"[]", {"message "}, {}},
          {R"([{"code": 7, "status": "ignored"}])", {"message "}, {}},
          {R"([{"code": "5", "status": "getconfig"}])", {"message getconfig"}, {}}}},
        {"a report that is not JSON is logged and the next one is processed",
         {{R"([{"code": 5, "status": "init"}])", {"message init"}, {}},
          {"this is not json {",
           {},
           {"ERROR JSONWrapperFromString: unable to parse json !",
            "TRACE Exception.catch EJsonError:JSONWrapper:"}},
          {R"([{"code": 5, "status": "authenticating"}])", {"message authenticating"}, {}}}},
        {"an entry that cannot be read ends the poll after the entries before it",
         {{R"([{"code": 5, "status": "init"}, {"code": 5, "status": {"x": 1}},
              {"code": 8, "reason": 2}])",
           {"message init"},
           {"ERROR JSONWrapper._as JsonLogicError:", "TRACE Exception.catch EJsonError:"}}}},
        {"entries without a known code and a top-level object are ignored",
         {{R"([{"status": "x"}, {"code": "8x", "reason": 2}, 5, "text"])", {"stop"}, {}},
          {R"({"code": 5, "status": "x"})", {}, {}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PluginStatusProcessor processor;
        RecordingListener listener;
        int number = 0;
        for (const Poll& poll : c.polls) {
            SCOPED_TRACE("poll " + std::to_string(++number) + ": " + poll.report);
            LogCapture capture;
            processor.process(String::copy(poll.report), listener);
            EXPECT_EQ(listener.take(), poll.events);
            Lines entries = capture.entries();
            ASSERT_EQ(entries.size(), poll.log.size());
            for (size_t i = 0; i < entries.size(); ++i)
                EXPECT_EQ(entries[i].rfind(poll.log[i], 0), 0u) << entries[i];
        }
    }
}

TEST(PluginStatusProcessorTest, ReasonsThatCloseAtOnce) {
    struct Case {
        const char* reason;  // as it stands in the report
        bool immediate;
    };
    const Case cases[] = {
        {"1", true},     {"2", true},       {"4", true},   {"\"2\"", true}, {"\"4 (user)\"", true},
        {"0", false},    {"3", false},      {"5", false},  {"-2", false},   {"\"\"", false},
        {"null", false}, {"\"x2\"", false}, {"2.0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        PluginStatusProcessor processor;
        RecordingListener listener;
        processor.process(String::copy(std::string(R"([{"code": 8, "reason": )") + c.reason + "}]"),
                          listener);
        EXPECT_EQ(listener.take(), c.immediate ? Lines{"stop"} : Lines{});
        EXPECT_EQ(processor.closeRequests(), c.immediate ? 0u : 1u);
    }
    // Without any reason at all, the entry is counted like reason 3.
    PluginStatusProcessor processor;
    RecordingListener listener;
    processor.process(R"([{"code": 8}])", listener);
    EXPECT_EQ(processor.closeRequests(), 1u);
    EXPECT_TRUE(listener.take().empty());
}
