#include "rules.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace hostchecker {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string osName() {
    std::ifstream release("/etc/os-release");
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            std::string value = line.substr(12);
            value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
            return value;
        }
    }
    struct utsname uts {};
    return uname(&uts) == 0 ? std::string(uts.sysname) + " " + uts.release : std::string();
}

bool processRuns(const std::string& name) {
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
            continue;
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string command;
        if (std::getline(comm, command) && command == name) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

}  // namespace

bool ruleHolds(const std::string& rule) {
    size_t colon = rule.find(':');
    if (colon == std::string::npos)
        return false;
    std::string kind = rule.substr(0, colon);
    std::string value = rule.substr(colon + 1);
    if (kind == "os")
        return !value.empty() && lower(osName()).find(lower(value)) != std::string::npos;
    if (kind == "file") {
        struct stat st {};
        return !value.empty() && stat(value.c_str(), &st) == 0;
    }
    if (kind == "proc")
        return !value.empty() && processRuns(value);
    if (kind == "user")
        return value == "notroot" && geteuid() != 0;
    return false;
}

std::string validRules(const std::string& request) {
    std::string answer;
    size_t start = 0;
    while (start <= request.size()) {
        size_t end = request.find(';', start);
        if (end == std::string::npos)
            end = request.size();
        std::string rule = request.substr(start, end - start);
        if (!rule.empty() && ruleHolds(rule)) {
            if (!answer.empty())
                answer += ';';
            answer += rule;
        }
        start = end + 1;
    }
    return answer;
}

}  // namespace hostchecker
