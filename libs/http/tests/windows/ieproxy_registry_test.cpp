// Proxy discovery on Windows: the user's Internet settings written into this process's HKCU
// (a private Wine prefix in the test run), read back by IEProxy, and proxy scripts served over
// loopback by the Linux-side test server, evaluated by WinHTTP.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "http/ieproxy.h"
#include "sandbox.h"

namespace {

using tessel::Proxy;
using tessel::String;
using tessel::http::IEProxy;
using tessel::http::SystemProxySettings;

constexpr const char* kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A registry value to write: absent, a DWORD, text, or raw bytes of another type.
struct Value {
    enum Kind { kAbsent, kDword, kText, kBinary } kind = kAbsent;
    DWORD number = 0;
    std::string bytes;
};
Value absent() {
    return Value{};
}
Value dword(DWORD n) {
    return Value{Value::kDword, n, {}};
}
Value text(const std::string& s) {
    return Value{Value::kText, 0, s};
}
Value binary(const std::string& s) {
    return Value{Value::kBinary, 0, s};
}

class RegistrySettings : public ::testing::Test {
protected:
    void SetUp() override { removeKey(); }
    void TearDown() override { removeKey(); }

    static void removeKey() { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }

    static void write(Value enable, Value server, Value bypass, Value script) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        set(key, "ProxyEnable", enable);
        set(key, "ProxyServer", server);
        set(key, "ProxyOverride", bypass);
        set(key, "AutoConfigURL", script);
        RegCloseKey(key);
    }

    static void set(HKEY key, const char* name, const Value& v) {
        RegDeleteValueA(key, name);
        switch (v.kind) {
            case Value::kAbsent:
                return;
            case Value::kDword:
                ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&v.number), sizeof(DWORD)),
                          ERROR_SUCCESS);
                return;
            case Value::kText:
                ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(v.bytes.c_str()),
                                         static_cast<DWORD>(v.bytes.size() + 1)),
                          ERROR_SUCCESS);
                return;
            case Value::kBinary:
                ASSERT_EQ(RegSetValueExA(key, name, 0, REG_BINARY,
                                         reinterpret_cast<const BYTE*>(v.bytes.data()),
                                         static_cast<DWORD>(v.bytes.size())),
                          ERROR_SUCCESS);
                return;
        }
    }
};

struct Case {
    const char* name;
    Value enable, server, bypass, script;
    const char* url;
    bool result;
    const char* expected;  // "untouched", or "<type name> <address>"
    const char* logged;    // one text of a "TRACE IEProxy.getIEProxy" line, or null
};

std::string outcome(const Proxy& proxy) {
    if (proxy.type() == Proxy::kNone && proxy.address() == "before")
        return "untouched";
    return Proxy::typeName(proxy.type()).toStd() + " " + proxy.address().toStd();
}

void check(const char* name, const char* url, bool result, const char* expected,
           const char* logged) {
    vexlan::testing::LogCapture log;
    Proxy proxy(Proxy::kNone, "before");
    EXPECT_EQ(IEProxy::getIEProxy(proxy, url), result) << name;
    EXPECT_EQ(outcome(proxy), expected) << name;
    if (logged) {
        EXPECT_TRUE(log.contains(std::string("TRACE IEProxy.getIEProxy ") + logged))
            << name << ": missing log line '" << logged << "'";
    }
}

TEST_F(RegistrySettings, TheKeyThatIsMissingGivesNoAnswer) {
    check("no key", "https://gw.example/", false, "untouched",
          "cannot open Internet Explorer key in register database");
    EXPECT_FALSE(SystemProxySettings::current().readable);
}

