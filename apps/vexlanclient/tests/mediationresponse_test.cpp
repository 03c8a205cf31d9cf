#include "vexlanclient/mediationresponse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/exception.h"
#include "sandbox.h"

using tessel::String;
using vexlan::testing::LogCapture;

namespace {

String fixture(const std::string& name) {
    return String::copy(vexlan::testing::readFile(std::string(VEXLAN_TEST_DATA) + "/" + name));
}

// The EMediationResponse that building the envelope of `name` raises.
tessel::EMediationResponse rejection(const std::string& name) {
    try {
        MediationResponse response(fixture(name));
    } catch (const tessel::EMediationResponse& e) {
        return e;
    }
    ADD_FAILURE() << name << " was accepted";
    return tessel::EMediationResponse("none", "none", 0);
}

}  // namespace

TEST(MediationResponse, SuccessfulReplyKeepsItsResult) {
    LogCapture log;
    MediationResponse response(fixture("reply_plugindll.json"));
    EXPECT_TRUE(response.m_success);
    EXPECT_EQ(response.m_code, 0u);
    EXPECT_TRUE(response.m_exception.isEmpty());
    String type;
    response.result()->getKey("type")->read(type);
    EXPECT_EQ(type, "plugindll");
    EXPECT_EQ(response.result(), response.root()->getKey("result"));
    EXPECT_TRUE(log.entries().empty());
}

TEST(MediationResponse, RefusalIsAValidEnvelope) {
    struct Case {
        const char* fixture;
        unsigned int code;
        const char* exception;
    } cases[] = {
        {"reply_refused.json", 403, "Access denied: unknown or expired identifier"},
        {"reply_refused_bare.json", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        LogCapture log;
        MediationResponse response(fixture(c.fixture));
        EXPECT_FALSE(response.m_success);
        EXPECT_EQ(response.m_code, c.code);
        EXPECT_EQ(response.m_exception, c.exception);
        EXPECT_TRUE(log.entries().empty());
    }
}

TEST(MediationResponse, NullExceptionTextCountsAsAbsent) {
    LogCapture log;
    MediationResponse response(fixture("reply_success_null_exception.json"));
    EXPECT_TRUE(response.m_success);
    EXPECT_TRUE(response.m_exception.isEmpty());
    EXPECT_TRUE(
        log.contains("ERROR ConfReadHelper.readKey Error while reading key: \"exception\""));
}

TEST(MediationResponse, BodyThatIsNotJsonIsRejected) {
    struct Case {
        const char* name;
        String body;
    } cases[] = {
        {"HTML error page", fixture("reply_not_json.html")},
        {"empty body", String()},
        {"cut short", fixture("reply_plugindll.json").substring(0, 200)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        try {
            MediationResponse response(c.body);
            ADD_FAILURE() << "accepted";
        } catch (const tessel::EMediationResponse& e) {
            EXPECT_EQ(e.message(), "EMediationResponse");
            EXPECT_EQ(e.file(), "client");
            EXPECT_EQ(e.line(), 59u);
        }
        std::vector<std::string> expected{"ERROR JSONWrapperFromString: unable to parse json !"};
        EXPECT_EQ(log.entries(), expected);
    }
}

TEST(MediationResponse, MissingOrUnreadableMandatoryMembersAreRejected) {
    struct Case {
        const char* fixture;
        const char* logged;
    } cases[] = {
        {"reply_success_without_result.json", "ERROR ConfReadHelper.readKey Missing tag: <result>"},
        {"reply_without_success.json", "ERROR ConfReadHelper.readKey Missing tag: <success>"},
        {"reply_success_not_boolean.json",
         "ERROR ConfReadHelper.readKey Error while reading key: \"success\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        LogCapture log;
        tessel::EMediationResponse e = rejection(c.fixture);
        EXPECT_EQ(e.message(), "EMediationResponse");
        EXPECT_EQ(e.file(), "client");
        EXPECT_EQ(e.line(), 62u);
        EXPECT_TRUE(log.contains(c.logged));
    }
}

TEST(MediationResponse, RefusalNeedsNoResultAndIgnoresOne) {
    // With success false, "result" is not looked at, whatever it holds.
    MediationResponse response{String("{\"success\": false, \"result\": 12}")};
    EXPECT_FALSE(response.m_success);
}
