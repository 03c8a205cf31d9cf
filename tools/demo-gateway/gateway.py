#!/usr/bin/env python3
"""Demo gateway: answers the client's bootstrap request with a scenario's envelope, serves
signed component archives and takes host-check posts. Python standard library only.

    gateway.py --build BUILD_DIR --scenario NAME [--host ADDRESS] [--port N] [--request-log FILE]

It signs and packs the sample components of BUILD_DIR with BUILD_DIR's vexlan-sign and the
build's signing key, listens on 127.0.0.1 (or --host, ::1 for IPv6) over HTTPS with a
certificate it makes with the openssl command, prints "listening on https://127.0.0.1:PORT/"
("https://[::1]:PORT/") when ready and stops cleanly on SIGTERM or SIGINT. Every request it receives is written as one JSON line to the request
log.
"""

import argparse
import http.server
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

import scenarios

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CLIENT_VERSION_PARAMETER = "clientversion"


def fail(message):
    print("gateway: " + message, file=sys.stderr)
    sys.exit(2)


def signing_key(build):
    """The private key the build's components are signed with."""
    cache = os.path.join(build, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache, encoding="utf-8", errors="replace") as f:
            for line in f:
                if line.startswith("VEXLAN_COMPONENT_SIGNING_KEY:") and "=" in line:
                    value = line.split("=", 1)[1].strip()
                    if value:
                        return value
    return os.path.join(build, "keys", "component-signing-key.pem")


