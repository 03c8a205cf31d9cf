"""The demo gateway's scenarios: what the bootstrap request is answered with, which signed
components are published, and how host-check posts and component downloads are answered.

Envelopes start from the client's test fixtures (apps/vexlanclient/tests/data), with the
native ("linux64") component record, the response URL and the host filled in at run time.
"""

import json
import os
import socket
import struct
import threading
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(os.path.dirname(os.path.dirname(HERE)),
                        "apps", "vexlanclient", "tests", "data")
VERSION = "2.4.1"
HOSTCHECK_PATH = "/mediation/hostchecking"
DEFAULT_REQUEST = "os:linux;file:/etc/os-release;user:notroot;proc:vexlan-cli"


class Response:
    def __init__(self, status=200, payload=b"", content_type="application/json", action=None):
        self.status = status
        self.payload = payload
        self.content_type = content_type
        self.action = action  # a function taking the handler, for faults below HTTP


def envelope(result=None, success=True, exception=None, code=0):
    body = {"success": success, "code": code}
    if exception is not None:
        body["exception"] = exception
    if result is not None:
        body["result"] = result
    return Response(payload=json.dumps(body, indent=2))


def fixture(name):
    with open(os.path.join(FIXTURES, name), encoding="utf-8") as f:
        return json.load(f)


class Scenario:
    """A host-check session with the sample host checker; subclasses change one thing."""

    description = "host checking with the sample host checker component"
    component = ("hostchecker", "hostchecker.so")  # sample component, pattern
    fixture_name = "reply_hostchecker.json"
    dlls_key = "hostcheckerDlls"
    tamper = None

    def __init__(self, name):
        self.name = name
        self.reply = None

    # -- set-up ---------------------------------------------------------------------------
    def prepare(self, gateway):
        reply = fixture(self.fixture_name)
        result = reply["result"]
        name, pattern = self.component
        filename = "%s-%s.zip" % (name, VERSION)
        md5 = gateway.pack(name, pattern, VERSION, filename, key=self.signing_key(gateway),
                           tamper=self.tamper)
        record = {
            "filename": filename, "md5": md5, "urlpath": "/components/",
            "pattern": pattern, "version": VERSION,
        }
        for override in getattr(gateway.args, "dll_field", None) or []:
            field, _, value = override.partition("=")
            record[field] = value
        result[self.dlls_key]["linux64"] = record
        self.fill(gateway, result)
        self.reply = reply

    def signing_key(self, gateway):
        return None

    def fill(self, gateway, result):
        result["responseurl"] = gateway.base_url() + HOSTCHECK_PATH
        result["hostname"] = "127.0.0.1"
        result["hostcheckingtimer"] = gateway.args.interval
        result["hostcheckingrequest"] = gateway.args.request or DEFAULT_REQUEST

    # -- answers ----------------------------------------------------------------------------
    def respond(self, gateway, entry):
        path = entry["path"]
        if path in gateway.files:
            content_type, data = gateway.files[path]
            return Response(payload=data, content_type=content_type)
        if entry["method"] == "POST" and path == HOSTCHECK_PATH:
            return self.hostcheck(gateway, entry)
        if path.startswith(("/components/", "/pki/", "/files/")):
            return Response(404, "<html><body>not found</body></html>", "text/html")
        if "clientversion" not in entry["query"]:
            return envelope(success=False, exception="missing clientversion", code=400)
        return self.bootstrap(gateway, entry)

    def bootstrap(self, gateway, entry):
        return Response(payload=json.dumps(self.reply, indent=2))

    def hostcheck(self, gateway, entry):
        with gateway.lock:
            gateway.posts += 1
            round_number = gateway.posts
        reply = getattr(gateway.args, "post_reply", "rounds")
        if reply == "nocontinue":
            return envelope({"info": "round %d" % round_number})
        if reply == "notjson":
            return Response(payload="<html>not json</html>", content_type="text/html")
        if reply == "refused":
            return envelope(success=False, exception="host check refused", code=403)
        go_on = round_number < gateway.args.rounds
        return envelope({"continue": go_on, "info": "round %d" % round_number})


class Refuse(Scenario):
    description = "the gateway refuses the identifier (success false with a text)"

    def prepare(self, gateway):
        pass

    def bootstrap(self, gateway, entry):
        return Response(payload=json.dumps(fixture("reply_refused.json"), indent=2))


