// Real servers for the transfer tests, started by a test and stopped with it: the loopback
// HTTP(S) server script beside this file, and the proxies of the Debian packages squid (HTTP
// CONNECT with Basic authentication), microsocks (SOCKS5 with user and password) and dante
// (SOCKS4). Each runs in its own process group with private configuration files and a free
// port; the group is killed when the object goes, and the kernel kills the direct child when
// the test process dies. Readiness is a printed port line or a port that accepts connections,
// waited for with a bounded number of tries.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sandbox.h"

namespace vexlan::testing {

class ChildProcess {
public:
    struct Options {
        std::string workdir;         // current folder of the child; empty: unchanged
        bool captureStdout = false;  // readLine() reads the child's standard output
        bool holdStdin = false;      // the child's standard input stays open until stop()
        std::string outputFile;      // where uncaptured stdout and stderr go (/dev/null)
        std::vector<std::pair<std::string, std::string>> environment;  // added variables
    };

    ChildProcess(const std::vector<std::string>& argv, const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return m_pid; }
    bool running();
    // The next line of captured output without its line end; empty after `timeoutMs` or at
    // the end of the output.
    std::string readLine(int timeoutMs);
    // Closes the child's input, then ends its process group (TERM, then KILL) and reaps it.
    void stop();

private:
    int m_pid = -1;
    int m_stdinFd = -1;
    int m_stdoutFd = -1;
    bool m_reaped = false;
    std::string m_pending;
};

// A TCP port on `host` that nothing listened on a moment ago.
int freePort(const std::string& host);
// Connects to host:port until it accepts, at most `tries` times 25 ms apart; false early when
// the child has exited.
bool waitForPort(const std::string& host, int port, ChildProcess& child, int tries = 400);

// Whether a TCP socket can be bound to ::1 here (containers without IPv6 cannot).
bool canBindIpv6Loopback();

// A TCP listener on 127.0.0.1 that never accepts: a stand-in for a local service that a
// transfer must not reach. The kernel completes connections before they are accepted, so
// once a transfer has returned, connected() tells whether it tried.
class Listener {
public:
    Listener();
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int port() const { return m_port; }
    bool connected() const;

private:
    int m_fd = -1;
    int m_port = 0;
};

// The folder of the support scripts.
std::string supportDirectory();

class HttpsServer {
public:
    // tls false: plain HTTP. The served files live in root(). `maxTls` "1.1" offers nothing
    // newer than TLS 1.1.
    explicit HttpsServer(bool tls = true, const std::string& bind = "127.0.0.1",
                         const std::string& maxTls = "");
    int port() const { return m_port; }
    const std::string& host() const { return m_host; }
    // An IPv6 address is written in brackets, as URLs need it.
    std::string authority() const {
        bool v6 = m_host.find(':') != std::string::npos;
        return (v6 ? "[" + m_host + "]" : m_host) + ":" + std::to_string(m_port);
    }
    std::string url(const std::string& path) const {
        return (m_tls ? "https://" : "http://") + authority() + path;
    }
    std::string root() const { return m_dir.file("root"); }
    // Writes `content` to root()/name.
    void addFile(const std::string& name, const std::string& content) const;
    // The requests received so far, one JSON text each.
    std::vector<std::string> requests() const;

private:
    TempDir m_dir;
    bool m_tls;
    std::string m_host;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

// Every proxy listens on `host` (127.0.0.3 by default: proxy discovery refuses 127.0.0.1 and
// 127.0.0.2) and forwards to anywhere.
class SquidProxy {
public:
    SquidProxy(const std::string& user, const std::string& password,
               const std::string& host = "127.0.0.3");
    std::string address() const { return m_host + ":" + std::to_string(m_port); }
    int port() const { return m_port; }
    // What squid wrote to its log (for failure messages).
    std::string log() const;

private:
    TempDir m_dir;
    std::string m_host;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

class MicrosocksProxy {
public:
    MicrosocksProxy(const std::string& user, const std::string& password,
                    const std::string& host = "127.0.0.3");
    std::string address() const { return m_host + ":" + std::to_string(m_port); }

private:
    TempDir m_dir;
    std::string m_host;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

class DanteSocks4Proxy {
public:
    explicit DanteSocks4Proxy(const std::string& host = "127.0.0.3");
    std::string address() const { return m_host + ":" + std::to_string(m_port); }

private:
    TempDir m_dir;
    std::string m_host;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
};

}  // namespace vexlan::testing
