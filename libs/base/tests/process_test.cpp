#include "base/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/process_platform.h"

using tessel::String;

namespace {

// An argument vector in writable memory, as main receives it.
class Arguments {
public:
    explicit Arguments(const std::vector<std::string>& texts) : m_texts(texts) {
        for (std::string& text : m_texts)
            m_pointers.push_back(&text[0]);
        m_pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(m_texts.size()); }
    char** argv() { return m_pointers.data(); }
    // The bytes of argument i, its terminator excluded.
    std::string raw(size_t i) const { return m_texts[i]; }

private:
    std::vector<std::string> m_texts;
    std::vector<char*> m_pointers;
};

#ifndef _WIN32
// The dumpable flag is Linux's: Windows guards a process by its access rights.
// Restores the dumpable flag and VEXLAN_ALLOW_CORE_DUMPS after a test changed them.
class DumpableGuard {
public:
    DumpableGuard() : m_dumpable(tessel::detail::processDumpable()) {
        if (const char* value = getenv("VEXLAN_ALLOW_CORE_DUMPS")) {
            m_had = true;
            m_value = value;
        }
    }
    ~DumpableGuard() {
        tessel::detail::setProcessDumpable(m_dumpable);
        if (m_had) {
            setenv("VEXLAN_ALLOW_CORE_DUMPS", m_value.c_str(), 1);
        } else {
            unsetenv("VEXLAN_ALLOW_CORE_DUMPS");
        }
    }

private:
    bool m_dumpable;
    bool m_had = false;
    std::string m_value;
};

#endif  // _WIN32

}  // namespace

TEST(HideArgument, EveryCopyOfTheValueAfterTheProgramNameIsZeroed) {
    const std::string secret = "vexlan://alice@gw.example/m";
    Arguments args({secret, "--stall-timeout", secret, "vexlan://alice@gw.example/mx", "x"});
    tessel::hideArgument(args.argc(), args.argv(), String::copy(secret));
    EXPECT_EQ(args.raw(0), secret);  // the program's name is never touched
    EXPECT_EQ(args.raw(1), "--stall-timeout");
    EXPECT_EQ(args.raw(2), std::string(secret.size(), '\0'));  // same length, all zero
    EXPECT_EQ(args.raw(3), "vexlan://alice@gw.example/mx");    // only equal texts
    EXPECT_EQ(args.raw(4), "x");
}

TEST(HideArgument, EmptyValueOrNoVectorChangesNothing) {
    Arguments args({"prog", "", "a"});
    tessel::hideArgument(args.argc(), args.argv(), String());
    tessel::hideArgument(0, nullptr, String("a"));
    EXPECT_EQ(args.raw(2), "a");
}

#ifndef _WIN32
// The dumpable flag is Linux's.
TEST(RefuseCoreDumps, OnlyTheExactValueOneAllowsThem) {
    DumpableGuard guard;
    struct Case {
        const char* value;  // null: unset
        bool refused;
    };
    const Case cases[] = {{nullptr, true}, {"1", false}, {"0", true}, {"yes", true}, {"", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        ASSERT_TRUE(tessel::detail::setProcessDumpable(true));
        if (c.value) {
            setenv("VEXLAN_ALLOW_CORE_DUMPS", c.value, 1);
        } else {
            unsetenv("VEXLAN_ALLOW_CORE_DUMPS");
        }
        EXPECT_EQ(tessel::refuseCoreDumps(), c.refused);
        EXPECT_EQ(tessel::detail::processDumpable(), !c.refused);
    }
}
#endif  // _WIN32
