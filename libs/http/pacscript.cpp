#include "http/pacscript.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "base/clock.h"
#include "base/console.h"
#include "duktape.h"
#include "http/pacscript_platform.h"

namespace tessel {
namespace http {
namespace {

// Longest text handed to the glob matcher.
constexpr duk_size_t kMaxHelperText = 64 * 1024;

std::atomic<PacResolver*> g_resolver{nullptr};

// Everything one evaluation needs; Duktape hands it back to the allocator, the time-out check
// and (through duk_get_memory_functions) the native helpers.
struct Evaluation {
    int64_t deadline = 0;
    size_t used = 0;
    size_t cap = 0;
    int64_t now = 0;
    PacResolver* resolver = nullptr;
    const char* script = nullptr;
    duk_size_t scriptLength = 0;
    const char* url = nullptr;
    duk_size_t urlLength = 0;
    const char* host = nullptr;
    duk_size_t hostLength = 0;
    uint32_t alerts = 0;
    String answer;
};

// Heap blocks carry their size in front so that the heap can be capped.
constexpr size_t kHeader = alignof(std::max_align_t) > sizeof(size_t) ? alignof(std::max_align_t)
                                                                      : sizeof(size_t);

void* dukAlloc(void* udata, duk_size_t size) {
    auto* e = static_cast<Evaluation*>(udata);
    if (size > e->cap - e->used)
        return nullptr;
    auto* block = static_cast<char*>(std::malloc(size + kHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof(size_t));
    e->used += size;
    return block + kHeader;
}

void dukFree(void* udata, void* ptr) {
    if (!ptr)
        return;
    auto* e = static_cast<Evaluation*>(udata);
    char* block = static_cast<char*>(ptr) - kHeader;
    size_t size;
    std::memcpy(&size, block, sizeof(size_t));
    e->used -= size;
    std::free(block);
}

void* dukRealloc(void* udata, void* ptr, duk_size_t size) {
    if (!ptr)
        return dukAlloc(udata, size);
    if (size == 0) {
        dukFree(udata, ptr);
        return nullptr;
    }
    auto* e = static_cast<Evaluation*>(udata);
    char* block = static_cast<char*>(ptr) - kHeader;
    size_t old;
    std::memcpy(&old, block, sizeof(size_t));
    if (size > old && size - old > e->cap - e->used)
        return nullptr;
    auto* grown = static_cast<char*>(std::realloc(block, size + kHeader));
    if (!grown)
        return nullptr;
    std::memcpy(grown, &size, sizeof(size_t));
    e->used = e->used - old + size;
    return grown + kHeader;
}

// Only reachable through an error outside a protected call, which this file never makes.
void dukFatal(void*, const char* message) {
    log(3, "PacScript", "evaluate",
        String("fatal script engine error: ") + String(message ? message : ""));
    std::abort();
}

Evaluation& evaluationOf(duk_context* ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return *static_cast<Evaluation*>(functions.udata);
}

// A helper's string argument; empty (and `ok` false) when it is not a string.
String stringArgument(duk_context* ctx, duk_idx_t index, bool* ok = nullptr) {
    if (!duk_is_string(ctx, index)) {
        if (ok)
            *ok = false;
        return String();
    }
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, index, &length);
    if (ok)
        *ok = true;
    return String::copy(text, static_cast<uint32_t>(length));
}

// Dotted IPv4 text to a number; false when the text is not exactly four decimal bytes.
bool parseIpv4(const String& text, uint32_t& out) {
    uint32_t value = 0;
    int parts = 0;
    uint32_t i = 0;
    while (parts < 4) {
        uint32_t part = 0;
        uint32_t digits = 0;
        while (i < text.length() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            part = part * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || part > 255)
            return false;
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.length())
        return false;
    out = value;
    return true;
}

String resolveHost(duk_context* ctx, const String& host) {
    uint32_t ignored;
    if (parseIpv4(host, ignored))
        return host;
    if (host.isEmpty())
        return String();
    // Name lookups are not interrupted by the time-out: once it has passed, none is started,
    // so that a script calling them in a loop still ends at its next instruction.
    Evaluation& e = evaluationOf(ctx);
    if (monotonicMilliseconds() > e.deadline)
        return String();
    return e.resolver->resolve(host);
}

duk_ret_t jsDnsResolve(duk_context* ctx) {
    bool ok = false;
    String host = stringArgument(ctx, 0, &ok);
    String address = ok ? resolveHost(ctx, host) : String();
    if (address.isEmpty()) {
        duk_push_null(ctx);
    } else {
        duk_push_lstring(ctx, address.data(), address.length());
    }
    return 1;
}

duk_ret_t jsIsResolvable(duk_context* ctx) {
    bool ok = false;
    String host = stringArgument(ctx, 0, &ok);
    duk_push_boolean(ctx, ok && !resolveHost(ctx, host).isEmpty());
    return 1;
}

duk_ret_t jsIsInNet(duk_context* ctx) {
    bool ok1 = false, ok2 = false, ok3 = false;
    String host = stringArgument(ctx, 0, &ok1);
    String pattern = stringArgument(ctx, 1, &ok2);
    String mask = stringArgument(ctx, 2, &ok3);
    uint32_t address = 0, net = 0, bits = 0;
    bool result = ok1 && ok2 && ok3 && parseIpv4(pattern, net) && parseIpv4(mask, bits);
    if (result) {
        String resolved = resolveHost(ctx, host);
        result = parseIpv4(resolved, address) && (address & bits) == (net & bits);
    }
    duk_push_boolean(ctx, result);
    return 1;
}

duk_ret_t jsMyIpAddress(duk_context* ctx) {
    String address = evaluationOf(ctx).resolver->myIpAddress();
    if (address.isEmpty())
        address = "127.0.0.1";
    duk_push_lstring(ctx, address.data(), address.length());
    return 1;
}

duk_ret_t jsShExpMatch(duk_context* ctx) {
    bool ok1 = false, ok2 = false;
    String text = stringArgument(ctx, 0, &ok1);
    String pattern = stringArgument(ctx, 1, &ok2);
    duk_push_boolean(ctx, ok1 && ok2 && text.length() <= kMaxHelperText &&
                              pattern.length() <= kMaxHelperText &&
                              PacScript::shExpMatch(text, pattern));
    return 1;
}

// alert(text): the text, cut at a character boundary and with control characters made
// spaces (it becomes one log line), goes to the resolver; past
// PacScript::kMaxAlerts in one evaluation, texts are dropped so that a loop cannot flood it.
duk_ret_t jsAlert(duk_context* ctx) {
    Evaluation& e = evaluationOf(ctx);
    if (e.alerts >= PacScript::kMaxAlerts || !duk_is_string(ctx, 0))
        return 0;
    ++e.alerts;
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, 0, &length);
    if (length > PacScript::kMaxAlertBytes) {
        length = PacScript::kMaxAlertBytes;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    String line = String::copy(text, static_cast<uint32_t>(length));
    for (uint32_t i = 0; i < line.length(); ++i) {
        auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7f)
            line.setAt(i, ' ');
    }
    e.resolver->alert(line);
    return 0;
}

duk_ret_t jsNow(duk_context* ctx) {
    int64_t now = evaluationOf(ctx).now;
    if (now == 0)
        now = wallClockNow().milliseconds;
    duk_push_number(ctx, static_cast<double>(now));
    return 1;
}

// The helpers that need no native code. Names starting with __vexlan are private to them.
const char kPrelude[] = R"JS(
function isPlainHostName(host) { return String(host).indexOf('.') < 0; }
function dnsDomainIs(host, domain) {
  host = String(host).toLowerCase(); domain = String(domain).toLowerCase();
  return host.length >= domain.length &&
         host.substring(host.length - domain.length) === domain;
}
function localHostOrDomainIs(host, hostdom) {
  host = String(host).toLowerCase(); hostdom = String(hostdom).toLowerCase();
  return host === hostdom || (host.indexOf('.') < 0 && hostdom.indexOf(host + '.') === 0);
}
function dnsDomainLevels(host) { return String(host).split('.').length - 1; }
// The dotted address as a 32-bit number, signed as in browsers (scripts compare masks of it).
function convert_addr(ipaddr) {
  var b = String(ipaddr).split('.');
  return ((b[0] & 0xff) << 24) | ((b[1] & 0xff) << 16) | ((b[2] & 0xff) << 8) | (b[3] & 0xff);
}
// Browsers show the text; here it goes to the log.
function alert(message) { __vexlanAlert(String(message)); }
var __vexlanDays = ['SUN', 'MON', 'TUE', 'WED', 'THU', 'FRI', 'SAT'];
var __vexlanMonths = ['JAN', 'FEB', 'MAR', 'APR', 'MAY', 'JUN',
                      'JUL', 'AUG', 'SEP', 'OCT', 'NOV', 'DEC'];
// The clock fields in local time, or in UTC when the last argument is "GMT".
function __vexlanClock(args) {
  var gmt = args.length > 0 && args[args.length - 1] === 'GMT';
  var d = new Date(__vexlanNow());
  return {
    count: gmt ? args.length - 1 : args.length,
    weekday: gmt ? d.getUTCDay() : d.getDay(),
    day: gmt ? d.getUTCDate() : d.getDate(),
    month: gmt ? d.getUTCMonth() : d.getMonth(),
    year: gmt ? d.getUTCFullYear() : d.getFullYear(),
    seconds: gmt ? d.getUTCHours() * 3600 + d.getUTCMinutes() * 60 + d.getUTCSeconds()
                 : d.getHours() * 3600 + d.getMinutes() * 60 + d.getSeconds()
  };
}
// low..high inclusive; a range whose start is after its end wraps around.
function __vexlanWithin(value, low, high, wrap) {
  if (low <= high) return value >= low && value <= high;
  return wrap && (value >= low || value <= high);
}
function weekdayRange() {
  var c = __vexlanClock(arguments);
  if (c.count < 1 || c.count > 2) return false;
  var first = __vexlanDays.indexOf(String(arguments[0]).toUpperCase());
  var last = c.count === 2 ? __vexlanDays.indexOf(String(arguments[1]).toUpperCase()) : first;
  if (first < 0 || last < 0) return false;
  return __vexlanWithin(c.weekday, first, last, true);
}
// dateRange(day | month | year [, same kind]) and the pairs (day, month), (month, year),
// (day, month, year) for both ends. Numbers up to 31 are days, larger ones years.
function dateRange() {
  var c = __vexlanClock(arguments);
  var n = c.count;
  if (n < 1 || n > 6) return false;
  var parts = [];
  for (var i = 0; i < n; i++) {
    var v = arguments[i];
    var m = typeof v === 'string' ? __vexlanMonths.indexOf(v.toUpperCase()) : -1;
    if (m >= 0) { parts.push(['m', m]); continue; }
    var x = Number(v);
    if (typeof v === 'string' || isNaN(x)) return false;
    parts.push([x > 31 ? 'y' : 'd', x]);
  }
  if (n === 1) {
    var p = parts[0];
    return p[1] === (p[0] === 'y' ? c.year : p[0] === 'm' ? c.month : c.day);
  }
  if (n % 2 !== 0) return false;
  var half = n / 2, kinds = '';
  for (i = 0; i < half; i++) {
    if (parts[i][0] !== parts[i + half][0] || kinds.indexOf(parts[i][0]) >= 0) return false;
    kinds += parts[i][0];
  }
  function value(ps, y, mo, d) {
    for (var j = 0; j < ps.length; j++) {
      if (ps[j][0] === 'y') y = ps[j][1];
      else if (ps[j][0] === 'm') mo = ps[j][1];
      else d = ps[j][1];
    }
    return y * 10000 + mo * 100 + d;
  }
  var hasY = kinds.indexOf('y') >= 0, hasM = kinds.indexOf('m') >= 0, hasD = kinds.indexOf('d') >= 0;
  var today = value([], hasY ? c.year : 0, hasM ? c.month : 0, hasD ? c.day : 0);
  return __vexlanWithin(today, value(parts.slice(0, half), 0, 0, 0),
                        value(parts.slice(half), 0, 0, 0), !hasY);
}
// timeRange(hour), (h1, h2), (h1, m1, h2, m2), (h1, m1, s1, h2, m2, s2): from the first
// time up to, not including, the second (the whole second when seconds are given).
function timeRange() {
  var c = __vexlanClock(arguments);
  var n = c.count, v = [];
  for (var i = 0; i < n; i++) { v.push(Number(arguments[i])); if (isNaN(v[i])) return false; }
  var hour = Math.floor(c.seconds / 3600);
  if (n === 1) return hour === v[0];
  var low, high;
  if (n === 2) {
    if (v[0] === v[1]) return hour === v[0];
    low = v[0] * 3600; high = v[1] * 3600 - 1;
  } else if (n === 4) {
    low = v[0] * 3600 + v[1] * 60; high = v[2] * 3600 + v[3] * 60 - 1;
  } else if (n === 6) {
    low = v[0] * 3600 + v[1] * 60 + v[2]; high = v[3] * 3600 + v[4] * 60 + v[5];
  } else {
    return false;
  }
  if (high < 0) high += 86400;
  return __vexlanWithin(c.seconds, low, high, true);
}
)JS";

void putFunction(duk_context* ctx, const char* name, duk_c_function function, duk_idx_t nargs) {
    duk_push_c_function(ctx, function, nargs);
    duk_put_global_string(ctx, name);
}

// Runs inside duk_safe_call: every error thrown here is caught by the caller.
duk_ret_t evaluateProtected(duk_context* ctx, void* udata) {
    auto* e = static_cast<Evaluation*>(udata);
    putFunction(ctx, "dnsResolve", jsDnsResolve, 1);
    putFunction(ctx, "isResolvable", jsIsResolvable, 1);
    putFunction(ctx, "isInNet", jsIsInNet, 3);
    putFunction(ctx, "myIpAddress", jsMyIpAddress, 0);
    putFunction(ctx, "shExpMatch", jsShExpMatch, 2);
    putFunction(ctx, "__vexlanNow", jsNow, 0);
    putFunction(ctx, "__vexlanAlert", jsAlert, 1);

    duk_push_string(ctx, "pac-helpers");
    duk_compile_lstring_filename(ctx, 0, kPrelude, sizeof(kPrelude) - 1);
    duk_call(ctx, 0);
    duk_pop(ctx);

    duk_push_string(ctx, "proxy-script");
    duk_compile_lstring_filename(ctx, 0, e->script, e->scriptLength);
    duk_call(ctx, 0);
    duk_pop(ctx);

    if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1)) {
        (void)duk_type_error(ctx, "FindProxyForURL is not a function");
    }
    duk_push_lstring(ctx, e->url, e->urlLength);
    duk_push_lstring(ctx, e->host, e->hostLength);
    duk_call(ctx, 2);
    if (!duk_is_string(ctx, -1))
        (void)duk_type_error(ctx, "FindProxyForURL did not return a string");
    duk_size_t length = 0;
    const char* text = duk_get_lstring(ctx, -1, &length);
    if (length > PacScript::kMaxAnswerBytes)
        (void)duk_range_error(ctx, "answer too long");
    e->answer = String::copy(text, static_cast<uint32_t>(length));
    return 0;
}

}  // namespace

