#include "tunnel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tunnel_platform.h"

namespace tunnel {
namespace {

constexpr const char* kConfigurationUrl = "/files/tunnel.conf";
constexpr const char* kConfigurationFile = "tunnel.conf";
constexpr const char* kDefaultAddress = "10.8.0.2";
// How long stop waits for the connection thread before leaving it to finish on its own.
constexpr auto kStopWait = std::chrono::seconds(5);

std::string trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// A JSON string literal.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int stepMilliseconds() {
    const char* text = std::getenv("VEXLAN_TUNNEL_STEP_MS");
    if (!text || !*text)
        return Tunnel::kDefaultStepMilliseconds;
    int value = std::atoi(text);
    return value < 0 ? 0 : (value > 60000 ? 60000 : value);
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localTime(now, local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

}  // namespace

std::map<std::string, std::string> parseConfiguration(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        values[trim(line.substr(0, equals))] = trim(line.substr(equals + 1));
    }
    return values;
}

std::string maskedProxy(const std::string& proxy) {
    std::string out;
    size_t field = 1;
    for (char c : proxy) {
        if (c == '|') {
            ++field;
            out += c;
            if (field == 5)
                out += "***";
            continue;
        }
        if (field != 5)
            out += c;
    }
    return out;
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find_first_of("/\\") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

Tunnel::Tunnel() {
    note("created");
}

Tunnel::~Tunnel() {
    stop();
}

void Tunnel::set(const std::string& name, const char* value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings[name] = value ? value : "";
    if (name == "DllSetProxy2") {
        noteLocked("proxy " + maskedProxy(m_settings[name]));
    } else if (name == "DllSetTicket2") {
        noteLocked(name + " ***");  // the ticket opens the session: it stays out of the log
    } else if (name != "DllSetCertPassword2") {
        noteLocked(name + " " + m_settings[name]);
    }
}

void Tunnel::addServerName(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_serverNames.push_back(name ? name : "");
    noteLocked("server name " + m_serverNames.back());
}

void Tunnel::setDelegate(VexlanDownloadDelegate* delegate) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delegate = delegate;
}

std::string Tunnel::value(const std::string& name) const {
    auto found = m_settings.find(name);
    return found == m_settings.end() ? std::string() : found->second;
}

void Tunnel::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    noteLocked(line);
}

void Tunnel::noteLocked(const std::string& line) {
    m_log.push_back(timestamp() + " " + line);
    while (m_log.size() > kMaxLogLines)
        m_log.pop_front();
}

void Tunnel::setState(const std::string& state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
    m_unreported.push_back(state);
    noteLocked("state " + state);
}

bool Tunnel::waitStopped(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, duration, [this] { return m_stopping; });
}

void Tunnel::start() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_started)
            return;
        m_started = true;
        m_state = "init";
        m_unreported.push_back(m_state);
        noteLocked("start; state init");
    }
    m_worker = std::thread([this] {
        run();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    });
}

void Tunnel::run() {
    const auto step = std::chrono::milliseconds(stepMilliseconds());
    if (waitStopped(step))
        return;
    setState("authenticating");
    if (waitStopped(step))
        return;
    setState("getconfig");

    VexlanDownloadDelegate* delegate;
    std::string target;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        delegate = m_delegate;
        target = value("DllSetPluginDir2") + kConfigurationFile;
    }
    int fetched = delegate ? delegate(kConfigurationUrl, target.c_str()) : 0;
    note(std::string("fetch ") + kConfigurationUrl + " -> " + target +
         (fetched ? " done" : " failed"));
    std::map<std::string, std::string> configuration;
    if (fetched) {
        std::ifstream file(target, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        configuration = parseConfiguration(text);
    }
    if (!fetched || configuration.empty()) {
        setState("authError cannot get the tunnel configuration");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closeScheduled = true;
        m_closeReason = 1;
        m_closeAt = std::chrono::steady_clock::now();
        return;
    }
    if (waitStopped(step))
        return;

    std::string address = configuration.count("ip") ? configuration["ip"] : kDefaultAddress;
    setState("connected ip=" + address);
    auto closeAfter = configuration.find("close-after");
    if (closeAfter != configuration.end()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closeScheduled = true;
        auto reason = configuration.find("close-reason");
        m_closeReason = reason == configuration.end() ? 2 : std::atoi(reason->second.c_str());
        int seconds = std::max(0, std::atoi(closeAfter->second.c_str()));
        m_closeAt = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        noteLocked("the gateway asks to close after " + std::to_string(seconds) +
                   " s with reason " + std::to_string(m_closeReason));
    }
}

void Tunnel::stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started || m_stopping)
            return;
        m_stopping = true;
        noteLocked("stop");
    }
    m_changed.notify_all();
    if (!m_worker.joinable())
        return;
    // The thread may be inside a download: wait a while, then let it end on its own (the
    // object is never destroyed while the process runs).
    std::unique_lock<std::mutex> lock(m_mutex);
    bool ended = m_changed.wait_for(lock, kStopWait, [this] { return m_finished; });
    lock.unlock();
    if (ended) {
        m_worker.join();
    } else {
        m_worker.detach();
    }
}

std::string Tunnel::errors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_polls;
    std::string report = "[";
    auto add = [&report](const std::string& entry) {
        if (report.size() > 1)
            report += ",";
        report += entry;
    };
    if (m_started) {
        if (m_unreported.empty())
            m_unreported.push_back(m_state);
        for (const std::string& status : m_unreported)
            add("{\"code\":5,\"status\":" + quoted(status) + "}");
        m_unreported.clear();
    }
    if (m_closeScheduled && !m_stopping && std::chrono::steady_clock::now() >= m_closeAt) {
        if (!m_closing)
            noteLocked("asking to close");
        m_closing = true;
        add("{\"code\":8,\"reason\":" + std::to_string(m_closeReason) + "}");
    }
    return report + "]";
}

std::string Tunnel::logs() {
    return "stats;writelog tunnel.log";
}

void Tunnel::execute(const std::string& command) {
    if (command == "stats") {
        std::lock_guard<std::mutex> lock(m_mutex);
        noteLocked("stats: state " + m_state + ", " + std::to_string(m_polls) + " polls, " +
                   std::to_string(m_serverNames.size()) + " server names");
        return;
    }
    const std::string writeLog = "writelog ";
    if (command.rfind(writeLog, 0) == 0) {
        std::string name = command.substr(writeLog.size());
        std::string folder;
        std::string text;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            folder = value("DllSetPluginDir2");
            for (const std::string& line : m_log)
                text += line + "\n";
        }
        if (!isPlainFileName(name) || folder.empty()) {
            note("refused to write the log to '" + name + "'");
            return;
        }
        std::string path = folder + name;
        std::string temporary = path + ".tmp";
        if (!writePrivateFile(temporary, text)) {
            note("cannot write " + temporary);
            return;
        }
        if (!replaceFile(temporary, path))
            note("cannot write " + path);
        return;
    }
    note("unknown command '" + command + "'");
}

}  // namespace tunnel
