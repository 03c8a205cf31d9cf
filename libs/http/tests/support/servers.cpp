#include "servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vexlan::testing {
namespace {

// Pauses between two readiness probes without a fixed-length sleep of the test itself.
void pause(int milliseconds) {
    poll(nullptr, 0, milliseconds);
}

std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& added) {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        bool replaced = false;
        for (const auto& [name, value] : added) {
            if (entry.compare(0, name.size() + 1, name + "=") == 0)
                replaced = true;
        }
        if (!replaced)
            result.push_back(entry);
    }
    for (const auto& [name, value] : added)
        result.push_back(name + "=" + value);
    return result;
}

void openTo(int target, const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd >= 0) {
        dup2(fd, target);
    }
}

// The first line printed by a short command.
std::string commandOutput(const std::vector<std::string>& argv) {
    ChildProcess::Options options;
    options.captureStdout = true;
    ChildProcess child(argv, options);
    std::string line = child.readLine(30000);
    child.stop();
    return line;
}

void writeText(const std::string& path, const std::string& content, mode_t mode) {
    writeFile(path, content);
    chmod(path.c_str(), mode);
}

// Proxies that drop root privileges must still read their files and write their logs.
void openUp(const std::string& dir) {
    chmod(dir.c_str(), 0777);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Options& options) {
    std::vector<std::string> env = environmentWith(options.environment);
    std::vector<char*> argp, envp;
    for (const std::string& a : argv)
        argp.push_back(const_cast<char*>(a.c_str()));
    argp.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::string output = options.outputFile.empty() ? "/dev/null" : options.outputFile;

    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (options.captureStdout && pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        if (options.holdStdin) {
            dup2(in[0], 0);
        } else {
            openTo(0, "/dev/null", O_RDONLY);
        }
        if (options.captureStdout) {
            dup2(out[1], 1);
        } else {
            openTo(1, output, O_WRONLY | O_CREAT | O_APPEND);
        }
        openTo(2, output, O_WRONLY | O_CREAT | O_APPEND);
        if (!options.workdir.empty() && chdir(options.workdir.c_str()) != 0)
            _exit(127);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    m_pid = pid;
    close(in[0]);
    if (options.holdStdin) {
        m_stdinFd = in[1];
    } else {
        close(in[1]);
    }
    if (options.captureStdout) {
        close(out[1]);
        m_stdoutFd = out[0];
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

bool ChildProcess::running() {
    if (m_reaped)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid)
        m_reaped = true;
    return !m_reaped;
}

std::string ChildProcess::readLine(int timeoutMs) {
    for (;;) {
        size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return line;
        }
        if (m_stdoutFd < 0)
            return std::string();
        pollfd p{m_stdoutFd, POLLIN, 0};
        int ready = poll(&p, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::string();
        char block[4096];
        ssize_t n = read(m_stdoutFd, block, sizeof(block));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string();
        m_pending.append(block, static_cast<size_t>(n));
    }
}

void ChildProcess::stop() {
    if (m_stdinFd >= 0) {
        close(m_stdinFd);
        m_stdinFd = -1;
    }
    if (m_pid > 0 && !m_reaped) {
        kill(-m_pid, SIGTERM);
        for (int i = 0; i < 200 && running(); ++i)
            pause(10);
        if (!m_reaped) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_reaped = true;
        }
    }
    if (m_pid > 0)
        kill(-m_pid, SIGKILL);  // helpers the child left behind
    if (m_stdoutFd >= 0) {
        close(m_stdoutFd);
        m_stdoutFd = -1;
    }
}

int freePort(const std::string& host) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    socklen_t length = sizeof(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("no free port on " + host);
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool canBindIpv6Loopback() {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

Listener::Listener() {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof(address);
    if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(m_fd, 8) != 0 ||
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (m_fd >= 0)
            close(m_fd);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_port = ntohs(address.sin_port);
}

Listener::~Listener() {
    close(m_fd);
}

bool Listener::connected() const {
    pollfd entry{m_fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
}

bool waitForPort(const std::string& host, int port, ChildProcess& child, int tries) {
    for (int i = 0; i < tries; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        close(fd);
        if (connected)
            return true;
        if (!child.running())
            return false;
        pause(25);
    }
    return false;
}

std::string supportDirectory() {
    return VEXLAN_HTTP_TEST_SUPPORT;
}

HttpsServer::HttpsServer(bool tls, const std::string& bind, const std::string& maxTls)
    : m_tls(tls), m_host(bind) {
    std::filesystem::create_directories(root());
    ChildProcess::Options options;
    options.captureStdout = true;
    options.holdStdin = true;
    options.workdir = m_dir.path();
    std::vector<std::string> argv = {"python3",   supportDirectory() + "/https_server.py",
                                     "--root",    root(),
                                     "--workdir", m_dir.path(),
                                     "--bind",    bind};
    if (!tls)
        argv.push_back("--plain");
    if (!maxTls.empty())
        argv.insert(argv.end(), {"--max-tls", maxTls});
    m_process = std::make_unique<ChildProcess>(argv, options);
    std::string line = m_process->readLine(60000);
    if (line.compare(0, 5, "PORT ") != 0) {
        throw std::runtime_error("the test server did not start: '" + line + "'");
    }
    m_port = std::stoi(line.substr(5));
}

void HttpsServer::addFile(const std::string& name, const std::string& content) const {
    std::filesystem::path path = std::filesystem::path(root()) / name;
    std::filesystem::create_directories(path.parent_path());
    writeFile(path.string(), content);
}

std::vector<std::string> HttpsServer::requests() const {
    std::vector<std::string> result;
    std::istringstream in(readFile(m_dir.file("requests.jsonl")));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty())
            result.push_back(line);
    }
    return result;
}

SquidProxy::SquidProxy(const std::string& user, const std::string& password,
                       const std::string& host)
    : m_host(host), m_port(freePort(host)) {
    openUp(m_dir.path());
    std::string hash = commandOutput({"openssl", "passwd", "-apr1", password});
    if (hash.empty())
        throw std::runtime_error("openssl passwd failed");
    writeText(m_dir.file("passwd"), user + ":" + hash + "\n", 0644);
    std::ostringstream conf;
    conf << "http_port " << host << ":" << m_port << "\n"
         << "visible_hostname vexlan-test\n"
         << "pid_filename " << m_dir.file("squid.pid") << "\n"
         << "cache_log " << m_dir.file("cache.log") << "\n"
         << "access_log none\ncache_store_log none\ncache deny all\ncache_mem 8 MB\n"
         << "coredump_dir " << m_dir.path() << "\n"
         << "pinger_enable off\nshutdown_lifetime 0 seconds\n"
         << "auth_param basic program /usr/lib/squid/basic_ncsa_auth " << m_dir.file("passwd")
         << "\n"
         << "auth_param basic children 1 startup=1\n"
         << "auth_param basic realm vexlan-test\n"
         << "acl authed proxy_auth REQUIRED\n"
         << "http_access allow authed\nhttp_access deny all\n";
    writeText(m_dir.file("squid.conf"), conf.str(), 0644);
    ChildProcess::Options options;
    options.workdir = m_dir.path();
    options.outputFile = m_dir.file("squid.out");
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"squid", "-N", "-n", "vexlan" + std::to_string(m_port), "-f",
                                 m_dir.file("squid.conf")},
        options);
    if (!waitForPort(host, m_port, *m_process)) {
        throw std::runtime_error("squid did not start: " + log());
    }
}

