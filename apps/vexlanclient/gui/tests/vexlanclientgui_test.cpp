// The single-instance name of a start parameter.
#include "vexlanclient/gui/vexlanclientgui.h"

#include <gtest/gtest.h>

namespace {

TEST(InstanceNameTest, IsTheSha1OfTheParameterInBase64WithoutSlashes) {
    const struct {
        const char* parameter;
        const char* name;
    } cases[] = {
        {"abc", "vexlanclient:qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},
        {"https://gw.example.com/?lang=de", "vexlanclient:iHaD2B8zzAcDInpDGoJt7_CJWoY="},
        {"p6", "vexlanclient:gm8FwfkqT0E4kjB4Uqcph_DiO+4="},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(instanceName(c.parameter), wxString::FromUTF8(c.name)) << c.parameter;
    }
}

TEST(InstanceNameTest, ParametersThatDifferInOneByteGetDifferentNames) {
    const wxString a = instanceName("vexlan://id@gw.example.com/");
    const wxString b = instanceName("vexlan://id@gw.example.com/ ");
    EXPECT_NE(a, b);
    for (const wxString& name : {a, b}) {
        EXPECT_EQ(name.length(), 13u + 28u);
        EXPECT_TRUE(name.EndsWith(wxS("=")));
        EXPECT_EQ(name.Find(wxS('/')), wxNOT_FOUND);
    }
}

}  // namespace
