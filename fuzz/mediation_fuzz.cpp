// Gateway replies: MediationResponse over an arbitrary body, then ClientConfiguration::load
// of its "result" and the dispatch of the element. Only the documented exceptions may come
// out: EMediationResponse from the envelope, EClientConfiguration and EConfMissingKey from
// the element, EJsonKeyReader when there is no "result" to take.
#include "base/exception.h"
#include "fuzz_support.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/mediationresponse.h"

using tessel::String;

namespace {

class Dispatcher : public ClientConfigurationDispatcher {
public:
    void dispatch(NoTunnelClientPluginDllConfiguration& element) override {
        seen = "plugindllnotunnel";
        (void)element.m_pluginDlls.native().m_filename.length();
    }
    void dispatch(ClientPluginDllConfiguration& element) override {
        seen = "plugindll";
        for (const String& name : element.m_sslservercertname)
            (void)name.length();
    }
    void dispatch(ClientHostcheckerDllConfiguration& element) override {
        seen = "hostchecker";
        (void)element.m_hostcheckerDlls.native().m_pattern.length();
    }
    String seen;
};

void loadElement(tessel::IKeyReader& result) {
    try {
        tessel::gc::Pointer<ClientConfiguration> configuration = ClientConfiguration::load(result);
        FUZZ_CHECK(configuration && configuration->element());
        Dispatcher dispatcher;
        configuration->dispatch(dispatcher);
        FUZZ_CHECK(dispatcher.seen == configuration->type());
    } catch (const tessel::EClientConfiguration&) {
    } catch (const tessel::EConfMissingKey&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexlan::fuzz::Input input(data, size);
    try {
        MediationResponse response(input.string());
        // A refusal need not carry a result; an acceptance always has one.
        tessel::IKeyReader* result = nullptr;
        try {
            result = response.result();
        } catch (const tessel::EJsonKeyReader&) {
            FUZZ_CHECK(!response.m_success);
            return 0;
        }
        FUZZ_CHECK(result);
        loadElement(*result);
    } catch (const tessel::EMediationResponse&) {
    }
    return 0;
}