class BadJson(Refuse):
    description = "the reply is not JSON"

    def bootstrap(self, gateway, entry):
        return Response(payload="this is not json {", content_type="text/plain")


class Http404(Refuse):
    description = "status 404 with an HTML page"

    def bootstrap(self, gateway, entry):
        return Response(404, "<html><body><h1>Not Found</h1></body></html>", "text/html")


class Http500(Scenario):
    description = "status 500 with a valid envelope: the session still starts"

    def bootstrap(self, gateway, entry):
        response = super().bootstrap(gateway, entry)
        response.status = 500
        return response


class UnknownType(Refuse):
    description = "the configuration element has an unknown type"

    def bootstrap(self, gateway, entry):
        reply = fixture("reply_hostchecker.json")
        reply["result"]["type"] = "HostChecker"
        return Response(payload=json.dumps(reply, indent=2))


class BadSignature(Scenario):
    description = "the component library was changed after signing"
    tamper = "library"


class OtherKey(Scenario):
    description = "the component is validly signed, but with another key"

    def signing_key(self, gateway):
        return gateway.other_key()


class TruncatedArchive(Scenario):
    description = "the component archive is cut in half"
    tamper = "truncate"


class WithoutSignature(Scenario):
    description = "the component archive holds the library but not its signature"
    tamper = "nosig"


class WithoutNativeRecord(Scenario):
    description = "the configuration element has no linux64 component record"

    def prepare(self, gateway):
        super().prepare(gateway)
        del self.reply["result"][self.dlls_key]["linux64"]


# -- faults below the envelope ------------------------------------------------------------

def abort_connection(handler):
    """Closes the TCP connection with a reset."""
    sock = handler.connection
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    handler.close_connection = True
    try:
        sock.close()
    except OSError:
        pass


class ResetMidBody(Refuse):
    description = "the connection is reset in the middle of the reply body"

    def bootstrap(self, gateway, entry):
        def act(handler):
            handler.send_response(200)
            handler.send_header("Content-Type", "application/json")
            handler.send_header("Content-Length", "4096")
            handler.end_headers()
            handler.wfile.write(b'{"success": true, "result": {"type": "hostch')
            handler.wfile.flush()
            abort_connection(handler)
        return Response(action=act)


class Stall(Refuse):
    description = "the reply stalls after its first bytes (until the gateway stops)"

    def __init__(self, name):
        super().__init__(name)
        self.release = threading.Event()

    def bootstrap(self, gateway, entry):
        def act(handler):
            handler.send_response(200)
            handler.send_header("Content-Type", "application/json")
            handler.send_header("Content-Length", "4096")
            handler.end_headers()
            handler.wfile.write(b'{"success": ')
            handler.wfile.flush()
            self.release.wait()
            abort_connection(handler)
        return Response(action=act)


class BigBody(Refuse):
    description = "a 50 MB reply body"

    def bootstrap(self, gateway, entry):
        def act(handler):
            size = 50 * 1024 * 1024
            handler.send_response(200)
            handler.send_header("Content-Type", "application/json")
            handler.send_header("Content-Length", str(size))
            handler.end_headers()
            chunk = b" " * 65536
            try:
                for _ in range(size // len(chunk)):
                    handler.wfile.write(chunk)
            except OSError:
                pass  # the client gave up, as it should
            handler.close_connection = True
        return Response(action=act)


class InvalidUtf8(Refuse):
    description = "an envelope whose texts are not valid UTF-8"

    def bootstrap(self, gateway, entry):
        return Response(payload=b'{"success": false, "exception": "bad \xff\xfe\xc3 text"}')


class DeepJson(Refuse):
    description = "JSON nested 100 000 levels deep"

    def bootstrap(self, gateway, entry):
        depth = 100000
        return Response(payload=b"[" * depth + b"]" * depth)


SCENARIOS = {
    "hostchecker": Scenario,
    "refuse": Refuse,
    "badjson": BadJson,
    "http500": Http500,
    "http404": Http404,
    "unknown-type": UnknownType,
    "badsig": BadSignature,
    "otherkey": OtherKey,
    "truncated": TruncatedArchive,
    "nosig": WithoutSignature,
    "nolinux64": WithoutNativeRecord,
    "reset": ResetMidBody,
    "stall": Stall,
    "bigbody": BigBody,
    "badutf8": InvalidUtf8,
    "deepjson": DeepJson,
}


def names():
    return sorted(SCENARIOS)


def get(name):
    cls = SCENARIOS.get(name)
    return cls(name) if cls else None
