#include "http/systemproxysettings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <optional>
#include <string>

#include "sandbox.h"

namespace {

using tessel::String;
using tessel::http::SystemProxySettings;

std::string show(const std::optional<String>& value) {
    return value ? "'" + value->toStd() + "'" : "absent";
}

// The four values as one comparable text.
std::string describe(const SystemProxySettings& s) {
    if (!s.readable)
        return "unreadable";
    return "enable=" + (s.proxyEnable ? std::to_string(*s.proxyEnable) : "absent") +
           " server=" + show(s.proxyServer) + " override=" + show(s.proxyOverride) +
           " pac=" + show(s.autoConfigUrl);
}

SystemProxySettings fromVariables(const std::map<std::string, std::string>& vars) {
    return SystemProxySettings::fromEnvironment([&vars](const char* name) {
        auto it = vars.find(name);
        return it == vars.end() ? String() : String::copy(it->second);
    });
}

TEST(SystemProxySettingsEnvironment, MapsTheProxyVariablesToTheFourValues) {
    const struct {
        std::map<std::string, std::string> vars;
        const char* expected;
    } cases[] = {
        {{}, "enable=0 server=absent override=absent pac=absent"},
        {{{"https_proxy", "http://user:pw@proxy.example:3128/"}},
         "enable=1 server='https=proxy.example:3128' override=absent pac=absent"},
        {{{"HTTPS_PROXY", "upper.example:8080"}},
         "enable=1 server='https=upper.example:8080' override=absent pac=absent"},
        {{{"https_proxy", "lower.example:1"}, {"HTTPS_PROXY", "upper.example:2"}},
         "enable=1 server='https=lower.example:1' override=absent pac=absent"},
        {{{"https_proxy", "a.example:1"}, {"all_proxy", "socks5h://s.example:1080"}},
         "enable=1 server='https=a.example:1;socks5=s.example:1080' override=absent pac=absent"},
        {{{"ALL_PROXY", "socks5://s.example:1080"}},
         "enable=1 server='socks5=s.example:1080' override=absent pac=absent"},
        {{{"all_proxy", "socks4://u@s.example:1080"}},
         "enable=1 server='socks4=s.example:1080' override=absent pac=absent"},
        {{{"all_proxy", "socks4a://s.example:1080"}},
         "enable=1 server='socks4=s.example:1080' override=absent pac=absent"},
        {{{"all_proxy", "http://h.example:8080"}},
         "enable=1 server='https=h.example:8080' override=absent pac=absent"},
        {{{"all_proxy", "ftp://h.example:21"}},
         "enable=0 server=absent override=absent pac=absent"},
        {{{"no_proxy", "localhost, .corp.example,*,10.0.0.1,,"}},
         "enable=0 server=absent override='localhost;*.corp.example;*;10.0.0.1' pac=absent"},
        {{{"https_proxy", "p.example:3128"}, {"NO_PROXY", "intranet"}},
         "enable=1 server='https=p.example:3128' override='intranet' pac=absent"},
    };
    for (const auto& c : cases) {
        std::string vars;
        for (const auto& [k, v] : c.vars)
            vars += k + "=" + v + " ";
        EXPECT_EQ(describe(fromVariables(c.vars)), c.expected) << vars;
    }
}

// A full listing as "gsettings list-recursively org.gnome.system.proxy" prints it.
std::string listing(const std::string& mode, const std::string& httpsHost, int httpsPort,
                    const std::string& socksHost, int socksPort, const std::string& pac,
                    const std::string& ignore) {
    return "org.gnome.system.proxy autoconfig-url " + pac + "\n" +
           "org.gnome.system.proxy ignore-hosts " + ignore + "\n" + "org.gnome.system.proxy mode " +
           mode + "\n" + "org.gnome.system.proxy use-same-proxy true\n" +
           "org.gnome.system.proxy.http host 'ignored.example'\n" +
           "org.gnome.system.proxy.http port 8080\n" + "org.gnome.system.proxy.https host " +
           httpsHost + "\n" + "org.gnome.system.proxy.https port " + std::to_string(httpsPort) +
           "\n" + "org.gnome.system.proxy.socks host " + socksHost + "\n" +
           "org.gnome.system.proxy.socks port " + std::to_string(socksPort) + "\n";
}

TEST(SystemProxySettingsGnome, MapsTheGnomeKeysToTheFourValues) {
    const std::string defaults = "['localhost', '127.0.0.0/8', '::1']";
    const struct {
        std::string text;
        bool applies;
        const char* expected;
    } cases[] = {
        {listing("'manual'", "'px.example'", 3128, "'sx.example'", 1080, "''", defaults), true,
         "enable=1 server='https=px.example:3128;socks5=sx.example:1080' "
         "override='localhost;127.0.0.0/8;::1' pac=absent"},
        {listing("'manual'", "''", 0, "'sx.example'", 1080, "''", "['.corp.example', \"it's\"]"),
         true,
         "enable=1 server='socks5=sx.example:1080' override='*.corp.example;it\\'s' pac=absent"},
        {listing("'manual'", "''", 0, "''", 0, "''", "@as []"), true,
         "enable=0 server=absent override='' pac=absent"},
        {listing("'auto'", "'px.example'", 3128, "''", 0, "'http://wpad.example/proxy.pac'",
                 defaults),
         true,
         "enable=0 server=absent override='localhost;127.0.0.0/8;::1' "
         "pac='http://wpad.example/proxy.pac'"},
        {listing("'auto'", "''", 0, "''", 0, "''", defaults), true,
         "enable=0 server=absent override='localhost;127.0.0.0/8;::1' pac=absent"},
        {listing("'manual'", "'caf\\u00e9.example'", 1, "''", 0, "''", "[]"), true,
         "enable=1 server='https=caf\xc3\xa9.example:1' override='' pac=absent"},
        {listing("'none'", "'px.example'", 3128, "''", 0, "''", defaults), false, ""},
        {listing("'weird'", "'px.example'", 3128, "''", 0, "''", defaults), false, ""},
        {"org.gnome.system.proxy mode 'manual'\n", true, "unreadable"},
        {listing("'manual'", "px.example", 3128, "''", 0, "''", defaults), true, "unreadable"},
        {"", true, "unreadable"},
    };
    for (const auto& c : cases) {
        SystemProxySettings settings;
        ASSERT_EQ(SystemProxySettings::fromGnomeListing(String::copy(c.text), settings), c.applies)
            << c.text;
        if (c.applies) {
            std::string expected = c.expected;
            // The apostrophe of the table's text stands for itself.
            size_t escaped = expected.find("\\'");
            if (escaped != std::string::npos)
                expected.erase(escaped, 1);
            EXPECT_EQ(describe(settings), expected) << c.text;
        }
    }
}

// Sets a variable for the scope of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name))
            m_old = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// The proxy variables of the machine running the tests must not leak into them.
struct CleanProxyEnvironment {
    ScopedVariable vars[6] = {{"https_proxy", nullptr}, {"HTTPS_PROXY", nullptr},
                              {"all_proxy", nullptr},   {"ALL_PROXY", nullptr},
                              {"no_proxy", nullptr},    {"NO_PROXY", nullptr}};
};

void gsettingsSet(const std::string& schema, const std::string& key, const std::string& value) {
    std::string command = "gsettings set " + schema + " " + key + " \"" + value + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(SystemProxySettingsCurrent, ReadsGnomeSettingsThroughGsettings) {
    vexlan::testing::Sandbox sandbox;  // the key file lands in the sandbox's XDG_CONFIG_HOME
    CleanProxyEnvironment clean;
    ScopedVariable backend("GSETTINGS_BACKEND", "keyfile");
    ScopedVariable https("https_proxy", "env.example:1");
    gsettingsSet("org.gnome.system.proxy", "mode", "manual");
    gsettingsSet("org.gnome.system.proxy.https", "host", "gnome.example");
    gsettingsSet("org.gnome.system.proxy.https", "port", "3128");
    gsettingsSet("org.gnome.system.proxy", "ignore-hosts", "['.corp.example', 'localhost']");
    EXPECT_EQ(describe(SystemProxySettings::current()),
              "enable=1 server='https=gnome.example:3128' override='*.corp.example;localhost' "
              "pac=absent");

    gsettingsSet("org.gnome.system.proxy", "mode", "auto");
    gsettingsSet("org.gnome.system.proxy", "autoconfig-url", "http://127.0.0.1:1/p.pac");
    EXPECT_EQ(describe(SystemProxySettings::current()),
              "enable=0 server=absent override='*.corp.example;localhost' "
              "pac='http://127.0.0.1:1/p.pac'");

    // Mode "none" hands over to the environment.
    gsettingsSet("org.gnome.system.proxy", "mode", "none");
    EXPECT_EQ(describe(SystemProxySettings::current()),
              "enable=1 server='https=env.example:1' override=absent pac=absent");
}

TEST(SystemProxySettingsCurrent, FallsBackToTheEnvironment) {
    CleanProxyEnvironment clean;
    ScopedVariable https("https_proxy", "http://env.example:3128");
    {
        // The memory backend starts from the schema's defaults: mode "none".
        ScopedVariable backend("GSETTINGS_BACKEND", "memory");
        EXPECT_EQ(describe(SystemProxySettings::current()),
                  "enable=1 server='https=env.example:3128' override=absent pac=absent");
    }
    {
        // No schema installed at all.
        ScopedVariable backend("GSETTINGS_BACKEND", "memory");
        ScopedVariable data("XDG_DATA_DIRS", "/nonexistent");
        ScopedVariable schemas("GSETTINGS_SCHEMA_DIR", nullptr);
        EXPECT_EQ(describe(SystemProxySettings::current()),
                  "enable=1 server='https=env.example:3128' override=absent pac=absent");
    }
    {
        // No gsettings command.
        ScopedVariable path("PATH", "/nonexistent");
        EXPECT_EQ(describe(SystemProxySettings::current()),
                  "enable=1 server='https=env.example:3128' override=absent pac=absent");
    }
}

TEST(SystemProxySettingsRecent, AChangedEnvironmentIsReadAfresh) {
    CleanProxyEnvironment clean;
    ScopedVariable backend("GSETTINGS_BACKEND", "memory");
    for (const char* proxy : {"http://first.example:1", "http://second.example:2"}) {
        ScopedVariable https("https_proxy", proxy);
        EXPECT_EQ(describe(SystemProxySettings::recent()), describe(SystemProxySettings::current()))
            << proxy;
    }
}

}  // namespace
