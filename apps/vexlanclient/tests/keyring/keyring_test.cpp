// The protection key in a real GNOME Keyring on a private session bus. Every run of the client
// is a child process (as separate starts of the program would be), so that each one meets the
// bus, the keyring and the files exactly as they are at that moment.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/credentials.h"
#include "sandbox.h"
#include "vexlanclient/clientlocalconfiguration.h"
#include "vexlanclient/dataprotection.h"
#include "vexlanclient/unix/dataprotection_unix.h"
#include "vexlanclient/unix/keyring_platform.h"

namespace fs = std::filesystem;
using tessel::Buffer;
using vexlan::testing::LogCapture;
using vexlan::testing::Sandbox;
namespace unixprotection = vexlan::unixprotection;

namespace {

const char kPassword[] = "pr0xy p@ss";

bool onPath(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string hex(const Buffer& b) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint32_t i = 0; i < b.length(); ++i) {
        out += digits[b.data()[i] >> 4];
        out += digits[b.data()[i] & 15];
    }
    return out;
}

// Runs `run` in a child process and gives back what it returned (the child's exit status must
// be 0). The parent never talks to the bus itself.
std::string inChild(const std::function<std::string()>& run, bool withBus = true) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (!withBus)
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        std::string result;
        try {
            result = run();
        } catch (const std::exception& e) {
            result = std::string("exception: ") + e.what();
        } catch (...) {
            result = "exception";
        }
        size_t done = 0;
        while (done < result.size()) {
            ssize_t n = ::write(out[1], result.data() + done, result.size() - done);
            if (n <= 0)
                ::_exit(2);
            done += static_cast<size_t>(n);
        }
        ::_exit(0);
    }
    ::close(out[1]);
    std::string result;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(out[0], chunk, sizeof chunk)) > 0)
        result.append(chunk, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return result;
}

// Starts `argv` with its standard input fed from `input` (then closed) and its standard output
// to a pipe whose reading end is returned in `outFd` (or /dev/null when outFd is null).
pid_t spawn(const std::vector<std::string>& argv, const std::string& input, int* outFd) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0)
        ADD_FAILURE() << "cannot feed " << argv[0];
    ::close(in[1]);
    if (outFd)
        *outFd = out[0];
    else
        ::close(out[0]);
    return pid;
}

