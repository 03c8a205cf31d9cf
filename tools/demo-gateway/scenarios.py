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
WINDOWS_REQUEST = "os:windows;file:C:\\windows;user:notadmin;proc:vexlan-cli.exe"
# What the "win64" record of a plugin holds for the Windows client: not a library at all, so
# that a client that tried to load it would fail the session.
X64_COMPANION = b"x64 companion of the sample plugin: placed by the client, never loaded\n"


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


def plain(text):
    """Whether `text` can name a file inside a folder and be signed as it stands."""
    return bool(text) and not text.startswith(".") and not any(c in text for c in "/\\<>&\n")


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
    served = None          # another sample component's library, packed under this pattern
    signed_name = None     # the name the library is signed with (default: the pattern)
    signed_version = None  # the version it is signed with (default: the record's)
    linux_library = False  # packs the Linux build's library (beside --sign-tool) instead

    def __init__(self, name):
        self.name = name
        self.reply = None

    # -- set-up ---------------------------------------------------------------------------
    def prepare(self, gateway):
        reply = fixture(self.fixture_name)
        result = reply["result"]
        name, pattern = self.component
        if gateway.windows and pattern.endswith(".so"):
            pattern = pattern[:-3] + ".dll"
        self.native = gateway.native
        filename = "%s-%s.zip" % (name, VERSION)
        record = {
            "filename": filename, "md5": "", "urlpath": "/components/",
            "pattern": pattern, "version": VERSION,
        }
        for override in getattr(gateway.args, "dll_field", None) or []:
            field, _, value = override.partition("=")
            record[field] = value
        # The archive holds the library under the record's pattern, signed with the record's
        # pattern and version, as a publisher signs it; texts that are no plain names (which
        # the client refuses before fetching anything) keep the defaults.
        if plain(record["pattern"]):
            pattern = record["pattern"]
        version = record["version"] if plain(record["version"]) else VERSION
        md5 = gateway.pack(name, pattern, self.signed_version or version, filename,
                           key=self.signing_key(gateway), tamper=self.tamper,
                           signed_name=self.signed_name, served=self.served,
                           library=self.linux_build_library(gateway, name))
        if not any(o.startswith("md5=") for o in getattr(gateway.args, "dll_field", None) or []):
            record["md5"] = md5
        result[self.dlls_key][gateway.native] = record
        self.fill(gateway, result)
        self.reply = reply

    def signing_key(self, gateway):
        return None

    def linux_build_library(self, gateway, name):
        if not self.linux_library:
            return None
        build = os.path.dirname(os.path.dirname(os.path.dirname(gateway.sign_tool)))
        return os.path.join(build, "components", name, name + ".so")

    def fill(self, gateway, result):
        result["responseurl"] = gateway.base_url() + HOSTCHECK_PATH
        result["hostname"] = "127.0.0.1"
        result["hostcheckingtimer"] = gateway.args.interval
        result["hostcheckingrequest"] = gateway.args.request or (
            WINDOWS_REQUEST if gateway.windows else DEFAULT_REQUEST)

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
        if "Vexlan-Id" not in entry["cookies"]:
            return envelope(success=False, exception="missing Vexlan-Id cookie", code=401)
        return self.bootstrap(gateway, entry)

    def bootstrap(self, gateway, entry):
        return Response(payload=json.dumps(self.reply, indent=2))

    def hostcheck(self, gateway, entry):
        with gateway.lock:
            gateway.posts += 1
            round_number = gateway.posts
        hold = getattr(gateway.args, "hold_posts", None)
        if hold:
            # The reply waits until the file appears (or the gateway stops), so that a test
            # can act while the client's post is in progress.
            while not os.path.exists(hold) and not gateway.stopping.wait(0.02):
                pass
        reply = getattr(gateway.args, "post_reply", "rounds")
        if reply == "reset":
            return Response(action=abort_connection)
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


class LinuxLibrary(Scenario):
    description = ("the host checker record holds the Linux build's library, correctly signed "
                   "(for the Windows client: the loader refuses it)")
    linux_library = True


class WithoutNativeRecord(Scenario):
    description = "the configuration element has no linux64 component record"

    def prepare(self, gateway):
        super().prepare(gateway)
        del self.reply["result"][self.dlls_key][self.native]


# -- plugin sessions ------------------------------------------------------------------------

