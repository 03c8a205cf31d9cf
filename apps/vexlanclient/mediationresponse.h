// MediationResponse: the envelope of every gateway reply, {"success", "code", "exception",
// "result"}. It keeps the parsed document so that the caller can take the "result" entry
// afterwards (for the first reply: one configuration element, clientconfiguration.h).
#pragma once

#include <memory>

#include "base/confhelper.h"
#include "base/string.h"

namespace tessel {
class JSONWrapperFromString;
}

class MediationResponse : public tessel::IConf {
public:
    // Parses `body` and reads the envelope from its root. Raises EMediationResponse when the
    // body is not JSON, when "success" is missing or unreadable, and when "result" is missing
    // while success is true. A refusal (success false) is a valid envelope.
    explicit MediationResponse(const tessel::String& body);
    ~MediationResponse() override;
    MediationResponse(const MediationResponse&) = delete;
    MediationResponse& operator=(const MediationResponse&) = delete;

    // "success" mandatory, "code" and "exception" optional, and "result" mandatory when
    // success is true (only checked: it is read by whoever takes it).
    void readConf(tessel::IKeyReader* reader) override;

    // The reader of the document's root, and of its "result" entry (EJsonKeyReader when
    // there is none). Both belong to this envelope and live as long as it.
    tessel::IKeyReader* root();
    tessel::IKeyReader* result();

    bool m_success = false;
    unsigned int m_code = 0;
    tessel::String m_exception;  // the gateway's error text

private:
    std::unique_ptr<tessel::JSONWrapperFromString> m_document;
};
