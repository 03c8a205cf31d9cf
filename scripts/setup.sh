#!/usr/bin/env bash
# Installs every Debian package that building, testing, the demo and packaging need.
# Idempotent: does nothing when everything is there. Runs as root or through sudo.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config git clang-format
    # libraries
    libcurl4-openssl-dev libssl-dev openssl libjsoncpp-dev zlib1g-dev libminizip-dev
    duktape-dev libwxgtk3.2-dev wx3.2-i18n gettext libsecret-1-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev googletest libbenchmark-dev libpcre2-dev libpugixml-dev
    python3 zip unzip curl squid microsocks dante-server
    libglib2.0-bin gsettings-desktop-schemas
    # the protection key in a real desktop keyring (tests labelled keyring)
    gnome-keyring libsecret-tools python3-dbus
    # window program tests, screenshots and images
    xvfb xauth trayer x11-apps xdotool imagemagick librsvg2-bin dbus-daemon
    # the tray tests' StatusNotifierWatcher (run with Debian's /usr/bin/python3)
    python3-dbus python3-gi
    # the Wayland test: a headless compositor and its screenshots, read with GdkPixbuf
    weston gir1.2-gdkpixbuf-2.0
    # fuzzing
    clang libclang-rt-14-dev
    # packaging
    dpkg-dev fakeroot file desktop-file-utils lintian man-db
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