class Plugin(Scenario):
    """A tunnel session with the sample tunnel plugin: PKI files (the gateway's certificate as
    CA, a PKCS#12 client certificate), two SSL server certificate names, and the tunnel's
    configuration file, which it fetches through the client's download delegate."""

    description = "a tunnel session with the sample tunnel plugin (states about a second apart)"
    component = ("tunnel", "tunnel")
    fixture_name = "reply_plugindll.json"
    dlls_key = "pluginDlls"
    address = "10.8.0.2"
    close_reason = None  # once connected, the tunnel asks to close with this reason
    close_after = 1      # seconds after connecting

    def fill(self, gateway, result):
        dlls = result[self.dlls_key]
        for key in [k for k in dlls if k != gateway.native]:
            del dlls[key]  # this client only takes the native record
        if gateway.windows:
            self.add_x64_companion(gateway, dlls)
        result["server"] = "127.0.0.1:%d" % gateway.port
        result["sslservercertname"] = ["127.0.0.1", "vpn.example.test"]
        certificates = result["certificates"]
        ca, cert = gateway.client_certificate(result["login"], result["certPassword"])
        for key, path in (("ca", ca), ("cert", cert)):
            record = certificates[key]
            record["urlpath"] = "/pki/"
            record["md5"] = file_md5(path)
            gateway.publish("/pki/" + record["filename"], path,
                            "application/x-pem-file" if key == "ca" else "application/x-pkcs12")
        gateway.publish("/files/tunnel.conf", self.tunnel_configuration(gateway), "text/plain")

    def add_x64_companion(self, gateway, dlls):
        """The "win64" record: signed and packed like a component, placed by the Windows client
        in x64; it is no library, so loading it would fail."""
        name, pattern = self.component
        companion = os.path.join(gateway.workdir, "x64-companion")
        with open(companion, "wb") as f:
            f.write(X64_COMPANION)
        filename = "%s64-%s.zip" % (name, VERSION)
        md5 = gateway.pack(name, pattern, VERSION, filename, library=companion)
        dlls["win64"] = {"filename": filename, "md5": md5, "urlpath": "/components/",
                         "pattern": pattern, "version": VERSION}

    def tunnel_configuration(self, gateway):
        lines = ["# the sample tunnel's configuration, fetched once connected",
                 "ip=%s" % self.address, "server=127.0.0.1:%d" % gateway.port]
        if self.close_reason is not None:
            lines += ["close-after=%d" % self.close_after, "close-reason=%d" % self.close_reason]
        return ("\n".join(lines) + "\n").encode("utf-8")


class PluginClose(Plugin):
    description = "the tunnel plugin asks to close (reason 2) a second after connecting"
    close_reason = 2


class PluginCloseSlow(Plugin):
    description = "the tunnel plugin asks to close with reason 3 at every poll once connected"
    close_reason = 3


class NoTunnel(Scenario):
    description = "a plugin without tunnel: the sample launcher opens the service"
    component = ("launcher", "launcher")
    fixture_name = "reply_plugindllnotunnel.json"
    dlls_key = "pluginDlls"

    def fill(self, gateway, result):
        dlls = result[self.dlls_key]
        for key in [k for k in dlls if k != gateway.native]:
            del dlls[key]