void PacResolver::alert(const String& text) {
    log(0, "PacScript", "alert", text);
}

PacResolver& PacScript::resolver() {
    PacResolver* r = g_resolver.load();
    return r ? *r : detail::systemPacResolver();
}

void PacScript::setResolver(PacResolver* resolver) {
    g_resolver.store(resolver);
}

bool PacScript::shExpMatch(const String& text, const String& pattern) {
    // Greedy matching that backs up to the last star only: linear space, no recursion.
    uint32_t t = 0, p = 0;
    uint32_t starP = String::npos, starT = 0;
    while (t < text.length()) {
        if (p < pattern.length() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.length() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != String::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.length() && pattern[p] == '*')
        ++p;
    return p == pattern.length();
}

PacScript::Result PacScript::evaluate(const String& script, const String& url, const String& host,
                                      String& answer, const PacLimits& limits) {
    if (script.length() > limits.maxScriptBytes) {
        log(0, "PacScript", "evaluate",
            "proxy script too large: " + String(script.length()) + " bytes");
        return Result::kNoAnswer;
    }
    String reason;
    Result result = run(script, url, host, answer, reason, limits);
    if (result == Result::kNoAnswer)
        log(0, "PacScript", "evaluate", "proxy script failed: " + reason);
    return result;
}

PacScript::Result PacScript::run(const String& script, const String& url, const String& host,
                                 String& answer, String& reason, const PacLimits& limits) {
    if (script.length() > limits.maxScriptBytes) {
        reason = "proxy script too large: " + String(script.length()) + " bytes";
        return Result::kNoAnswer;
    }
    Evaluation e;
    e.deadline = monotonicMilliseconds() + limits.timeoutMilliseconds;
    e.cap = limits.maxHeapBytes;
    e.now = limits.nowMilliseconds;
    e.resolver = &resolver();
    e.script = script.data();
    e.scriptLength = script.length();
    e.url = url.data();
    e.urlLength = url.length();
    e.host = host.data();
    e.hostLength = host.length();

    duk_context* ctx = duk_create_heap(dukAlloc, dukRealloc, dukFree, &e, dukFatal);
    if (!ctx)
        return Result::kNoEngine;
    duk_int_t rc = duk_safe_call(ctx, evaluateProtected, &e, 0, 1);
    if (rc != DUK_EXEC_SUCCESS) {
        // The error's text is taken in another protected step: converting it may fail too.
        reason = "unknown error";
        if (duk_is_error(ctx, -1) || duk_is_string(ctx, -1)) {
            duk_size_t length = 0;
            const char* text = duk_safe_to_lstring(ctx, -1, &length);
            if (text)
                reason = String::copy(text, static_cast<uint32_t>(length < 512 ? length : 512));
        }
        duk_destroy_heap(ctx);
        return Result::kNoAnswer;
    }
    duk_destroy_heap(ctx);
    answer = e.answer;
    return Result::kAnswer;
}

}  // namespace http
}  // namespace tessel

// Called by the engine between instructions (see duktape.cmake).
extern "C" int vexlan_duk_exec_timeout(void* udata) {
    auto* e = static_cast<tessel::http::Evaluation*>(udata);
    return e && tessel::monotonicMilliseconds() > e->deadline;
}
