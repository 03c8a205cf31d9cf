// The sample host checker component: the three exports the client calls. It checks the rules
// of the gateway's request against this workstation (see README.md for the notation).
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "rules.h"

namespace {

std::mutex g_mutex;
std::string g_answer;  // the last answer: stays valid until the next call, as the client expects
std::string g_folder;

// When VEXLAN_HOSTCHECKER_TRACE names a file, every call is appended to it (for tests).
void trace(const std::string& line) {
    const char* path = std::getenv("VEXLAN_HOSTCHECKER_TRACE");
    if (!path || !*path)
        return;
    if (FILE* out = std::fopen(path, "a")) {
        std::fprintf(out, "%s\n", line.c_str());
        std::fclose(out);
    }
}

const char* text(const char* value) {
    return value ? value : "";
}

}  // namespace

#ifdef _WIN32
#define VEXLAN_HOSTCHECKER_EXPORT __declspec(dllexport)
#else
#define VEXLAN_HOSTCHECKER_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

VEXLAN_HOSTCHECKER_EXPORT int InitHostCheckerDll(const char* first, const char* second,
                                                 const char* folder, const char* hostname,
                                                 const char* language) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_folder = text(folder);
    trace(std::string("init|") + text(first) + "|" + text(second) + "|" + g_folder + "|" +
          text(hostname) + "|" + text(language));
    return 1;
}

VEXLAN_HOSTCHECKER_EXPORT const char* GetValidRules(const char* request) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_answer = hostchecker::validRules(text(request));
    trace(std::string("check|") + text(request) + "|" + g_answer);
    return g_answer.c_str();
}

VEXLAN_HOSTCHECKER_EXPORT int CloseHostCheckerDll() {
    std::lock_guard<std::mutex> lock(g_mutex);
    trace("close");
    return 1;
}

}  // extern "C"
