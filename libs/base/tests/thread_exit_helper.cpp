// Ends its process while a thread still runs, for the exit wait tests:
//   survivor        a synchronized thread blocked for good: the exit report names it
//   finishing       a synchronized thread released as main returns: the exit wait lets it
//                   finish, no report
//   unsynchronized  a thread blocked for good that nobody waits for: no report
#include <cstring>

#include "base/condition.h"
#include "base/thread.h"

using namespace tessel;

namespace {

// Never destroyed: the thread may still use them while the process ends.
Semaphore* g_inMain = new Semaphore;
Semaphore* g_release = new Semaphore;
// Never destroyed either: its destructor would wait for the thread.
Thread* g_thread = nullptr;

class Blocked : public Thread {
public:
    Blocked(const String& name, bool synchronized) : Thread(name, synchronized) {}
    void main() override {
        g_inMain->release(1);
        g_release->wait(-1);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const char* mode = argv[1];
    if (std::strcmp(mode, "survivor") == 0) {
        g_thread = new Blocked("Survivor", true);
    } else if (std::strcmp(mode, "finishing") == 0) {
        g_thread = new Blocked("Finishing", true);
    } else if (std::strcmp(mode, "unsynchronized") == 0) {
        g_thread = new Blocked("Unsynchronized", false);
    } else {
        return 2;
    }
    g_thread->run();
    g_inMain->wait(-1);
    if (std::strcmp(mode, "finishing") == 0)
        g_release->release(1);
    return 0;
}
