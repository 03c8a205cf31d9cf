// vexlan-cli: the command-line front end of the client. It builds the client exactly as the
// window program does (same log file, program folder and settings), runs one session for the
// start parameter and reports the notifications on standard error (see cli.h for the exit
// statuses).
#include <atomic>
#include <cstdio>

#include "base/process.h"
#include "base/string.h"
#include "vexlan-cli/cli.h"
#include "vexlan-cli/signals.h"
#include "vexlanclient/client.h"

int main(int argc, char** argv) {
    // Before anything holds a secret: no core file, no reading of our memory by others.
    tessel::refuseCoreDumps();
    // First, before any thread exists, so that only the watcher receives the signals.
    vexlancli::SignalWatcher signals;

    vexlancli::Options options;
    int parsed = vexlancli::parseArguments(argc, argv, options, stdout, stderr);
    if (parsed >= 0)
        return parsed;
    // Copied: the identifier in it leaves the process list.
    tessel::hideArgument(argc, argv, tessel::String::copy(options.startParameter));

    vexlancli::LineNotify notify(stderr);
    vexlan::VexlanClient client(&notify);
    client.session().setTimeouts(options.connectTimeout, options.stallTimeout);
    client.session().setMaxDownload(options.maxDownload);
    tessel::zlib::UnpackLimits unpackLimits;
    unpackLimits.maxBytes = options.maxUnpacked;
    unpackLimits.maxEntries = options.maxEntries;
    client.setUnpackLimits(unpackLimits);
    client.setStartParameter(tessel::String::copy(options.startParameter));

    std::atomic<int> signalStatus{0};
    signals.start([&](vexlancli::Signal signal) {
        if (signal == vexlancli::Signal::Logs) {
            client.executeSubClientCommands();
            return;
        }
        int status = signal == vexlancli::Signal::Interrupt ? vexlancli::kExitInterrupted
                                                            : vexlancli::kExitTerminated;
        // A second signal does not wait any longer.
        if (signalStatus.exchange(status) != 0)
            vexlancli::exitNow(status);
        // As the tray's Exit: the running session is asked to end and the program waits for
        // it. Before a session exists there is nothing to wait for (not even the gateway).
        if (!client.stopSubClient())
            vexlancli::exitNow(status);
    });

    client.run();
    client.wait(-1);
    signals.close();

    int status = notify.exitStatus();
    if (status == vexlancli::kExitSessionOver && signalStatus.load() != 0) {
        status = signalStatus.load();
    }
    return status;
}