std::string readLine(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

// A private desktop session in the sandbox: a session bus that activates nothing, and on it a
// GNOME Keyring, a service that never answers, or nothing.
class Desktop {
public:
    explicit Desktop(const Sandbox& sandbox) : m_sandbox(sandbox) {
        fs::create_directories(sandbox.path("run"));
        fs::permissions(sandbox.path("run"), fs::perms::owner_all);
        fs::create_directories(sandbox.path(".local/share"));
        std::string config = sandbox.path("bus.conf");
        vexlan::testing::writeFile(
            config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:path=" +
                sandbox.path("run/test-bus") +
                "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                "<allow own=\"*\"/></policy></busconfig>\n");
        int out = -1;
        m_pids.push_back(spawn(
            {"dbus-daemon", "--nofork", "--print-address=1", "--config-file=" + config}, "", &out));
        std::string address = readLine(out);  // the bus is ready once it names its address
        ::close(out);
        EXPECT_FALSE(address.empty());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~Desktop() {
        for (auto it = m_pids.rbegin(); it != m_pids.rend(); ++it) {
            ::kill(*it, SIGTERM);
            ::waitpid(*it, nullptr, 0);
        }
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // GNOME Keyring with its login keyring unlocked (created on the first start), or started
    // without a password: then it has no default collection that could take a key.
    void startKeyring(bool unlocked) {
        std::vector<std::string> argv{"gnome-keyring-daemon", "--foreground",
                                      "--components=secrets"};
        if (unlocked)
            argv.push_back("--unlock");
        m_pids.push_back(spawn(argv, unlocked ? "keyring-password" : "", nullptr));
        waitForName();
        if (unlocked) {
            // The login keyring is made before the daemon takes its name, but check anyway.
            ASSERT_NE(call("org.freedesktop.Secret.Service.ReadAlias \"default\"")
                          .find("/collection/login"),
                      std::string::npos);
        }
    }

    // A process that owns the service's name and never answers.
    void startSilentService() {
        int out = -1;
        m_pids.push_back(spawn({"/usr/bin/python3", "-c",
                                "import dbus, sys, time\n"
                                "bus = dbus.SessionBus()\n"
                                "bus.request_name('org.freedesktop.secrets')\n"
                                "print('ready', flush=True)\n"
                                "time.sleep(3600)\n"},
                               "", &out));
        ASSERT_EQ(readLine(out), "ready");
        ::close(out);
    }

    // Locks the login keyring with the service's own call (no prompt for locking).
    void lockKeyring() {
        call(
            "org.freedesktop.Secret.Service.Lock "
            "\"['/org/freedesktop/secrets/collection/login']\"");
        ASSERT_TRUE(loginLocked());
    }

    bool loginLocked() {
        std::string reply =
            call("org.freedesktop.DBus.Properties.Get org.freedesktop.Secret.Collection Locked",
                 "/org/freedesktop/secrets/collection/login");
        return reply.find("true") != std::string::npos;
    }

    // What `secret-tool search` shows of our items.
    std::string searchItems() {
        return run("secret-tool search --all xdg:schema org.vexlan.client.ProtectionKey 2>&1");
    }

private:
    void waitForName() {
        ASSERT_EQ(std::system("gdbus wait --session --timeout 120 org.freedesktop.secrets"), 0);
    }
    std::string call(const std::string& methodAndArgs,
                     const std::string& object = "/org/freedesktop/secrets") {
        return run("gdbus call --session --dest org.freedesktop.secrets --object-path " + object +
                   " --method " + methodAndArgs + " 2>&1");
    }
    static std::string run(const std::string& command) {
        std::string out;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return out;
        char chunk[1024];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        ::pclose(pipe);
        return out;
    }

    const Sandbox& m_sandbox;
    std::vector<pid_t> m_pids;
};

class Keyring : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onPath("gnome-keyring-daemon"))
            GTEST_SKIP() << "gnome-keyring-daemon is not installed";
    }

    std::string settingsPath() const { return m_sandbox.path("vexlanclient.xml"); }

    // A run that saves the proxy credentials and a certificate exception.
    std::string saveSettings(const std::string& exception, bool withBus = true) {
        return inChild(
            [&] {
                vexlan::ClientLocalConfiguration settings;
                settings.readFromFile(settingsPath().c_str());
                tessel::Credentials proxy;
                proxy.setLogin("alice");
                proxy.setPassword(kPassword);
                settings.setProxyCredentials(proxy);
                settings.certificateExceptions().push_back(exception.c_str());
                settings.writeToFile(settingsPath().c_str());
                return std::string("saved");
            },
            withBus);
    }

    // A run that reads the settings: "password|exceptions|log lines of DataProtection".
    std::string readSettings(bool withBus = true) {
        return inChild(
            [&] {
                LogCapture capture;
                vexlan::ClientLocalConfiguration settings;
                settings.readFromFile(settingsPath().c_str());
                std::string result = settings.proxyCredentials().password().toStd() + "|";
                for (const tessel::String& e : settings.certificateExceptions())
                    result += e.toStd() + ",";
                result += "|";
                for (const std::string& line : capture.entries())
                    result += line + "\n";
                return result;
            },
            withBus);
    }

    std::string keyringKey() {
        return inChild([] {
            Buffer key;
            std::string reason;
            auto answer = vexlan::detail::keyringLookupKey(key, reason);
            return answer == vexlan::detail::KeyringAnswer::kFound ? hex(key)
                                                                   : "not found: " + reason;
        });
    }

    std::string passwordText() {
        std::string xml = vexlan::testing::readFile(settingsPath());
        size_t start = xml.find("<password");
        return start == std::string::npos ? std::string() : xml.substr(start, 120);
    }

    Sandbox m_sandbox;
};

