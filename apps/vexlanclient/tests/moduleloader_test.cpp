#include "vexlanclient/moduleloader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/file.h"
#include "sandbox.h"

using tessel::String;
using vexlan::testing::LogCapture;

namespace {

const std::string kFixture = VEXLAN_MODULE_FIXTURE;

// Whether the system still holds the library (without loading it).
bool isLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

}  // namespace

TEST(ModuleLoaderTest, LoadsResolvesAndReleases) {
    ASSERT_FALSE(isLoaded(kFixture));
    {
        ModuleLoader module(String::copy(kFixture));
        EXPECT_TRUE(isLoaded(kFixture));
        auto answer = module.getFunction<int (*)()>("vexlan_fixture_answer");
        EXPECT_EQ(answer(), 42);
        EXPECT_EQ(*static_cast<int*>(module.getProc("vexlan_fixture_value")), 7);
        // Loaded privately: its symbols do not join the process's global scope.
        EXPECT_EQ(dlsym(RTLD_DEFAULT, "vexlan_fixture_answer"), nullptr);
    }
    EXPECT_FALSE(isLoaded(kFixture));
}

TEST(ModuleLoaderTest, FailuresAreLoggedAndRaised) {
    vexlan::testing::TempDir dir;
    std::string missing = dir.file("absent.so");
    std::string notALibrary = dir.file("text.so");
    vexlan::testing::writeFile(notALibrary, "not an ELF file");

    struct Case {
        std::string path;
        const char* detail;  // part of the system's explanation
    };
    for (const Case& c :
         {Case{missing, "No such file or directory"}, Case{notALibrary, "file too short"}}) {
        LogCapture capture;
        EXPECT_THROW(ModuleLoader module(String::copy(c.path)), tessel::EModuleLoader) << c.path;
        auto entries = capture.entries();
        ASSERT_EQ(entries.size(), 1u) << c.path;
        std::string prefix = "ERROR ModuleLoader.ModuleLoader Unable to load \"" + c.path + "\": ";
        EXPECT_EQ(entries[0].rfind(prefix, 0), 0u) << entries[0];
        EXPECT_NE(entries[0].find(c.detail), std::string::npos) << entries[0];
    }

    ModuleLoader module(String::copy(kFixture));
    LogCapture capture;
    EXPECT_THROW(module.getProc("vexlan_no_such_entry"), tessel::EModuleLoader);
    auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].rfind(
                  "ERROR ModuleLoader.ModuleLoader Unable to load \"vexlan_no_such_entry\": ", 0),
              0u)
        << entries[0];
    EXPECT_NE(entries[0].find("undefined symbol: vexlan_no_such_entry"), std::string::npos);
}

TEST(ModuleLoaderTest, ABareNameIsTheFileInTheCurrentFolder) {
    // Named like a system library: the file here must be loaded, not the system's.
    vexlan::testing::Sandbox sandbox;
    std::filesystem::copy_file(kFixture, sandbox.path("libc.so.6"));
    ASSERT_TRUE(tessel::setCurrentDirectory(String::copy(sandbox.home())));
    ModuleLoader module("libc.so.6");
    EXPECT_EQ(module.getFunction<int (*)()>("vexlan_fixture_answer")(), 42);
}
