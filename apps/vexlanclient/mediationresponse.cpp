#include "vexlanclient/mediationresponse.h"

#include "base/exception.h"
#include "base/fixedpositions.h"
#include "json/JSONReader.h"
#include "json/JSONWrapper.h"

using tessel::ConfReadHelper;
using tessel::EMediationResponse;
using tessel::IKeyReader;

MediationResponse::MediationResponse(const tessel::String& body) {
    // The causes have been logged where they were found (the parser, ConfReadHelper).
    try {
        m_document = std::make_unique<tessel::JSONWrapperFromString>(body);
    } catch (const tessel::EJsonError&) {
        TESSEL_THROW_AT(EMediationResponse, tessel::fixed::kReplyNotJson);
    }
    try {
        readConf(root());
    } catch (const tessel::EConfMissingKey&) {
        TESSEL_THROW_AT(EMediationResponse, tessel::fixed::kReplyIncomplete);
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
