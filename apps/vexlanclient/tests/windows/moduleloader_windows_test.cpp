// The module loader on Windows: the system's loader, its failures reported as "#" and the
// system's error number.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/file.h"
#include "sandbox.h"
#include "sandbox_platform.h"
#include "vexlanclient/moduleloader.h"

using tessel::String;
using vexlan::testing::LogCapture;

namespace {

const std::string kFixture = VEXLAN_MODULE_FIXTURE;

std::string systemPath(std::string path) {
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

// Whether the system holds the library (without loading it or counting a reference).
bool isLoaded(const std::string& path) {
    return GetModuleHandleA(systemPath(path).c_str()) != nullptr;
}

// The single entry logged while `action` ran.
template <class Action>
std::string loggedFailure(Action action) {
    LogCapture capture;
    EXPECT_THROW(action(), tessel::EModuleLoader);
    auto entries = capture.entries();
    EXPECT_EQ(entries.size(), 1u);
    return entries.empty() ? std::string() : entries[0];
}

}  // namespace

TEST(WindowsModuleLoader, LoadsResolvesAndReleases) {
    ASSERT_FALSE(isLoaded(kFixture));
    {
        ModuleLoader module(String::copy(kFixture));
        EXPECT_TRUE(isLoaded(kFixture));
        auto answer = module.getFunction<int (*)()>("vexlan_fixture_answer");
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(*static_cast<int*>(module.getProc("vexlan_fixture_value")), 7);
        EXPECT_EQ(module.findProc("vexlan_no_such_entry"), nullptr);
    }
    EXPECT_FALSE(isLoaded(kFixture));
}

TEST(WindowsModuleLoader, FailuresCarryTheSystemsErrorNumber) {
    vexlan::testing::TempDir dir;
    std::string missing = dir.file("absent.dll");
    std::string notALibrary = dir.file("text.dll");
    vexlan::testing::writeFile(notALibrary, std::string(4096, 'x'));
    // A Linux shared library offered as a Windows one.
    std::string elf = dir.file("linux.dll");
    vexlan::testing::writeFile(elf, std::string("\x7f"
                                                "ELF\x01\x01\x01",
                                                7) +
                                        std::string(4089, '\0'));

    struct Case {
        std::string path;
        const char* number;  // the system's error
    };
    for (const Case& c : {Case{missing, "#126"}, Case{notALibrary, "#193"}, Case{elf, "#193"}}) {
        SCOPED_TRACE(c.path);
        std::string entry = loggedFailure([&] { ModuleLoader module(String::copy(c.path)); });
        EXPECT_EQ(entry,
                  "ERROR ModuleLoader.ModuleLoader Unable to load \"" + c.path + "\": " + c.number);
    }

    ModuleLoader module(String::copy(kFixture));
    EXPECT_EQ(loggedFailure([&] { module.getProc("vexlan_no_such_entry"); }),
              "ERROR ModuleLoader.ModuleLoader Unable to load \"vexlan_no_such_entry\": #127");
}

TEST(WindowsModuleLoader, ABareNameIsTheFileInTheCurrentFolderOnly) {
    // The same name in a folder of the system's search path (PATH) is never taken.
    vexlan::testing::Sandbox sandbox;
    std::filesystem::create_directories(sandbox.path("elsewhere"));
    std::filesystem::create_directories(sandbox.path("here"));
    std::filesystem::copy_file(kFixture, sandbox.path("elsewhere/vexlan_bare.dll"));
    std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    vexlan::testing::detail::setEnvironment(
        "PATH", (systemPath(sandbox.path("elsewhere")) + ";" + oldPath).c_str());
    ASSERT_TRUE(tessel::setCurrentDirectory(String::copy(sandbox.path("here"))));
    std::string entry = loggedFailure([] { ModuleLoader module("vexlan_bare.dll"); });
    EXPECT_EQ(entry, "ERROR ModuleLoader.ModuleLoader Unable to load \"vexlan_bare.dll\": #126");

    std::filesystem::copy_file(kFixture, sandbox.path("here/vexlan_bare.dll"));
    {
        ModuleLoader module("vexlan_bare.dll");
        EXPECT_EQ(module.getFunction<int (*)()>("vexlan_fixture_answer")(), 42);
    }
    vexlan::testing::detail::setEnvironment("PATH", oldPath.c_str());
}
