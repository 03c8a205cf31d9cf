#!/usr/bin/env bash
# The Debian package as a user gets it: builds it with a component key made for this test,
# checks it with lintian, installs it on this machine (root, or sudo), runs the installed
# programs (a host-check session against the demo gateway with a component signed for the
# package's key), checks the desktop entry and the manual pages, and removes the package again,
# also when a check fails.
#
#   packaging/test-package.sh
#
# The package is built in build-package/ (VEXLAN_PACKAGE_BUILD_DIR), which later runs reuse;
# vexlan-sign comes from the build/ tree of scripts/test.sh when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s)

say() { printf 'test-package: %s\n' "$*"; }
failures=()
check() {  # check DESCRIPTION COMMAND...: runs the command, records a failure
    local what=$1
    shift
    if "$@"; then
        say "ok: $what"
    else
        say "FAILED: $what"
        failures+=("$what")
    fi
}

./scripts/setup.sh
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

work=$(mktemp -d "${TMPDIR:-/tmp}/vexlan-test-package.XXXXXX")
installed=
gateway_pid=
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ -n "$gateway_pid" ]; then
        kill -TERM "$gateway_pid" 2>/dev/null || true
        wait "$gateway_pid" 2>/dev/null || true
    fi
    if [ -n "$installed" ]; then
        say "removing the package $installed"
        "${sudo[@]}" dpkg --purge "$installed" >/dev/null || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

for name in vexlanclient vexlanclient-dev-key; do
    if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q "install ok installed"; then
        say "the package $name is installed on this machine already: not touching it"
        exit 1
    fi
done

# --- build -----------------------------------------------------------------------------------
pkgbuild=${VEXLAN_PACKAGE_BUILD_DIR:-build-package}
devbuild=${VEXLAN_BUILD_DIR:-build}
keys=$pkgbuild/test-key
configure=(cmake -S . -B "$pkgbuild" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
           -DVEXLAN_WERROR=ON -DVEXLAN_BUILD_TESTS=OFF -DVEXLAN_BUILD_BENCH=OFF
           -DVEXLAN_DEV_PACKAGE=OFF -DVEXLAN_COMPONENT_SIGNING_KEY=)
sign_tool=$devbuild/apps/vexlan-sign/vexlan-sign
if [ ! -x "$sign_tool" ]; then
    # No build/ tree: vexlan-sign comes from the package's own tree (first configured with a
    # development key, which the real key then replaces).
    [ -f "$pkgbuild/CMakeCache.txt" ] || "${configure[@]}" >/dev/null
    cmake --build "$pkgbuild" --target vexlan-sign
    sign_tool=$pkgbuild/apps/vexlan-sign/vexlan-sign
fi
mkdir -p "$keys"
"$sign_tool" keygen --force "$keys/component-key.pem" "$keys/component-public.pem" >/dev/null
say "component key for this test: $keys/component-public.pem"
"${configure[@]}" -DVEXLAN_COMPONENT_KEY="$PWD/$keys/component-public.pem" >"$work/configure.log"
rm -rf "$pkgbuild/packages"
cmake --build "$pkgbuild" --target package
deb=$(ls "$pkgbuild"/packages/vexlanclient_*_amd64.deb)
say "package: $deb ($(($(date +%s) - started)) s so far)"

# A build that trusts a development key refuses to package.
if [ -f "$devbuild/CPackConfig.cmake" ] && grep -q '^VEXLAN_COMPONENT_KEY:FILEPATH=$' "$devbuild/CMakeCache.txt" &&
   grep -q '^VEXLAN_DEV_PACKAGE:BOOL=OFF' "$devbuild/CMakeCache.txt"; then
    check "packaging the development-key build $devbuild is refused with the reason" \
        bash -c "! (cd '$devbuild' && cpack -G DEB >'$work/refused.log' 2>&1) &&
                 grep -q 'No package:' '$work/refused.log'"
fi

