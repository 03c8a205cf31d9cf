// The process-wide log. Four levels (0 TRACE, 1 DEBUG, 2 ERROR, 3 ASSERT), each with its own
// output; every line also goes to standard output. Callers log the detail of an error at
// level 2 and then throw; code that absorbs an exception logs its chain at level 0.
#pragma once

#include <cstdint>
#include <cstdio>
#include <shared_mutex>

#include "base/exception.h"
#include "base/gcobject.h"
#include "base/string.h"

namespace tessel {

// Every operation may be called from any thread. Each line is written with one formatted
// write and flushed at once; the name of the calling thread comes from the thread registry
// (thread.h, currentThreadName).
class Console : public gc::ObjectDelete {
public:
    static constexpr int kLevels = 4;

    Console();
    ~Console() override;
    const char* className() const override { return "console"; }

    // Writes one line at `level` (0 to 3; other levels are ignored).
    void log(int level, const String& className, const String& method, const String& message);
    // "null": no stream; "stdout", "stderr": the standard streams; any other name: that file,
    // created or truncated (see the log file rules of console_platform.h: never through a symbolic
    // link), each call opening its own stream, which appends. Returns false when the file could not
    // be opened; the level then has no stream of its own but still reaches standard output. When
    // the level's previous stream is a file, every other level that shares it falls back to
    // "stdout" before it is closed.
    bool setOutput(int level, const String& name);
    // Gives `stream` (a file stream the console now owns, or stdout/stderr, or null) to
    // `level` under `name`. Several levels may share one file stream: replacing it on one
    // level switches the others to "stdout" and closes it.
    void setOutput(int level, FILE* stream, const String& name);
    String outputName(int level);

    // Filled by the system survey (file.h, osName()).
    String m_osName;
    String m_osVersion;
    String m_servicePack;

private:
    struct Level {
        FILE* stream;
        String name;
        String label;
    };
    void replaceStream(int level, FILE* stream, const String& name);

    Level m_levels[kLevels];
    // Log lines share it, a change of outputs takes it alone: no line is ever written to a
    // stream that is being closed.
    std::shared_mutex m_outputs;
};

// The process-wide console; it lives until the process ends.
Console* console();

void log(int level, const String& className, const String& method, const String& message);
void log(int level, const String& className, const String& method, const char* message);
bool setOutput(int level, const String& name);
// log(0, "Exception", "catch", e.chain(file, line)).
void logCatch(const Exception& e, const char* file, uint32_t line);

}  // namespace tessel
