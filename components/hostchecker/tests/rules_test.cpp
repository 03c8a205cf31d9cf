// The sample host checker's rules, evaluated against the machine the test runs on.
#include "rules.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>
#else
#include <unistd.h>
#endif

#include <cctype>
#include <fstream>
#include <string>
#include <utility>

#include "sandbox.h"

namespace {

// The first word of the OS name with its case turned around.
std::string firstWordOtherCase(const std::string& name) {
    std::string word = name.substr(0, name.find(' '));
    for (char& c : word) {
        unsigned char u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
    }
    return word;
}

#ifdef _WIN32
std::string prettyName() {
    return "Microsoft Windows";
}

// The executable file name of this process, as the process snapshot lists it.
std::string ownCommandName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    return name.substr(name.find_last_of("\\/") + 1);
}

// The user rule of this system and whether it holds for the user running the test.
std::pair<std::string, bool> userRule() {
    return {"user:notadmin", !IsUserAnAdmin()};
}
#else
std::pair<std::string, bool> userRule() {
    return {"user:notroot", geteuid() != 0};
}

std::string prettyName() {
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string value = line.substr(12);
            if (value.size() >= 2 && value.front() == '"')
                value = value.substr(1, value.size() - 2);
            return value;
        }
    }
    return std::string();
}

std::string ownCommandName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}
#endif

TEST(RulesTest, EachKindHoldsOnlyWhenTheWorkstationSatisfiesIt) {
    vexlan::testing::TempDir dir;
    std::string present = dir.file("present with blanks");
    vexlan::testing::writeFile(present, "");
    std::string os = prettyName();
    ASSERT_FALSE(os.empty()) << "no PRETTY_NAME in /etc/os-release";
    std::string command = ownCommandName();
    ASSERT_FALSE(command.empty());
    const struct {
        std::string rule;
        bool holds;
    } cases[] = {
        {"os:" + firstWordOtherCase(os), true},
        {"os:no-such-system", false},
        {"os:", false},
        {"file:" + present, true},
        {"file:" + dir.file("absent"), false},
        {"file:", false},
        {"proc:" + command, true},
        {"proc:no-such-process", false},
        {"proc:", false},
        {userRule().first, userRule().second},
        {"user:root", false},
        {"user:admin", false},
        {"disk:full", false},
        {"no separator", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.holds, hostchecker::ruleHolds(c.rule)) << c.rule;
    }
}

TEST(RulesTest, AnswerKeepsRequestOrderAndDropsRulesThatFail) {
    vexlan::testing::TempDir dir;
    std::string a = dir.file("a");
    std::string b = dir.file("b");
    vexlan::testing::writeFile(a, "");
    vexlan::testing::writeFile(b, "");
    std::string request = ";file:" + b + ";;file:" + dir.file("none") + ";file:" + a + ";";
    EXPECT_EQ("file:" + b + ";file:" + a, hostchecker::validRules(request));
    EXPECT_EQ("", hostchecker::validRules(""));
    EXPECT_EQ("", hostchecker::validRules("file:" + dir.file("none")));
}

}  // namespace
