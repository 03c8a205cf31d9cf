// The host checker's questions to a Linux system: os-release, stat, /proc and the user id.
#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>

#include "rules_platform.h"

namespace hostchecker {

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

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
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

bool userRuleHolds(const std::string& value) {
    return value == "notroot" && geteuid() != 0;
}

}  // namespace hostchecker
