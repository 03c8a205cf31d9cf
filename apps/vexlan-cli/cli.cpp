#include "vexlan-cli/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "http/requestinfo.h"
#include "vexlanclient/client.h"

namespace vexlancli {
namespace {

const char kUsage[] =
    "usage: vexlan-cli [--help] [--version] [--connect-timeout SECONDS]\n"
    "                  [--stall-timeout SECONDS] [--max-download BYTES]\n"
    "                  [--max-unpacked BYTES] [--max-entries N] START_PARAMETER\n";

const char kHelp[] =
    "\n"
    "Runs one Vexlan session: asks the gateway named by START_PARAMETER (for example\n"
    "https://ID@gateway.example:8443/mediation?lang=en) what to do and does it.\n"
    "\n"
    "  --connect-timeout SECONDS  seconds allowed to connect (default 30, 0: no limit)\n"
    "  --stall-timeout SECONDS    seconds a transfer may stall (default 60, 0: no limit)\n"
    "  --max-download BYTES       largest file one download may write (default 268435456)\n"
    "  --max-unpacked BYTES       bytes a component archive may unpack to (default 1073741824)\n"
    "  --max-entries N            entries a component archive may hold (default 10000)\n"
    "  --version                  prints the version\n"
    "\n"
    "Log lines go to standard output; notifications go to standard error, one line each.\n"
    "Exit status: 0 session over, 2 gateway unreachable, 3 run failed, 64 usage error,\n"
    "130 after SIGINT, 143 after SIGTERM. SIGUSR1 asks the session for its logs.\n";

int usageError(FILE* err, const std::string& text) {
    std::fprintf(err, "vexlan-cli: %s\n%s", text.c_str(), kUsage);
    return kExitUsage;
}

// A number of decimal digits only, from `least` to `most`.
bool parseNumber(const char* text, uint64_t least, uint64_t most, uint64_t& value) {
    if (!text || !*text)
        return false;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
    }
    errno = 0;
    unsigned long long parsed = std::strtoull(text, nullptr, 10);
    if (errno != 0 || parsed < least || parsed > most)
        return false;
    value = parsed;
    return true;
}

// Seconds of a time-out: 0 (no limit) to a year.
bool parseSeconds(const char* text, uint32_t& value) {
    uint64_t seconds = 0;
    if (!parseNumber(text, 0, 86400ull * 365, seconds))
        return false;
    value = static_cast<uint32_t>(seconds);
    return true;
}

// A limit: from 1 to `most`.
bool parseLimit(const char* text, uint64_t most, uint64_t& value) {
    return parseNumber(text, 1, most, value);
}

std::string oneLine(const tessel::String& text) {
    std::string result = text.toStd();
    for (char& c : result) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return result;
}

}  // namespace

int parseArguments(int argc, const char* const* argv, Options& options, FILE* out, FILE* err) {
    bool haveParameter = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            if (argument == "--help" || argument == "-h") {
                std::fprintf(out, "%s%s", kUsage, kHelp);
                return 0;
            }
            if (argument == "--version") {
                std::fprintf(out, "%s\n", vexlan::VexlanClient::kVersion);
                return 0;
            }
            std::string name = argument;
            const char* value = nullptr;
            size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argv[i] + equals + 1;
            }
            if (name == "--max-download" || name == "--max-unpacked" || name == "--max-entries") {
                const bool entries = name == "--max-entries";
                const std::string needs =
                    name + (entries ? " needs a number of entries" : " needs a number of bytes");
                if (!value) {
                    if (i + 1 >= argc)
                        return usageError(err, needs);
                    value = argv[++i];
                }
                uint64_t limit = 0;
                if (!parseLimit(value, entries ? UINT32_MAX : uint64_t(1) << 62, limit)) {
                    return usageError(err, needs + ", not '" + value + "'");
                }
                if (name == "--max-download") {
                    options.maxDownload = limit;
                } else if (name == "--max-unpacked") {
                    options.maxUnpacked = limit;
                } else {
                    options.maxEntries = static_cast<uint32_t>(limit);
                }
                continue;
            }
            uint32_t* target = nullptr;
            if (name == "--connect-timeout")
                target = &options.connectTimeout;
            if (name == "--stall-timeout")
                target = &options.stallTimeout;
            if (!target)
                return usageError(err, "unknown option " + argument);
            if (!value) {
                if (i + 1 >= argc)
                    return usageError(err, name + " needs a number of seconds");
                value = argv[++i];
            }
            if (!parseSeconds(value, *target)) {
                return usageError(err, name + " needs a number of seconds, not '" + value + "'");
            }
            continue;
        }
        if (haveParameter)
            return usageError(err, "only one start parameter is accepted");
        options.startParameter = argument;
        haveParameter = true;
    }
    if (!haveParameter || options.startParameter.empty()) {
        return usageError(err, "a start parameter is needed");
    }
    return -1;
}

const char* statusMeaning(int status) {
    switch (status) {
        case vexlan::kStatusIdle:
            return "idle";
        case vexlan::kStatusDownloading:
            return "downloading components";
        case vexlan::kStatusConnected:
            return "connected";
        case vexlan::kStatusSessionOver:
            return "session over";
        case vexlan::kStatusHostChecking:
            return "host checking";
        default:
            return "";
    }
}

void LineNotify::line(const char* kind, const std::string& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::fprintf(m_stream, "%s: %s\n", kind, text.c_str());
    std::fflush(m_stream);
}

void LineNotify::connectionFailed(tessel::http::IRequestInfo& info) {
    m_outcome = kExitConnectionFailed;
    line("connection-failed", oneLine(info.toString()));
}

void LineNotify::mediationFailed(const tessel::String& message) {
    m_outcome = kExitRunFailed;
    line("failed", oneLine(message));
}

void LineNotify::statusChanged(const int& status) {
    if (status == vexlan::kStatusSessionOver)
        m_outcome = kExitSessionOver;
    std::string text = std::to_string(status);
    const char* meaning = statusMeaning(status);
    if (*meaning)
        text += std::string(" ") + meaning;
    line("status", text);
}

void LineNotify::message(const tessel::String& text) {
    std::string one = oneLine(text);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_anyMessage && one == m_lastMessage)
            return;
        m_anyMessage = true;
        m_lastMessage = one;
    }
    line("message", one);
}

void LineNotify::sessionType(int type) {
    switch (type) {
        case vexlan::kSessionPlugin:
            line("session", "plugin");
            break;
        case vexlan::kSessionHostChecker:
            line("session", "host checking");
            break;
        case vexlan::kSessionPluginNoTunnel:
            line("session", "plugin without tunnel");
            break;
        default:
            line("session", std::to_string(type));
            break;
    }
}

int LineNotify::exitStatus() const {
    int outcome = m_outcome.load();
    return outcome < 0 ? kExitRunFailed : outcome;
}

}  // namespace vexlancli
