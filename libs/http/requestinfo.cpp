#include "http/requestinfo.h"

#include "http/curlwrapper.h"

namespace tessel {
namespace http {

String RequestInfo::toString() const {
    String text = "Code: " + String(static_cast<int32_t>(m_code));
    if (!m_text.isEmpty())
        text.appendAll('(', m_text, ')');
    if (!m_error.isEmpty())
        text.appendAll('\n', m_error);
    return text;
}

void RequestInfo::fill(CurlEasyWrapper& easy) {
    m_code = easy.resultCode();
    m_text = easy.resultText();
    m_error = easy.errorText();
    m_header = easy.responseHeader();
}

int RequestInfo::statusCode() {
    if (m_header.statusCodeState() == kFieldInitial) {
        if (m_header.text().isEmpty())
            return 0;  // nothing was received
        try {
            return m_header.extractResponseCode();
        } catch (const Exception&) {
            return 0;
        }
    }
    return m_header.statusCode();
}

}  // namespace http
}  // namespace tessel