def file_md5(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


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


# -- attacker mode: genuinely signed components placed for a record they were not signed for,
# and archives that unpack to more than the client allows ---------------------------------

class OldVersion(Scenario):
    description = "attack: the genuine host checker signed as 1.0.0, served as the current one"
    signed_version = "1.0.0"


class LauncherAsTunnel(Plugin):
    description = "attack: the genuine launcher (signed as launcher) served as the tunnel plugin"
    served = "launcher"
    signed_name = "launcher"


class TunnelAsHostchecker(Scenario):
    description = "attack: the genuine tunnel plugin (signed as tunnel) served as host checker"
    served = "tunnel"
    signed_name = "tunnel"


class BombHostchecker(Scenario):
    description = "attack: a host checker archive whose library inflates to 1 MiB of zeros"
    tamper = "bomb"


class BombPlugin(Plugin):
    description = "attack: a tunnel plugin archive whose library inflates to 1 MiB of zeros"
    tamper = "bomb"


class ManyEntries(Scenario):
    description = "attack: a host checker archive with 200 one-byte entries before the library"
    tamper = "entries"
# -- attacker mode: transfers -----------------------------------------------------------------
# A hostile gateway aims the client's transfers at other protocols, local services and files,
# or sends more than a download may hold. gopher:, dict: and http: URLs point at --trap, a
# loopback port on which a test listens for anything that arrives.

def trap(gateway):
    return "127.0.0.1:%d" % getattr(gateway.args, "trap", 1)


def native_record(scenario):
    return scenario.reply["result"][scenario.dlls_key][scenario.native]


class HostileComponentUrl(Scenario):
    """The component record's urlpath names another protocol."""
    urlpath = None  # with "{trap}" for the trap's address
    filename = None  # replaces the record's file name when set

    def prepare(self, gateway):
        super().prepare(gateway)
        record = native_record(self)
        record["urlpath"] = self.urlpath.format(trap=trap(gateway))
        if self.filename:
            record["filename"] = self.filename


class GopherComponent(HostileComponentUrl):
    description = "attack: a gopher: component URL aimed at a local TCP service"
    urlpath = "gopher://{trap}/_SET%20x%201%0D%0AQUIT%0D%0A"


class DictComponent(HostileComponentUrl):
    description = "attack: a dict: component URL aimed at a local TCP service"
    urlpath = "dict://{trap}/d:x:"


class FileComponent(HostileComponentUrl):
    description = "attack: a file: component URL naming /etc/passwd"
    urlpath = "file://localhost/etc/"
    filename = "passwd"


class HttpComponent(HostileComponentUrl):
    description = "attack: an http: component URL (the cookie would travel in clear)"
    urlpath = "http://{trap}/components/"


class HttpPki(PluginClose):
    description = "attack: an http: URL for the tunnel's CA file"

    def fill(self, gateway, result):
        super().fill(gateway, result)
        result["certificates"]["ca"]["urlpath"] = "http://%s/pki/" % trap(gateway)


class HttpResponseUrl(Scenario):
    description = "attack: an http: URL for the host-check results"

    def fill(self, gateway, result):
        super().fill(gateway, result)
        result["responseurl"] = "http://%s%s" % (trap(gateway), HOSTCHECK_PATH)


class RedirectToHttp(Scenario):
    description = "attack: the component archive answers with a redirect to http:"

    def prepare(self, gateway):
        super().prepare(gateway)
        native_record(self)["urlpath"] = "/moved/components/"

    def respond(self, gateway, entry):
        path = entry["path"]
        if path.startswith("/moved/"):
            location = "http://%s%s" % (trap(gateway), path[len("/moved"):])

            def act(handler):
                handler.send_response(302)
                handler.send_header("Location", location)
                handler.send_header("Content-Length", "0")
                handler.end_headers()
            return Response(action=act)
        return super().respond(gateway, entry)


class BigArchive(Scenario):
    description = "attack: a 4 MiB archive sent without a length (run the client with a " \
                  "--max-download below it)"
    size = 4 * 1024 * 1024

    def prepare(self, gateway):
        super().prepare(gateway)
        record = native_record(self)
        record["urlpath"] = "/big/"
        record["md5"] = ""

    def respond(self, gateway, entry):
        if not entry["path"].startswith("/big/"):
            return super().respond(gateway, entry)
        size = self.size

        def act(handler):
            handler.send_response(200)
            handler.send_header("Content-Type", "application/zip")
            handler.send_header("Connection", "close")
            handler.end_headers()
            handler.close_connection = True
            block = b"PK" + b"\0" * 65534
            try:
                for _ in range(size // len(block)):
                    handler.wfile.write(block)
            except OSError:
                pass  # the client gave up, as it should
        return Response(action=act)


class ArchiveMd5Mismatch(Scenario):
    description = "attack: the component archive's md5 is not the one of the file served"

    def prepare(self, gateway):
        super().prepare(gateway)
        native_record(self)["md5"] = "0" * 32


class PkiMd5Mismatch(PluginClose):
    description = "attack: the tunnel's CA file is not the one whose md5 the record gives"

    def fill(self, gateway, result):
        super().fill(gateway, result)
        result["certificates"]["ca"]["md5"] = "0" * 32


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
    "linuxlibrary": LinuxLibrary,
    "reset": ResetMidBody,
    "stall": Stall,
    "bigbody": BigBody,
    "badutf8": InvalidUtf8,
    "deepjson": DeepJson,
    "plugin": Plugin,
    "plugin-close": PluginClose,
    "plugin-close-slow": PluginCloseSlow,
    "notunnel": NoTunnel,
    "attack-old-version": OldVersion,
    "attack-launcher-as-tunnel": LauncherAsTunnel,
    "attack-tunnel-as-hostchecker": TunnelAsHostchecker,
    "attack-bomb-hostchecker": BombHostchecker,
    "attack-bomb-plugin": BombPlugin,
    "attack-many-entries": ManyEntries,
    "attack-gopher-component": GopherComponent,
    "attack-dict-component": DictComponent,
    "attack-file-component": FileComponent,
    "attack-http-component": HttpComponent,
    "attack-http-pki": HttpPki,
    "attack-http-response": HttpResponseUrl,
    "attack-redirect-http": RedirectToHttp,
    "attack-big-archive": BigArchive,
    "attack-archive-md5": ArchiveMd5Mismatch,
    "attack-pki-md5": PkiMd5Mismatch,
}


def names():
    return sorted(SCENARIOS)


def get(name):
    cls = SCENARIOS.get(name)
    return cls(name) if cls else None
