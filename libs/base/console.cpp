#include "base/console.h"

#include <ctime>

#include "base/clock.h"
#include "base/console_platform.h"
#include "base/thread.h"

namespace tessel {

Console::Console()
    : m_levels{{stdout, "stdout", "TRACE"},
               {stdout, "stdout", "DEBUG"},
               {stdout, "stdout", "ERROR"},
               {stdout, "stdout", "ASSERT"}} {}

Console::~Console() {
    for (int i = 0; i < kLevels; ++i)
        setOutput(i, "null");
}

void Console::log(int level, const String& className, const String& method, const String& message) {
    if (level < 0 || level >= kLevels)
        return;
    const Level& out = m_levels[level];

    String text;
    String thread = currentThreadName();
    if (!method.isEmpty() && method[0] != '\0') {
        text.appendAll('[', thread, "] ", out.label, ' ', className, '.', method, ' ', message);
    } else {
        text.appendAll('[', thread, "] ", out.label, ' ', className, ": ", message);
    }

    WallClock now = wallClockNow();
    int ms = static_cast<int>(now.milliseconds % 1000);

    std::shared_lock<std::shared_mutex> outputs(m_outputs);
    if (out.stream) {
        char stamp[26];
        std::tm local{};
        localTime(now.seconds, &local);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"  // the log's own two-digit year
        std::strftime(stamp, sizeof stamp, "%d-%m-%y %H:%M:%S", &local);
#pragma GCC diagnostic pop
        // One formatted write per line, so lines of concurrent threads never interleave; file
        // streams append, so lines of levels sharing one file never overwrite each other.
        std::fseek(out.stream, 0, SEEK_END);
        std::fprintf(out.stream, "%s.%d %.*s\n", stamp, ms, static_cast<int>(text.length()),
                     text.data());
        std::fflush(out.stream);
    }
    detail::debuggerOutput(text.c_str());
    std::fprintf(stdout, "%d %.*s\n", ms, static_cast<int>(text.length()), text.data());
    std::fflush(stdout);
}

bool Console::setOutput(int level, const String& name) {
    if (level < 0 || level >= kLevels)
        return false;
    FILE* stream = nullptr;
    bool opened = true;
    if (name == "null") {
        stream = nullptr;
    } else if (name == "stdout") {
        stream = stdout;
    } else if (name == "stderr") {
        stream = stderr;
    } else {
        stream = detail::openLogFile(name.c_str());
        opened = stream != nullptr;
    }
    replaceStream(level, stream, name);
    return opened;
}

void Console::setOutput(int level, FILE* stream, const String& name) {
    if (level < 0 || level >= kLevels)
        return;
    replaceStream(level, stream, name);
}

void Console::replaceStream(int level, FILE* stream, const String& name) {
    std::unique_lock<std::shared_mutex> outputs(m_outputs);
    Level& target = m_levels[level];
    FILE* old = target.stream;
    if (old && old != stdout && old != stderr && old != stream) {
        // Other levels that share the stream fall back to stdout before it is closed.
        for (int i = 0; i < kLevels; ++i) {
            if (i != level && m_levels[i].stream == old) {
                m_levels[i].stream = stdout;
                m_levels[i].name = "stdout";
            }
        }
        std::fclose(old);
    }
    target.stream = stream;
    target.name = name.copy();
}

String Console::outputName(int level) {
    if (level < 0 || level >= kLevels)
        return String();
    std::shared_lock<std::shared_mutex> outputs(m_outputs);
    return m_levels[level].name;
}

Console* console() {
    // Created on first use and never destroyed: threads that outlive main may still log.
    static Console* instance = [] {
        auto* c = new Console;
        c->addRef();
        return c;
    }();
    return instance;
}

void log(int level, const String& className, const String& method, const String& message) {
    if (Console* c = console())
        c->log(level, className, method, message);
}

void log(int level, const String& className, const String& method, const char* message) {
    log(level, className, method, String(message ? message : ""));
}

bool setOutput(int level, const String& name) {
    Console* c = console();
    return c ? c->setOutput(level, name) : false;
}

void logCatch(const Exception& e, const char* file, uint32_t line) {
    log(0, "Exception", "catch", e.chain(file, line));
}

}  // namespace tessel
