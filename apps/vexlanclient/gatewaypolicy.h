// Which gateways a link may make the client contact. A link is chosen by whoever wrote the web
// page, so the window program contacts only gateways that the user has confirmed (kept in the
// settings) or that the administrator lists in a file of the computer; that file may also
// refuse every other gateway ("only-listed"), in both programs.
//
// Gateways are compared as host[:port], the way links write them: the host in any letter case
// (host names are not case-sensitive), and ":443" the same as no port (the gateway is always
// reached over https). An authority that is not a plain host name, IPv4 address or bracketed
// IPv6 address with an optional port of 1 to 65535 is malformed and never matches.
//
// Not synchronised: free functions over values; the file is read anew on every call.
#pragma once

#include <vector>

#include "base/serializers.h"
#include "base/string.h"

namespace vexlan {

// The administrator's file, one entry a line: "host" or "host:port", or "only-listed" (in any
// letter case); "#" starts a comment; blanks around an entry are ignored.
struct AdministratorGateways {
    // The listed gateways in their compared form (gatewayKey).
    std::vector<tessel::String> gateways;
    // Every gateway not listed is refused.
    bool onlyListed = false;

    bool lists(const tessel::String& authority) const;
};

// What the window program may do with a link's gateway.
enum class GatewayVerdict {
    kAllowed,  // listed by the administrator or confirmed by the user before
    kAsk,      // the user must confirm it before anything is sent
    kRefused,  // the administrator allows listed gateways only, or the authority is malformed
};

// The compared form of a host[:port]: the host in lower case, without ":443"; empty when the
// authority is malformed.
tessel::String gatewayKey(const tessel::String& authority);

// Whether the compared forms of the two authorities are equal (never for a malformed one).
bool sameGateway(const tessel::String& a, const tessel::String& b);

// Parses the file's text. A line that is neither an entry nor "only-listed" is logged at
// level 2 with its number and ignored.
AdministratorGateways parseAdministratorGateways(const tessel::String& text);

// The file's path: $VEXLAN_GATEWAYS_FILE when set and not empty, else the path built in.
tessel::String administratorGatewaysPath();

// Reads the file at `path`. No file: nothing listed and nothing refused. A file that cannot be
// read, is not a regular file or is larger than kMaxAdministratorFileBytes is logged at level 2
// and refuses every gateway (the administrator meant something by it). Never raises.
constexpr uint32_t kMaxAdministratorFileBytes = 256 * 1024;
AdministratorGateways readAdministratorGateways(const tessel::String& path);

// The verdict for `authority` (host[:port] of the link) given the administrator's file and the
// user's confirmed gateways.
GatewayVerdict judgeGateway(const tessel::String& authority,
                            const AdministratorGateways& administrator,
                            const tessel::List<tessel::String>& confirmed);

// `authority` as it may be shown to the user or written on one line: printable ASCII only
// (anything else becomes "?"), at most 260 characters ("..." at the end when cut).
tessel::String displayedGateway(const tessel::String& authority);

// "the gateway " + displayedGateway(authority) + " is not allowed on this computer".
tessel::String gatewayNotAllowedText(const tessel::String& authority);

}  // namespace vexlan
