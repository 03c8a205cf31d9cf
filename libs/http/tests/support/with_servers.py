#!/usr/bin/env python3
"""Runs one test command with the loopback test servers of this folder started beside it.

For test programs that cannot start the servers themselves (the Windows build under Wine):
starts https_server.py twice, over TLS (with the certificate it makes in its work folder) and as
plain HTTP, both serving a fresh files folder, waits for their "PORT <n>" lines, runs the
command with

  VEXLAN_TEST_HTTPS_PORT, VEXLAN_TEST_HTTP_PORT   the ports on 127.0.0.1
  VEXLAN_TEST_HTTPS_CERT                          the TLS server's certificate (PEM)
  VEXLAN_TEST_FILES                               the folder both serve under /files/

(paths prefixed with "Z:" when --wine-paths is given, Wine's drive for the Unix root), and
exits with the command's status. The servers end with this script: their standard input is
ours to close.

  with_servers.py [--wine-paths] -- COMMAND [ARG...]
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
STOP_TIMEOUT = 60


def start(workdir, root, plain):
    args = [sys.executable, os.path.join(HERE, "https_server.py"), "--workdir", workdir,
            "--root", root]
    if plain:
        args.append("--plain")
    server = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    line = server.stdout.readline().decode()
    if not line.startswith("PORT "):
        server.kill()
        raise SystemExit("with_servers: the test server did not start")
    return server, int(line.split()[1])


def main():
    argv = sys.argv[1:]
    wine_paths = False
    if argv and argv[0] == "--wine-paths":
        wine_paths = True
        argv = argv[1:]
    if not argv or argv[0] != "--" or len(argv) < 2:
        raise SystemExit(__doc__)
    command = argv[1:]

    base = tempfile.mkdtemp(prefix="vexlan-servers-")
    servers = []
    try:
        root = os.path.join(base, "files")
        tls_dir = os.path.join(base, "tls")
        plain_dir = os.path.join(base, "plain")
        for d in (root, tls_dir, plain_dir):
            os.mkdir(d)
        tls, tls_port = start(tls_dir, root, plain=False)
        servers.append(tls)
        plain, plain_port = start(plain_dir, root, plain=True)
        servers.append(plain)

        prefix = "Z:" if wine_paths else ""
        env = dict(os.environ)
        env["VEXLAN_TEST_HTTPS_PORT"] = str(tls_port)
        env["VEXLAN_TEST_HTTP_PORT"] = str(plain_port)
        env["VEXLAN_TEST_HTTPS_CERT"] = prefix + os.path.join(tls_dir, "server.crt")
        env["VEXLAN_TEST_FILES"] = prefix + root
        return subprocess.call(command, env=env)
    finally:
        for server in servers:
            server.stdin.close()
        for server in servers:
            try:
                server.wait(timeout=STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
