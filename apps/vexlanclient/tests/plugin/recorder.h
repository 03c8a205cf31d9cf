// The test side of the recording plugin (data/plugin_recorder.cpp): opens the same library
// the client loads (the system shares one copy), starts it afresh and reads what it recorded.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <stdexcept>
#include <string>
#include <vector>

#include "vexlanclient/pluginabi.h"

namespace vexlan::testing {

// Whether the system holds the library at `path` (without loading it).
inline bool isLoaded(const std::string& path) {
#ifdef _WIN32
    std::string systemPath = path;
    for (char& c : systemPath) {
        if (c == '/')
            c = '\\';
    }
    return GetModuleHandleA(systemPath.c_str()) != nullptr;
#else
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
#endif
}

class Recorder {
public:
    explicit Recorder(const std::string& path) {
#ifdef _WIN32
        m_library = LoadLibraryA(path.c_str());
#else
        m_library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (!m_library)
            throw std::runtime_error("cannot load " + path);
        m_log = function<const char* (*)()>("Recorder_log");
        m_queue = function<void (*)(int, const char*)>("Recorder_queue");
        m_liveTexts = function<int (*)()>("Recorder_liveTexts");
        m_delegate = function<VexlanDownloadDelegate* (*)()>("Recorder_delegate");
        function<void (*)()>("Recorder_clear")();
    }
#ifdef _WIN32
    ~Recorder() {
        FreeLibrary(m_library);
    }
#else
    ~Recorder() {
        dlclose(m_library);
    }
#endif
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Every call so far, in order ("DllSetLogin2 H1 jdoe", "DllGetErrors2 H1 -> T1", ...).
    std::vector<std::string> calls() const {
        std::vector<std::string> lines;
        std::string text = m_log();
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    // The calls whose line starts with `prefix`.
    std::vector<std::string> calls(const std::string& prefix) const {
        std::vector<std::string> selected;
        for (const std::string& line : calls())
            if (line.rfind(prefix, 0) == 0)
                selected.push_back(line);
        return selected;
    }
    // The next answers of "DllGetErrors2" / "DllGetLogs2" (null: the export returns null).
    void queueErrors(const char* text) {
        m_queue(0, text);
    }
    void queueLogs(const char* text) {
        m_queue(1, text);
    }
    // Texts returned by the module and not released.
    int liveTexts() const {
        return m_liveTexts();
    }
    VexlanDownloadDelegate* delegate() const {
        return m_delegate();
    }

private:
    template <class F>
    F function(const char* name) {
#ifdef _WIN32
        void* address = reinterpret_cast<void*>(GetProcAddress(m_library, name));
#else
        void* address = dlsym(m_library, name);
#endif
        if (!address)
            throw std::runtime_error(std::string("no ") + name);
        return reinterpret_cast<F>(address);
    }

#ifdef _WIN32
    HMODULE m_library;
#else
    void* m_library;
#endif
    const char* (*m_log)();
    void (*m_queue)(int, const char*);
    int (*m_liveTexts)();
    VexlanDownloadDelegate* (*m_delegate)();
};

}  // namespace vexlan::testing