# --- the package file ------------------------------------------------------------------------
dpkg-deb -I "$deb" >"$work/control.txt"
dpkg-deb -c "$deb" >"$work/contents.txt"
check "control: package name, section and dependencies from dpkg-shlibdeps" \
    bash -c "grep -q '^ Package: vexlanclient$' '$work/control.txt' &&
             grep -q '^ Section: net$' '$work/control.txt' &&
             grep -q '^ Depends: .*libc6.*libwxgtk3.2' '$work/control.txt'"
check "control: the desktop keyring's library is a dependency" \
    grep -q '^ Depends: .*libsecret-1-0' "$work/control.txt"
check "control: libcurl, opened on the first transfer, is a dependency" \
    grep -q '^ Depends: .*libcurl4 (>= 7.85.0)' "$work/control.txt"
for path in ./usr/bin/vexlan-cli ./usr/bin/vexlan-sign ./usr/lib/vexlanclient/vexlanclient \
            ./usr/lib/vexlanclient/vexlan-pac-eval \
            ./usr/lib/vexlanclient/img/vexlan.ico ./usr/lib/vexlanclient/img/vpn.png \
            ./usr/lib/vexlanclient/lang/fr/LC_MESSAGES/vexlanclient.mo \
            ./usr/share/applications/vexlanclient.desktop \
            ./usr/share/icons/hicolor/48x48/apps/vexlanclient.png \
            ./usr/share/icons/hicolor/scalable/apps/vexlanclient.svg \
            ./usr/share/man/man1/vexlanclient.1.gz ./usr/share/man/man1/vexlan-cli.1.gz \
            ./usr/share/man/man1/vexlan-sign.1.gz ./usr/share/doc/vexlanclient/copyright; do
    grep -q " $path\$" "$work/contents.txt" || failures+=("$path missing from the package")
done
check "/usr/bin/vexlanclient links to the program beside img and lang" \
    grep -q ' ./usr/bin/vexlanclient -> ../lib/vexlanclient/vexlanclient$' "$work/contents.txt"
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.txt" 2>&1 &&
    lintian_status=0 || lintian_status=$?
sed 's/^/    lintian | /' "$work/lintian.txt"
check "lintian finds no error" [ "$lintian_status" = 0 ]

# --- installed -------------------------------------------------------------------------------
say "installing $deb"
installed=vexlanclient
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }

check "the installed vexlan-cli --version prints 8.4.0.24" \
    bash -c '[ "$(command -v vexlan-cli)" = /usr/bin/vexlan-cli ] && [ "$(vexlan-cli --version)" = 8.4.0.24 ]'
check "vexlanclient and vexlan-sign are on the PATH and find their libraries" \
    bash -c '[ "$(command -v vexlanclient)" = /usr/bin/vexlanclient ] &&
             [ "$(command -v vexlan-sign)" = /usr/bin/vexlan-sign ] &&
             ! ldd /usr/lib/vexlanclient/vexlanclient /usr/bin/vexlan-cli | grep -q "not found"'
check "the proxy-script evaluator is installed beside the program and finds its libraries" \
    bash -c '[ -x /usr/lib/vexlanclient/vexlan-pac-eval ] &&
             ! ldd /usr/lib/vexlanclient/vexlan-pac-eval | grep -q "not found" &&
             { /usr/lib/vexlanclient/vexlan-pac-eval 2>/dev/null; [ $? = 2 ]; }'
check "desktop-file-validate accepts the desktop entry" \
    desktop-file-validate /usr/share/applications/vexlanclient.desktop
check "the desktop registers vexlanclient as the vexlan:// handler" \
    grep -qx 'x-scheme-handler/vexlan=vexlanclient.desktop;' /usr/share/applications/mimeinfo.cache
