#include "vexlanclient/gui/textconversion.h"

#include <gtest/gtest.h>

namespace {

TEST(TextConversionTest, CrossesBothWays) {
    const struct {
        tessel::String bytes;
        wxString text;
    } cases[] = {
        {"", wxS("")},
        {"https://gw.example.com/?lang=de", wxS("https://gw.example.com/?lang=de")},
        {"Gr\xc3\xbc\xc3\x9f"
         "e",
         wxString::FromUTF8("Grüße")},
        {"\xe2\x82\xac 5", wxString::FromUTF8("€ 5")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toWx(c.bytes), c.text) << c.bytes.toStd();
        EXPECT_EQ(fromWx(c.text), c.bytes) << c.bytes.toStd();
    }
}

TEST(TextConversionTest, BytesThatAreNotUtf8AreReadAsLatin1) {
    EXPECT_EQ(toWx(tessel::String("caf\xe9")), wxString::FromUTF8("café"));
    // An embedded zero byte is kept.
    EXPECT_EQ(toWx(tessel::String("a\0b", 3)).length(), 3u);
}

}  // namespace