std::string SquidProxy::log() const {
    std::string text;
    for (const char* name : {"squid.out", "cache.log"}) {
        std::ifstream in(m_dir.file(name));
        std::stringstream s;
        s << in.rdbuf();
        text += s.str();
    }
    return text;
}

MicrosocksProxy::MicrosocksProxy(const std::string& user, const std::string& password,
                                 const std::string& host)
    : m_host(host), m_port(freePort(host)) {
    ChildProcess::Options options;
    options.outputFile = m_dir.file("microsocks.out");
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"microsocks", "-i", host, "-p", std::to_string(m_port), "-u", user,
                                 "-P", password},
        options);
    if (!waitForPort(host, m_port, *m_process)) {
        throw std::runtime_error("microsocks did not start: " + readFile(options.outputFile));
    }
}

DanteSocks4Proxy::DanteSocks4Proxy(const std::string& host) : m_host(host), m_port(freePort(host)) {
    openUp(m_dir.path());
    std::ostringstream conf;
    conf << "logoutput: " << m_dir.file("sockd.log") << "\n"
         << "internal: " << host << " port = " << m_port << "\n"
         << "external: 127.0.0.1\n"
         << "clientmethod: none\nsocksmethod: none\n";
    if (geteuid() == 0)
        conf << "user.privileged: root\nuser.unprivileged: nobody\n";
    conf << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
         << "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 protocol: tcp }\n";
    writeText(m_dir.file("sockd.conf"), conf.str(), 0644);
    ChildProcess::Options options;
    options.outputFile = m_dir.file("sockd.out");
    m_process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"danted", "-f", m_dir.file("sockd.conf"), "-p",
                                 m_dir.file("sockd.pid"), "-N", "1"},
        options);
    if (!waitForPort(host, m_port, *m_process)) {
        throw std::runtime_error("danted did not start: " + readFile(options.outputFile));
    }
}

}  // namespace vexlan::testing