TEST_F(RegistrySettings, ValuesDecideAsTheSettingsSay) {
    const std::string longServer(70 * 1024, 'x');
    const Case cases[] = {
        {"ProxyEnable missing", absent(), text("proxy.example:8080"), absent(), absent(),
         "https://gw.example/", false, "untouched", "cannot read the key ProxyEnable"},
        {"ProxyEnable of two bytes", binary("\x01\x00"), text("proxy.example:8080"), absent(),
         absent(), "https://gw.example/", false, "untouched", "cannot read the key ProxyEnable"},
        {"ProxyEnable as four raw bytes", binary(std::string("\x01\x00\x00\x00", 4)),
         text("proxy.example:8080"), absent(), absent(), "https://gw.example/", true,
         "https proxy.example:8080", "proxy: single HTTPS: proxy.example:8080"},
        {"one proxy for all", dword(1), text("proxy.example:8080"), absent(), absent(),
         "https://gw.example/", true, "https proxy.example:8080", nullptr},
        {"scheme dropped", dword(1), text("http://proxy.example:80"), absent(), absent(),
         "https://gw.example/", true, "https proxy.example:80", nullptr},
        {"ProxyServer missing", dword(1), absent(), absent(), absent(), "https://gw.example/",
         false, "untouched", "cannot read the key ProxyServer"},
        {"ProxyServer that is no text", dword(1), dword(8080), absent(), absent(),
         "https://gw.example/", false, "untouched", "cannot read the key ProxyServer"},
        {"ProxyServer beyond the size bound", dword(1), text(longServer), absent(), absent(),
         "https://gw.example/", false, "untouched", "cannot read the key ProxyServer"},
        {"http and ftp only", dword(1), text("http=a.example:1;ftp=b.example:2"), absent(),
         absent(), "https://gw.example/", false, "untouched", nullptr},
        {"socks without version skipped", dword(1), text("socks=a.example:1;socks5=b.example:2"),
         absent(), absent(), "https://gw.example/", true, "socks5 b.example:2",
         "proxy: SOCKS5: b.example:2"},
        {"per protocol, local entry skipped", dword(1),
         text("https=127.0.0.1:3128;socks4=c.example:3;https=d.example:4"), absent(), absent(),
         "https://gw.example/", true, "socks4 c.example:3", "proxy: SOCKS4: c.example:3"},
        {"local single proxy never used", dword(1), text("localhost:3128"), absent(), absent(),
         "https://gw.example/", false, "untouched", nullptr},
        {"bypass with leading star, any case", dword(1), text("proxy.example:8080"),
         text("<local>;*.Example.COM"), absent(), "https://www.example.com/", true, "untouched",
         "serverFQDN=www.example.com Exceptions=<local>;*.Example.COM"},
        {"bypass with trailing star", dword(1), text("proxy.example:8080"), text("10.1.*"),
         absent(), "https://10.1.2.3:8443/", true, "untouched", nullptr},
        {"star in the middle never matches", dword(1), text("proxy.example:8080"),
         text("gw*.example"), absent(), "https://gw1.example/", true, "https proxy.example:8080",
         "Exception with wildcards (*) in the middle are not supported: gw*.example"},
        {"<local> is an entry like any other", dword(1), text("proxy.example:8080"),
         text("<local>"), absent(), "https://intranet/", true, "https proxy.example:8080", nullptr},
        {"disabled without a script goes direct", dword(0), text("proxy.example:8080"), absent(),
         absent(), "https://gw.example/", true, "untouched", "cannot read the pac url address"},
    };
    for (const Case& c : cases) {
        write(c.enable, c.server, c.bypass, c.script);
        check(c.name, c.url, c.result, c.expected, c.logged);
    }
}

// --- proxy scripts through WinHTTP ------------------------------------------------------

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

class RegistryScript : public RegistrySettings {
protected:
    void SetUp() override {
        RegistrySettings::SetUp();
        m_files = environment("VEXLAN_TEST_FILES");
        m_port = environment("VEXLAN_TEST_HTTP_PORT");
        if (m_files.empty() || m_port.empty())
            GTEST_SKIP() << "no test server (run through with_servers.py)";
    }

    // A script served by the plain HTTP test server; returns its address.
    std::string serve(const std::string& name, const std::string& body) {
        std::ofstream out(m_files + "/" + name, std::ios::binary);
        out << "function FindProxyForURL(url, host) { " << body << " }\n";
        out.close();
        return "http://127.0.0.1:" + m_port + "/files/" + name;
    }

    std::string m_files;
    std::string m_port;
};

TEST_F(RegistryScript, WinHttpEvaluatesTheScriptOfTheSettings) {
    std::string address = serve("choice.pac",
                                "if (host == \"direct.example\") return \"DIRECT\";"
                                "if (host == \"local.example\") return \"PROXY 127.0.0.1:3128\";"
                                "return \"PROXY p1.example:8080; PROXY p2.example:8081\";");
    write(dword(0), absent(), absent(), text(address));
    // Windows hands over the whole list, Wine its first entry: either way the first is used.
    check("several proxies: the first", "https://gw.example/", true, "https p1.example:8080",
          nullptr);
    check("direct", "https://direct.example/", true, "untouched", "no proxy");
    check("a proxy on this machine", "https://local.example/", false, "untouched",
          "cannot find proxy information");
}

TEST_F(RegistryScript, AScriptThatCannotBeLoadedGivesNoAnswer) {
    // Nothing is served under this name: the server answers 404.
    write(dword(0), absent(), absent(), text("http://127.0.0.1:" + m_port + "/files/missing.pac"));
    check("missing script", "https://gw.example/", false, "untouched",
          "cannot load proxy from url");
}

TEST_F(RegistryScript, AScriptThatNeverArrivesIsGivenUpOn) {
    // The server announces a long script, sends nothing, and holds the connection: the lookup
    // must still come back, with no answer.
    IEProxy::setScriptLimits([] {
        tessel::http::PacLimits limits;
        limits.timeoutMilliseconds = 500;
        return limits;
    }());
    write(dword(0), absent(), absent(), text("http://127.0.0.1:" + m_port + "/stall?after=0"));
    check("stalled script", "https://gw.example/", false, "untouched",
          "cannot load proxy from url");
    IEProxy::setScriptLimits(tessel::http::PacLimits());
}

}  // namespace
