// vexlan-pac-eval: evaluates proxy auto-config scripts for the client, which starts it with a
// socket as standard input, sends one evaluation at a time, answers its name lookups and kills
// it when a script overruns its time. It reads until the client closes the socket.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "base/console.h"
#include "channel.h"
#include "http/pacscript.h"
#include "http/pacwire.h"

namespace {

using tessel::String;
using tessel::http::PacLimits;
using tessel::http::PacScript;
namespace pacwire = tessel::http::pacwire;
namespace paceval = vexlan::paceval;

bool send(const pacwire::Encoder& message, pacwire::Kind kind) {
    std::string frame = message.frame(kind);
    return paceval::writeToClient(frame.data(), frame.size());
}

// Name lookups and alerts go to the client. Answers are kept for the evaluation, so that
// scripts testing one host against many networks ask once; past kMaxQuestions names, the rest
// do not resolve.
class ClientResolver : public tessel::http::PacResolver {
public:
    void reset() {
        m_answers.clear();
        m_myAddress = String();
    }
    String resolve(const String& host) override {
        if (host.length() > pacwire::kMaxNameBytes)
            return String();
        std::string key = host.toStd();
        auto found = m_answers.find(key);
        if (found != m_answers.end())
            return found->second;
        if (m_answers.size() >= pacwire::kMaxQuestions - 1)
            return String();  // one kept for myIpAddress
        String address = ask(0, host);
        m_answers.emplace(key, address);
        return address;
    }
    String myIpAddress() override {
        if (m_myAddress.isEmpty())
            m_myAddress = ask(1, String());
        return m_myAddress;
    }
    void alert(const String& text) override {
        pacwire::Encoder message;
        message.text(text);
        if (!send(message, pacwire::kAlert))
            std::_Exit(0);
    }

private:
    // The client's answer; a client that is gone ends the process.
    String ask(uint8_t what, const String& host) {
        pacwire::Encoder question;
        question.u8(what);
        question.text(host);
        if (!send(question, pacwire::kQuestion))
            std::_Exit(0);
        char header[pacwire::kHeaderBytes];
        uint8_t kind = 0;
        uint32_t length = 0;
        if (!paceval::readFromClient(header, sizeof(header)))
            std::_Exit(0);
        pacwire::parseHeader(header, kind, length);
        if (kind != pacwire::kAddress || length > 4 + pacwire::kMaxAddressBytes)
            std::_Exit(1);
        std::string payload(length, '\0');
        if (length > 0 && !paceval::readFromClient(&payload[0], length))
            std::_Exit(0);
        pacwire::Decoder in(payload.data(), payload.size());
        String address;
        if (!in.text(address, pacwire::kMaxAddressBytes) || !in.atEnd())
            std::_Exit(1);
        return address;
    }

    std::map<std::string, String> m_answers;
    String m_myAddress;
};

// One evaluation; false when the client is gone or broke the protocol.
bool serveOne(ClientResolver& resolver) {
    char header[pacwire::kHeaderBytes];
    if (!paceval::readFromClient(header, sizeof(header)))
        return false;
    uint8_t kind = 0;
    uint32_t length = 0;
    pacwire::parseHeader(header, kind, length);
    if (kind != pacwire::kEvaluate || length > pacwire::kMaxRequestPayload)
        return false;
    std::string payload(length, '\0');
    if (length > 0 && !paceval::readFromClient(&payload[0], length))
        return false;

    pacwire::Decoder in(payload.data(), payload.size());
    PacLimits limits;
    String script, url, host;
    if (!in.u32(limits.timeoutMilliseconds) || !in.u32(limits.maxHeapBytes) ||
        !in.i64(limits.nowMilliseconds) || !in.text(script, pacwire::kMaxScriptBytes) ||
        !in.text(url, pacwire::kMaxUrlBytes) || !in.text(host, pacwire::kMaxHostBytes) ||
        !in.atEnd()) {
        return false;
    }
    limits.maxScriptBytes = pacwire::kMaxScriptBytes;

    resolver.reset();
    paceval::limitCpuTime(limits.timeoutMilliseconds);
    String answer, reason;
    PacScript::Result result = PacScript::run(script, url, host, answer, reason, limits);
    pacwire::Encoder reply;
    reply.u8(static_cast<uint8_t>(result));
    reply.text(result == PacScript::Result::kAnswer ? answer : reason);
    return send(reply, pacwire::kResult);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--serve") != 0) {
        std::fprintf(stderr,
                     "vexlan-pac-eval evaluates proxy scripts for vexlanclient and vexlan-cli, "
                     "which start it; it is not meant to be run by hand.\n");
        return 2;
    }
    paceval::prepareProcess();
    for (int level = 0; level < tessel::Console::kLevels; ++level)
        tessel::setOutput(level, "null");
    static ClientResolver resolver;
    PacScript::setResolver(&resolver);
    while (serveOne(resolver)) {
    }
    return 0;
}
