#include "vexlanclient/pluginstatus.h"

#include <cstdlib>

#include "base/console.h"
#include "base/exception.h"
#include "json/JSONWrapper.h"

using tessel::String;

namespace vexlan {
namespace {

constexpr const char* kClassName = "VexlanClientPluginDll";
constexpr long kStatusCode = 5;
constexpr long kCloseRequestCode = 8;

}  // namespace

void PluginStatusProcessor::process(const String& report, IPluginStatusListener& listener) {
    try {
        processEntries(report, listener);
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
    } catch (...) {
        tessel::log(2, kClassName, "processPluginStatus", "unhandled exception");
    }
}

void PluginStatusProcessor::processEntries(const String& report, IPluginStatusListener& listener) {
    tessel::JSONWrapperFromString document(report);
    bool carriedStatus = false;
    bool carriedCloseRequest = false;
    for (const tessel::JSONWrapper& entry : document.elements()) {
        // strtol rather than atol: the same value for every number, and defined for overlong
        // ones.
        long code = std::strtol(entry.child("code").asStdString().c_str(), nullptr, 10);
        if (code == kStatusCode) {
            listener.message(entry.child("status").asString());
            m_statusReported = true;
            carriedStatus = true;
        } else if (code == kCloseRequestCode) {
            carriedCloseRequest = true;
            int32_t reason = entry.child("reason").asString().toInt();
            if (reason == 1 || reason == 2 || reason == 4) {
                listener.stop();
            } else {
                ++m_closeRequests;
                if (uint64_t{m_closeRequests} * kPollMilliseconds >= kCloseDelayMilliseconds)
                    listener.stop();
            }
        }
    }
    if (m_closeRequests != 0 && !carriedCloseRequest) {
        m_closeRequests = 0;
        tessel::log(0, kClassName, "processPluginStatus", "closeRequest canceled");
    }
    if (m_statusReported && !carriedStatus)
        listener.message(String());
}

}  // namespace vexlan