TEST_F(Keyring, TheKeyIsStoredInTheKeyringAndNoKeyFileIsWritten) {
    Desktop desktop(m_sandbox);
    desktop.startKeyring(true);
    ASSERT_EQ(saveSettings("a.example"), "saved");

    EXPECT_FALSE(fs::exists(unixprotection::keyFilePath()));
    std::string marker = unixprotection::markerFilePath();
    ASSERT_TRUE(fs::exists(marker));
    EXPECT_NE(vexlan::testing::readFile(marker).find("desktop keyring"), std::string::npos);
    EXPECT_EQ(fs::status(marker).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(keyringKey().size(), 64u);
    // The user recognises the item in the keyring manager by its label.
    EXPECT_NE(desktop.searchItems().find(vexlan::detail::kKeyringItemLabel), std::string::npos);

    std::string read = readSettings();
    EXPECT_EQ(read.substr(0, read.find('|')), kPassword);
    // A second save reuses the key: one item only.
    ASSERT_EQ(saveSettings("b.example"), "saved");
    std::string items = desktop.searchItems();
    size_t first = items.find(vexlan::detail::kKeyringItemLabel);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(items.find(vexlan::detail::kKeyringItemLabel, first + 1), std::string::npos);
}

TEST_F(Keyring, AnExistingKeyFileIsMovedIntoTheKeyring) {
    // First runs without any desktop session: the key goes to its file as before.
    ASSERT_EQ(saveSettings("a.example", false), "saved");
    std::string keyFile = unixprotection::keyFilePath();
    ASSERT_TRUE(fs::exists(keyFile));
    std::string rawKey = vexlan::testing::readFile(keyFile);
    std::string protectedBefore = passwordText();

    Desktop desktop(m_sandbox);
    desktop.startKeyring(true);
    std::string read = readSettings();
    EXPECT_EQ(read.substr(0, read.find('|')), kPassword) << read;
    EXPECT_NE(read.find("was moved into the desktop keyring"), std::string::npos) << read;
    EXPECT_FALSE(fs::exists(keyFile));
    EXPECT_TRUE(fs::exists(unixprotection::markerFilePath()));
    EXPECT_EQ(keyringKey(), hex(Buffer(rawKey.data(), static_cast<uint32_t>(rawKey.size()))));
    // Reading did not rewrite anything, and later runs read the password from the keyring.
    EXPECT_EQ(passwordText(), protectedBefore);
    read = readSettings();
    EXPECT_EQ(read.substr(0, read.find('|')), kPassword) << read;
}

TEST_F(Keyring, APasswordSurvivesARunWithoutTheKeyring) {
    Desktop desktop(m_sandbox);
    desktop.startKeyring(true);
    ASSERT_EQ(saveSettings("a.example"), "saved");
    std::string protectedBefore = passwordText();
    ASSERT_FALSE(protectedBefore.empty());

    // A run without the session (SSH, cron): the password is unavailable, said in one line.
    std::string read = readSettings(false);
    EXPECT_EQ(read.substr(0, read.find('|')), "");
    EXPECT_NE(read.find("|a.example,|"), std::string::npos) << read;
    std::string log = read.substr(read.rfind('|') + 1);
    EXPECT_EQ(log,
              "ERROR DataProtection.unprotect the protection key is in the desktop keyring, "
              "which is not available (no session bus)\n");

    // That run saves its other settings: the password goes back as it was, under the old key.
    std::string saved = inChild(
        [&] {
            vexlan::ClientLocalConfiguration settings;
            settings.readFromFile(settingsPath().c_str());
            settings.setProxyCredentials(settings.proxyCredentials());  // the dialog's OK
            settings.certificateExceptions().push_back("b.example");
            settings.setHostCheckerDownload(false);
            settings.writeToFile(settingsPath().c_str());
            // A new password cannot be protected: never under a new key.
            try {
                vexlan::protectData(Buffer::fromString("new"));
                return std::string("protected");
            } catch (const vexlan::EProtectionKeyUnavailable&) {
                return std::string("saved");
            }
        },
        false);
    EXPECT_EQ(saved, "saved");
    EXPECT_EQ(passwordText(), protectedBefore);
    EXPECT_FALSE(fs::exists(unixprotection::keyFilePath()));

    // The next run with the keyring has the password and the other settings.
    read = readSettings();
    EXPECT_EQ(read.substr(0, read.find('|')), kPassword) << read;
    EXPECT_NE(read.find("|a.example,b.example,|"), std::string::npos) << read;
}

TEST_F(Keyring, ALockedKeyringIsNeverUnlocked) {
    Desktop desktop(m_sandbox);
    desktop.startKeyring(true);
    ASSERT_EQ(saveSettings("a.example"), "saved");
    std::string protectedBefore = passwordText();
    desktop.lockKeyring();

    std::string read = readSettings();
    EXPECT_EQ(read.substr(0, read.find('|')), "");
    EXPECT_NE(read.find("which is not available (the keyring is locked)"), std::string::npos)
        << read;
    std::string result = inChild([] {
        try {
            vexlan::protectData(Buffer::fromString("new"));
            return std::string("protected");
        } catch (const vexlan::EProtectionKeyUnavailable&) {
            return std::string("unavailable");
        }
    });
    EXPECT_EQ(result, "unavailable");
    EXPECT_TRUE(desktop.loginLocked());
    EXPECT_FALSE(fs::exists(unixprotection::keyFilePath()));
    EXPECT_EQ(passwordText(), protectedBefore);
}

// Where no keyring can take the key, it goes to its file as before: a bus without a Secret
// Service, a keyring without an unlocked default collection, a service that never answers.
TEST_F(Keyring, WithoutAUsableKeyringTheKeyStaysInItsFile) {
    struct Case {
        const char* name;
        std::function<void(Desktop&)> start;
        const char* reason;
    };
    const Case cases[] = {
        {"no service", [](Desktop&) {}, "no Secret Service on the session bus"},
        {"no unlocked collection", [](Desktop& d) { d.startKeyring(false); },
         "the keyring has no default collection"},
        {"silent service", [](Desktop& d) { d.startSilentService(); },
         "no answer from the keyring within 2 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        Desktop desktop(sandbox);
        c.start(desktop);
        auto started = std::chrono::steady_clock::now();
        std::string result = inChild([] {
            LogCapture capture;
            Buffer blob = vexlan::protectData(Buffer::fromString("secret"));
            std::string log;
            for (const std::string& line : capture.entries())
                log += line + "\n";
            return tessel::String(vexlan::unprotectData(blob)).toStd() + "|" + log;
        });
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_EQ(result.substr(0, result.find('|')), "secret") << result;
        EXPECT_NE(result.find(c.reason), std::string::npos) << result;
        EXPECT_TRUE(fs::exists(unixprotection::keyFilePath()));
        EXPECT_FALSE(fs::exists(unixprotection::markerFilePath()));
        // Not a speed target: without its own bound a call would wait for D-Bus's 25 s.
        EXPECT_LT(seconds, 20.0);
    }
}

}  // namespace
