// A tunnel plugin's status reports: a run of polls (the input's parts between zero bytes) fed
// to one PluginStatusProcessor, as the sub-client does. A report is the plugin's text: any
// bytes must be handled without an exception or a memory error.
#include <cstdint>

#include "fuzz_support.h"
#include "vexlanclient/pluginstatus.h"

using tessel::String;

namespace {

class ReadingListener : public vexlan::IPluginStatusListener {
public:
    // Reads every byte of every text handed out, so that AddressSanitizer sees them.
    void message(const String& text) override {
        for (uint32_t i = 0; i < text.length(); ++i)
            checksum += static_cast<uint8_t>(text[i]);
    }
    void stop() override { ++stops; }

    uint64_t checksum = 0;
    uint32_t stops = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexlan::PluginStatusProcessor processor;
    ReadingListener listener;
    size_t from = 0;
    for (size_t polls = 0; from <= size && polls < 64; ++polls) {
        size_t end = from;
        while (end < size && data[end] != 0)
            ++end;
        vexlan::fuzz::Input report = vexlan::fuzz::Input::slice(data, from, end - from);
        try {
            processor.process(report.string(), listener);
        } catch (...) {
            FUZZ_CHECK(!"a report raised an exception");
        }
        from = end + 1;
    }
    return 0;
}
