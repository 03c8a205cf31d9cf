// The exception positions that the log shows as fixed texts.
//
// An exception's chain text ("EFile:file:915 -> client:155") is printed in the log, and
// readers of logs (support staff, their scripts) know these failures by the source name and
// line below, not by where the code happens to stand. So they stay constant when code moves:
// the sites raise them with TESSEL_THROW_AT and log them with TESSEL_LOG_CATCH_AT. A
// FixedSource fixes only the source name (the line is the throwing line); a FixedPosition
// fixes both. Every other exception takes its real position from TESSEL_THROW. The message is
// the type as the site writes it, so sites name the type as the log shows it ("EFile",
// "tessel::NullException"), with a using-declaration outside namespace tessel.
#pragma once

#include "base/exception.h"

namespace tessel {
namespace fixed {

// --- libs/base

// gc::Pointer and Array used empty (message "tessel::NullException").
constexpr FixedPosition kNullPointer{"gcobject", 12};

// File: "can not write file, error: ..." (also a failed sync) and "can not write file, bad
// sizes".
constexpr FixedPosition kFileWriteError{"file", 277};
constexpr FixedPosition kFileWriteShort{"file", 281};
// Fewer bytes than asked, or a negative count (also the client's read-ahead reader).
constexpr FixedPosition kFileReadShort{"file", 375};
// A stored length above the cap, before anything is allocated.
constexpr FixedPosition kFileStoredStringTooLong{"file", 326};
constexpr FixedPosition kFileStoredBufferTooLong{"file", 339};
// readAllFile: "cannot open " + path.
constexpr FixedPosition kFileReadAllOpen{"file", 388};
constexpr FixedPosition kFileMove{"file", 679};
constexpr FixedPosition kFileDelete{"file", 915};
// createDirectories: the last part could not be made.
constexpr FixedPosition kFileCreateDirectories{"file", 624};

// Catch sites: an exception in SynchroThread's wait; the guarded keys of Proxy and
// Credentials.
constexpr FixedPosition kSynchroThreadWait{"synchrothread", 55};
constexpr FixedSource kProxy{"proxy"};
constexpr FixedSource kCredentials{"credentials"};

// --- libs/json

constexpr FixedSource kJSONWrapper{"JSONWrapper"};
constexpr FixedSource kJSONReader{"JSONReader"};

// --- libs/http

constexpr FixedSource kUri{"uri"};
constexpr FixedSource kHeader{"header"};
constexpr FixedSource kResponse{"response"};
constexpr FixedSource kCurlWrapper{"curlwrapper"};

// --- apps/vexlanclient

// The gateway's reply: not JSON; "success" or "result" missing.
constexpr FixedPosition kReplyNotJson{"client", 59};
constexpr FixedPosition kReplyIncomplete{"client", 62};
// Catch site of a session run that failed.
constexpr FixedPosition kClientRun{"client", 155};
// "Unknown configuration type: " + type.
constexpr FixedPosition kUnknownConfigurationType{"clientconfiguration", 88};
// The settings: the proxy password cannot be protected (thrown) or unprotected (caught).
constexpr FixedPosition kProtectPassword{"clientlocalconfiguration", 96};
constexpr FixedPosition kUnprotectPassword{"clientlocalconfiguration", 110};
// The settings have no sequential form.
constexpr FixedPosition kSettingsSequentialRead{"clientlocalconfiguration", 17};
constexpr FixedPosition kSettingsSequentialWrite{"clientlocalconfiguration", 36};
constexpr FixedSource kClientLocalConfiguration{"clientlocalconfiguration"};

}  // namespace fixed
}  // namespace tessel
