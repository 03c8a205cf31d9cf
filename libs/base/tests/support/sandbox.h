// Test helpers shared by every test executable: a private HOME and XDG_CONFIG_HOME for tests
// that touch the program folder, the settings or the protection key, and a capture of the log.
#pragma once

#include <string>
#include <vector>

namespace vexlan::testing {

// A fresh temporary folder made the user's folders for the lifetime of the object (HOME and
// XDG_CONFIG_HOME = HOME/.config on Linux; USERPROFILE, APPDATA and LOCALAPPDATA under it on
// Windows); the previous values and the current directory come back on destruction, and the
// folder is removed.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& home() const { return m_home; }
    // The settings folder: XDG_CONFIG_HOME on Linux, APPDATA on Windows.
    const std::string& configHome() const { return m_configHome; }
    // A path inside the sandbox.
    std::string path(const std::string& relative) const { return m_home + "/" + relative; }

private:
    struct Saved {
        std::string name;
        bool had = false;
        std::string value;
    };
    std::string m_home;
    std::string m_configHome;
    std::vector<Saved> m_saved;
    std::string m_oldCwd;
};

// A temporary folder removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sends all four log levels to a private file while it lives, and gives back the lines
// written meanwhile without their time stamp ("[thread] LEVEL class.method message").
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // Lines with the thread prefix removed: "LEVEL class.method message".
    std::vector<std::string> entries() const;
    bool contains(const std::string& entry) const;

private:
    TempDir m_dir;
    std::string m_file;
};

// Reads and writes whole files, for fixtures.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

}  // namespace vexlan::testing
