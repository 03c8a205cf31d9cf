#!/usr/bin/env python3
"""Test support for the demo gateway, shared by the tests, the demo, the benchmarks and the
package test: start a gateway and learn its address, read its request log, stop it; write
the settings file that trusts it; and give a client run its sandbox environment. Python imports it; shell scripts and C++ tests use its
commands:

    harness.py serve GATEWAY-OPTIONS...
        runs the gateway (gateway.py's options) in this process, so that its process id is the
        gateway's; once it is ready, prints its authority (127.0.0.1:PORT or [::1]:PORT) alone
        on the first line of standard output. Stops on SIGTERM or SIGINT.

    harness.py settings HOME AUTHORITY... [--unconfirmed]
        writes HOME's settings file: each AUTHORITY is a certificate exception (the gateway's
        certificate is self-signed) and a gateway the user has confirmed (unless --unconfirmed).
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SAFETY_TIMEOUT = 120  # seconds: a gateway that hangs fails its user instead of hanging it


PROXY_VARIABLES = ("https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy",
                   "NO_PROXY")


def client_environment(home, **extra):
    """This process's environment for a client run in the sandbox HOME: HOME and
    XDG_CONFIG_HOME point into it, no proxy of the caller's applies (the gateway is on
    loopback), and `extra` is added."""
    env = dict(os.environ)
    for name in PROXY_VARIABLES:
        env.pop(name, None)
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"), **extra)
    return env


def settings_path(home):
    """The client's settings file under HOME (its program folder is HOME/Vexlan)."""
    return os.path.join(home, "Vexlan", "vexlanclient.xml")


def write_settings(home, exceptions=(), confirmed=None, hostchecker_download=True):
    """Writes HOME's settings file: `exceptions` are certificate exceptions, `confirmed` the
    gateways the user has confirmed (default: the same), and the host checker download flag
    when it is off. Returns the file's path."""
    domains = "".join("<domains>%s</domains>" % d for d in exceptions)
    gateways = "".join("<gateway>%s</gateway>" % g
                       for g in (exceptions if confirmed is None else confirmed))
    download = "" if hostchecker_download else \
        "<hostcheckerdll><download>false</download></hostcheckerdll>"
    path = settings_path(home)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write("<vexlanclient><sslcertignoredomains>%s</sslcertignoredomains>"
                "<confirmedgateways>%s</confirmedgateways>%s"
                "</vexlanclient>" % (domains, gateways, download))
    return path


class DemoGateway:
    """The demo gateway as a process of its own, on a free loopback port unless `--port` is
    among the options; stopped with SIGTERM by stop() or at the end of a `with` block. Its
    request log and its error output are files in `folder` that outlive it."""

    def __init__(self, build, scenario, *options, folder):
        fd, self.log = tempfile.mkstemp(prefix="requests-%s-" % scenario, suffix=".jsonl",
                                        dir=folder)
        os.close(fd)
        self.errors = self.log[:-len(".jsonl")] + ".err"
        with open(self.errors, "w") as errors:
            self.process = subprocess.Popen(
                [sys.executable, os.path.join(HERE, "harness.py"), "serve", "--build", build,
                 "--scenario", scenario, "--request-log", self.log] + [str(o) for o in options],
                stdout=subprocess.PIPE, stderr=errors, text=True)
        self.authority = self.process.stdout.readline().strip()
        if not self.authority:
            self.stop()
            with open(self.errors, encoding="utf-8", errors="replace") as f:
                raise RuntimeError("the demo gateway did not start: " + f.read())
        self.base_url = "https://" + self.authority
        self.port = int(self.authority.rsplit(":", 1)[1])

    def requests(self):
        """The request log so far, one dict per request (gateway.py's README lists the keys)."""
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def posts(self):
        return [r for r in self.requests() if r["method"] == "POST"]

    def component_gets(self):
        return [r for r in self.requests() if r["path"].startswith("/components/")]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=SAFETY_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def serve(options):
    sys.path.insert(0, HERE)
    import gateway
    return gateway.main(options, announce=lambda g: print(g.authority(), flush=True))


def main(argv):
    if argv[:1] == ["serve"]:
        return serve(argv[1:])
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser("serve", help="run the gateway; print its authority when ready")
    settings = commands.add_parser("settings", help="write the settings file that trusts "
                                   "the gateways")
    settings.add_argument("home")
    settings.add_argument("authority", nargs="+")
    settings.add_argument("--unconfirmed", action="store_true",
                          help="the user has confirmed none of them")
    args = parser.parse_args(argv)
    write_settings(args.home, args.authority, confirmed=() if args.unconfirmed else None)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