class Gateway:
    """The state shared by the request handlers: the scenario, the packed components, the
    host-check round counter and the request log."""

    def __init__(self, args, workdir):
        self.args = args
        self.workdir = workdir
        self.build = os.path.abspath(args.build)
        self.sign_tool = args.sign_tool or os.path.join(self.build, "apps", "vexlan-sign",
                                                        "vexlan-sign")
        # The component records of the client's platform: the Windows client loads "win32"
        # (.dll libraries) and places "win64" in x64; the Linux client loads "linux64".
        self.windows = args.platform == "windows"
        self.native = "win32" if self.windows else "linux64"
        self.suffix = ".dll" if self.windows else ".so"
        self.key = args.key or signing_key(self.build)
        self.files = {}          # URL path -> (content type, bytes or file path)
        self.lock = threading.Lock()
        self.posts = 0
        self.stopping = threading.Event()  # set on SIGTERM: held replies give up
        self.log_file = open(args.request_log, "a", encoding="utf-8") if args.request_log else None
        self.port = 0
        self.scenario = scenarios.get(args.scenario)
        if self.scenario is None:
            fail("unknown scenario %r; known: %s" % (args.scenario, ", ".join(scenarios.names())))

    # -- components -----------------------------------------------------------------------
    def component_library(self, name):
        path = os.path.join(self.build, "components", name, name + self.suffix)
        if not os.path.exists(path):
            fail("component %s is not built (%s)" % (name, path))
        return path

    def pack(self, name, pattern, version, filename, key=None, tamper=None, signed_name=None,
             served=None, library=None):
        """Packs a signed archive of a sample component and publishes it under
        /components/FILENAME; returns its MD5. The library is signed with `version` and
        `signed_name` (default: the pattern); `served` packs another sample component's
        library under this one's pattern."""
        if not os.access(self.sign_tool, os.X_OK):
            fail("no vexlan-sign in %s (build the project first)" % self.build)
        if not os.path.exists(key or self.key):
            fail("no signing key at %s: this build cannot sign components" % (key or self.key))
        library = library or self.component_library(served or name)
        out = os.path.join(self.workdir, filename)
        if tamper == "library":
            # A library that differs from the one that was signed.
            staged = os.path.join(self.workdir, "staged-" + pattern)
            shutil.copyfile(library, staged)
            library = staged
        command = [self.sign_tool, "pack", "--key", key or self.key, "--pattern", pattern,
                   "--version", version, "--out", out]
        if signed_name:
            command += ["--name", signed_name]
        result = subprocess.run(command + [library], capture_output=True, text=True)
        if result.returncode != 0:
            fail("vexlan-sign pack failed: " + result.stderr.strip())
        if tamper == "library":
            self.tamper_archive(out, pattern)
        if tamper == "nosig":
            self.drop_from_archive(out, pattern + ".sig")
        if tamper == "truncate":
            with open(out, "r+b") as f:
                f.truncate(os.path.getsize(out) // 2)
        if tamper == "bomb":
            self.bomb_archive(out, pattern)
        if tamper == "entries":
            self.pad_archive(out)
        md5 = subprocess.run(["md5sum", out], capture_output=True, text=True).stdout.split()[0]
        self.files["/components/" + filename] = ("application/zip", out)
        return md5

    def tamper_archive(self, archive, pattern):
        """Rewrites the archive with one byte of the library changed (the signature stays)."""
        import zipfile
        tampered = archive + ".tmp"
        with zipfile.ZipFile(archive) as src, zipfile.ZipFile(tampered, "w", zipfile.ZIP_DEFLATED) as dst:
            for item in src.infolist():
                data = src.read(item.filename)
                if item.filename == pattern:
                    data = bytearray(data)
                    data[len(data) // 2] ^= 0x01
                    data = bytes(data)
                dst.writestr(item.filename, data)
        os.replace(tampered, archive)

    def drop_from_archive(self, archive, name):
        """Rewrites the archive without the entry `name`."""
        import zipfile
        stripped = archive + ".tmp"
        with zipfile.ZipFile(archive) as src, zipfile.ZipFile(stripped, "w", zipfile.ZIP_DEFLATED) as dst:
            for item in src.infolist():
                if item.filename != name:
                    dst.writestr(item.filename, src.read(item.filename))
        os.replace(stripped, archive)

    def bomb_archive(self, archive, pattern):
        """Rewrites the archive with the library replaced by 1 MiB of zeros, which deflate to
        about a kilobyte (the sizes in the headers are true)."""
        import zipfile
        bomb = archive + ".tmp"
        with zipfile.ZipFile(archive) as src, \
                zipfile.ZipFile(bomb, "w", zipfile.ZIP_DEFLATED) as dst:
            for item in src.infolist():
                data = src.read(item.filename)
                if item.filename == pattern:
                    data = bytes(1024 * 1024)
                dst.writestr(item.filename, data)
        os.replace(bomb, archive)

    def pad_archive(self, archive, count=200):
        """Rewrites the archive with `count` one-byte entries in front of its own."""
        import zipfile
        padded = archive + ".tmp"
        with zipfile.ZipFile(archive) as src, \
                zipfile.ZipFile(padded, "w", zipfile.ZIP_DEFLATED) as dst:
            for n in range(count):
                dst.writestr("pad/%04d" % n, b"x")
            for item in src.infolist():
                dst.writestr(item.filename, src.read(item.filename))
        os.replace(padded, archive)

    def other_key(self):
        path = os.path.join(self.workdir, "other-key.pem")
        if not os.path.exists(path):
            subprocess.run([self.sign_tool, "keygen", path,
                            os.path.join(self.workdir, "other-public.pem")],
                           check=True, capture_output=True)
        return path

    def client_certificate(self, login, password):
        """The PKI files of a tunnel plugin: the gateway's certificate as the CA file, and a
        client certificate for `login` in a PKCS#12 file protected with `password`."""
        ca = os.path.join(self.workdir, "gateway.crt")
        key = os.path.join(self.workdir, "client.key")
        cert = os.path.join(self.workdir, "client.crt")
        p12 = os.path.join(self.workdir, "client.p12")
        if not os.path.exists(p12):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                            "-subj", "/CN=" + login, "-keyout", key, "-out", cert],
                           check=True, capture_output=True)
            subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert,
                            "-passout", "pass:" + password, "-out", p12],
                           check=True, capture_output=True)
        return ca, p12

    def publish(self, path, data, content_type="application/octet-stream"):
        self.files[path] = (content_type, data)

    # -- log --------------------------------------------------------------------------------
    def record(self, entry):
        if not self.log_file:
            return
        with self.lock:
            self.log_file.write(json.dumps(entry, sort_keys=True) + "\n")
            self.log_file.flush()

    def authority(self):
        host = self.args.host
        return "%s:%d" % ("[%s]" % host if ":" in host else host, self.port)

    def base_url(self):
        return "https://" + self.authority()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VexlanDemoGateway/1.0"

    def log_message(self, fmt, *args):  # quiet: the request log says what happened
        pass

    @property
    def gateway(self):
        return self.server.gateway

    def cookies(self):
        jar = {}
        for header in self.headers.get_all("Cookie") or []:
            for part in header.split(";"):
                if "=" in part:
                    name, value = part.strip().split("=", 1)
                    jar[name] = value
                elif part.strip():
                    jar[part.strip()] = ""
        return jar

    def body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def handle_request(self, method):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        body = self.body() if method == "POST" else b""
        entry = {
            "method": method,
            "path": url.path,
            "raw_path": self.path,
            "query": {k: v[-1] for k, v in query.items()},
            "query_order": [k for k, _ in urllib.parse.parse_qsl(url.query, keep_blank_values=True)],
            "cookies": self.cookies(),
            "cookie_header": self.headers.get("Cookie", ""),
            "user_agent": self.headers.get("User-Agent", ""),
            "host": self.headers.get("Host", ""),
            "body": body.decode("latin-1"),
            "time": time.time(),
        }
        self.gateway.record(entry)
        response = self.gateway.scenario.respond(self.gateway, entry)
        self.send(response)

    def send(self, response):
        status, content_type, payload = response.status, response.content_type, response.payload
        if response.action:
            response.action(self)
            return
        if isinstance(payload, str) and os.path.sep in payload and os.path.exists(payload):
            with open(payload, "rb") as f:
                payload = f.read()
        if isinstance(payload, str):
            payload = payload.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.wfile.write(payload)

    def do_GET(self):
        self.handle_request("GET")

    def do_POST(self):
        self.handle_request("POST")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def make_certificate(workdir):
    cert = os.path.join(workdir, "gateway.crt")
    key = os.path.join(workdir, "gateway.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,IP:::1",
                    "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return cert, key


def main(argv=None, announce=None):
    """Runs the gateway until SIGTERM or SIGINT; `announce(gateway)` says that it is ready
    (default: the "listening on" line for people)."""
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the project's build folder")
    parser.add_argument("--scenario", required=True,
                        help="one of: " + ", ".join(scenarios.names()))
    parser.add_argument("--host", default="127.0.0.1",
                        help="loopback address to listen on: 127.0.0.1 (default) or ::1")
    parser.add_argument("--port", type=int, default=0, help="port on --host (default: free)")
    parser.add_argument("--request-log", help="file receiving one JSON line per request")
    parser.add_argument("--key", help="private key to sign components with "
                        "(default: the build's signing key)")
    parser.add_argument("--rounds", type=int, default=3,
                        help="host-check rounds: the answer to the last one says stop")
    parser.add_argument("--interval", type=int, default=0,
                        help="hostcheckingtimer sent to the client, in seconds")
    parser.add_argument("--request", help="hostcheckingrequest sent to the client")
    parser.add_argument("--post-reply", default="rounds",
                        choices=["rounds", "nocontinue", "notjson", "refused", "reset"],
                        help="answer to host-check posts: continue until --rounds (default), "
                        "a result without \"continue\", a body that is not JSON, a refusal, "
                        "or a connection reset")
    parser.add_argument("--hold-posts", metavar="FILE",
                        help="answer each host-check post only once FILE exists")
    parser.add_argument("--dll-field", action="append", default=[], metavar="NAME=VALUE",
                        help="overrides a field of the published native component record "
                        "(filename, md5, urlpath, pattern, version); repeatable")
    parser.add_argument("--platform", choices=("linux", "windows"), default="linux",
                        help="the client's platform: windows publishes the \"win32\" record "
                        "(components/NAME/NAME.dll of --build) and, for plugins, a \"win64\" "
                        "record that the client must place in x64 and never load")
    parser.add_argument("--sign-tool", help="vexlan-sign to pack with (default: the one of "
                        "--build; a Windows build packs with a Linux build's)")
    parser.add_argument("--state-dir", help="keep generated files here instead of a temporary folder")
    parser.add_argument("--trap", type=int, default=1, metavar="PORT",
                        help="a loopback port that the attacker scenarios aim their gopher:, "
                        "dict: and http: URLs at (a listener of the test's)")
    args = parser.parse_args(argv)

    workdir = args.state_dir or tempfile.mkdtemp(prefix="vexlan-gateway-")
    os.makedirs(workdir, exist_ok=True)
    try:
        gateway = Gateway(args, workdir)
        cert, key = make_certificate(workdir)
        if ":" in args.host:
            Server.address_family = socket.AF_INET6
        server = Server((args.host, args.port), Handler)
        server.gateway = gateway
        gateway.port = server.server_address[1]
        gateway.scenario.prepare(gateway)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        server.socket = context.wrap_socket(server.socket, server_side=True)

        def stop(signum, frame):
            gateway.stopping.set()
            release = getattr(gateway.scenario, "release", None)
            if release is not None:
                release.set()
            threading.Thread(target=server.shutdown, daemon=True).start()

        signal.signal(signal.SIGTERM, stop)
        signal.signal(signal.SIGINT, stop)
        if announce is None:
            print("listening on %s/" % gateway.base_url(), flush=True)
        else:
            announce(gateway)
        server.serve_forever(poll_interval=0.2)
        server.server_close()
    finally:
        if not args.state_dir:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
