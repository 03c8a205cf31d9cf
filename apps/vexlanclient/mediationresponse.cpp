#include "vexlanclient/mediationresponse.h"

#include "base/exception.h"
#include "json/JSONReader.h"
#include "json/JSONWrapper.h"

using tessel::ConfReadHelper;
using tessel::IKeyReader;

MediationResponse::MediationResponse(const tessel::String& body) {
    // The causes have been logged where they were found (the parser, ConfReadHelper).
    try {
        m_document = std::make_unique<tessel::JSONWrapperFromString>(body);
    } catch (const tessel::EJsonError&) {
        throw tessel::EMediationResponse("EMediationResponse", "client", 59);
    }
    try {
        readConf(root());
    } catch (const tessel::EConfMissingKey&) {
        throw tessel::EMediationResponse("EMediationResponse", "client", 62);
    }
}

MediationResponse::~MediationResponse() = default;

void MediationResponse::readConf(IKeyReader* reader) {
    ConfReadHelper helper(reader);
    helper.readKey("success", m_success, true);
    helper.readKey("code", m_code, false);
    helper.readKey("exception", m_exception, false);
    if (m_success)
        helper.readKey("result", true);
}

IKeyReader* MediationResponse::root() {
    return m_document->getReader();
}

IKeyReader* MediationResponse::result() {
    return root()->getKey("result");
}
