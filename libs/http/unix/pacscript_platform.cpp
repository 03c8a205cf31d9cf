// The system's name lookups for the DNS helpers of proxy scripts.
#include "http/pacscript_platform.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace tessel {
namespace http {
namespace detail {
namespace {

String dotted(const in_addr& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &address, text, sizeof(text)))
        return String();
    return String::copy(text, static_cast<uint32_t>(std::strlen(text)));
}

class SystemPacResolver : public PacResolver {
public:
    String resolve(const String& host) override {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
            return String();
        String result = dotted(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr);
        freeaddrinfo(found);
        return result;
    }

    // The source address the system would pick for an outside destination. Connecting a
    // datagram socket sends nothing; it only selects the route.
    String myIpAddress() override {
        String result = "127.0.0.1";
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return result;
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(53);
        inet_pton(AF_INET, "192.0.2.1", &target.sin_addr);  // documentation address
        sockaddr_in local{};
        socklen_t length = sizeof(local);
        if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof(target)) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
            local.sin_addr.s_addr != htonl(INADDR_ANY)) {
            String text = dotted(local.sin_addr);
            if (!text.isEmpty())
                result = text;
        }
        close(fd);
        return result;
    }
};

}  // namespace

PacResolver& systemPacResolver() {
    static SystemPacResolver resolver;
    return resolver;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