for page in vexlanclient vexlan-cli vexlan-sign; do
    file=$(man -w "$page" 2>/dev/null || true)
    check "man $page is /usr/share/man/man1/$page.1.gz and renders without warnings" \
        bash -c "[ '$file' = /usr/share/man/man1/$page.1.gz ] &&
                 warnings=\$(MANWIDTH=80 man --warnings -l '$file' 2>&1 >/dev/null) &&
                 [ -z \"\$warnings\" ] || { echo \"\$warnings\"; false; }"
done

# A host-check session with the installed programs: the gateway signs the sample host checker
# with the installed vexlan-sign and the package's key; its tree holds just those two.
gwtree=$work/gateway-tree
mkdir -p "$gwtree/apps/vexlan-sign" "$gwtree/components/hostchecker"
ln -s /usr/bin/vexlan-sign "$gwtree/apps/vexlan-sign/vexlan-sign"
ln -s "$PWD/$pkgbuild/components/hostchecker/hostchecker.so" "$gwtree/components/hostchecker/"
home=$work/home
mkdir -p "$home/Vexlan" "$home/.config"

# Starts the gateway with a scenario (the test harness prints its authority once it is ready)
# and writes the settings that trust it; sets authority.
start_gateway() {
    mkfifo "$work/gateway-$1.fifo"
    python3 tools/demo-gateway/harness.py serve --build "$gwtree" \
        --key "$PWD/$keys/component-key.pem" --scenario "$1" --rounds 2 \
        --request-log "$work/requests-$1.jsonl" >"$work/gateway-$1.fifo" 2>"$work/gateway-$1.err" &
    gateway_pid=$!
    authority=
    exec 3<"$work/gateway-$1.fifo"
    read -r -t 120 authority <&3 || true
    exec 3<&-
    [ -n "$authority" ] || { cat "$work/gateway-$1.err"; return 1; }
    python3 tools/demo-gateway/harness.py settings "$home" "$authority"
}
stop_gateway() {
    kill -TERM "$gateway_pid" 2>/dev/null || true
    wait "$gateway_pid" 2>/dev/null || true
    gateway_pid=
}
run_cli() {  # run_cli NAME: the installed vexlan-cli with a vexlan:// start parameter
    rm -rf "$home/Vexlan/hostchecker"
    HOME=$home XDG_CONFIG_HOME=$home/.config timeout 120 /usr/bin/vexlan-cli \
        "vexlan://pkg@$authority/mediation?lang=en" >"$work/cli-$1.out" 2>"$work/cli-$1.err" &&
        cli_status=0 || cli_status=$?
    sed "s/^/    vexlan-cli ($1) | /" "$work/cli-$1.err"
}

start_gateway hostchecker
run_cli hostchecker
stop_gateway
check "the installed vexlan-cli runs a host-check session to its end (exit 0)" \
    bash -c "[ $cli_status = 0 ] && grep -qx 'status: 5 host checking' '$work/cli-hostchecker.err' &&
             grep -qx 'status: 4 session over' '$work/cli-hostchecker.err'"
check "the vexlan:// start parameter reached the gateway over https with the identifier and version" \
    python3 - "$work/requests-hostchecker.jsonl" <<'PY'
import json, sys
requests = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
first = requests[0]
ok = (first["method"] == "GET" and first["path"] == "/mediation"
      and first["query"].get("lang") == "en" and first["query"].get("clientversion") == "8.4.0.24"
      and first["cookies"].get("Vexlan-Id") == "pkg"
      and sum(r["method"] == "POST" for r in requests) == 2)
sys.exit(0 if ok else 1)
PY

# The installed client trusts the package's key only.
start_gateway otherkey
run_cli otherkey
stop_gateway
check "a component signed with another key is refused (exit 3)" \
    bash -c "[ $cli_status = 3 ] && grep -q 'Bad component signature' '$work/cli-otherkey.out'"

# --- removed ---------------------------------------------------------------------------------
"${sudo[@]}" dpkg --purge vexlanclient >/dev/null
installed=
check "removing the package takes the programs and the desktop entry away" \
    bash -c '[ ! -e /usr/bin/vexlanclient ] && [ ! -e /usr/lib/vexlanclient ] &&
             [ ! -e /usr/share/applications/vexlanclient.desktop ] && ! command -v vexlan-cli'

say "finished in $(($(date +%s) - started)) s"
if [ ${#failures[@]} -gt 0 ]; then
    for f in "${failures[@]}"; do say "FAILED: $f"; done
    exit 1
fi
say "passed"
