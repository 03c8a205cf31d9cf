// The host checker's pieces that need no gateway: the reply record and the component's
// exports.
#include "vexlanclient/hostchecker.h"

#include <gtest/gtest.h>

#include "base/exception.h"
#include "sandbox.h"
#include "vexlanclient/mediationresponse.h"

namespace vexlan {
namespace {

TEST(ResponseHostcheckerResultTest, ContinueAndInfoAreOptional) {
    const struct {
        const char* result;
        bool goOn;
        const char* info;
    } cases[] = {
        {R"({"continue": true, "info": "round 1"})", true, "round 1"},
        {R"({"continue": false})", false, ""},
        {R"({})", false, ""},
        {R"({"continue": "yes"})", false, ""},
        {R"({"info": "only info"})", false, "only info"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        MediationResponse response(
            tessel::String::copy(std::string(R"({"success": true, "result": )") + c.result + "}"));
        ResponseHostcheckerResult result;
        result.readConf(response.result());
        EXPECT_EQ(c.goOn, result.m_continue);
        EXPECT_EQ(c.info, result.m_info.toStd());
    }
}

TEST(HostCheckerDllInstanceTest, LoadsTheSampleComponentAndCallsItsExports) {
    testing::TempDir dir;
    std::string trace = dir.file("trace.txt");
    setenv("VEXLAN_HOSTCHECKER_TRACE", trace.c_str(), 1);
    {
        HostCheckerDllInstance instance(VEXLAN_HOSTCHECKER_COMPONENT);
        instance.init("", "", "/folder/", "gw", "fr");
        EXPECT_EQ("file:/", instance.getValidRules("file:/;file:/no/such/path").toStd());
        instance.close();
    }
    unsetenv("VEXLAN_HOSTCHECKER_TRACE");
    EXPECT_EQ("init|||/folder/|gw|fr\ncheck|file:/;file:/no/such/path|file:/\nclose\nclose\n",
              testing::readFile(trace));
}

TEST(HostCheckerDllInstanceTest, MissingExportsRefuseTheLibrary) {
    testing::LogCapture log;
    EXPECT_THROW(HostCheckerDllInstance instance(VEXLAN_MODULE_FIXTURE), tessel::EModuleLoader);
    bool logged = false;
    for (const std::string& entry : log.entries())
        logged = logged || (entry.rfind("ERROR ModuleLoader.ModuleLoader Unable to load "
                                        "\"InitHostCheckerDll\"",
                                        0) == 0);
    EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace vexlan
