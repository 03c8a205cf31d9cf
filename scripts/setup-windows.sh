#!/usr/bin/env bash
# Installs the MinGW-w64 cross compiler, Wine and the fonts Wine renders with, then cross-builds
# (static, i686, posix thread model) the libraries Debian does not ship for MinGW from Debian's
# own source packages: GoogleTest, jsoncpp, minizip, OpenSSL 3.0, libcurl, libpng and wxWidgets
# 3.2 for MSW (only the libraries the window program links: base, core and adv). They go into a
# cache prefix keyed by a digest of the build part of this script (everything from the line
# "# ---- build part" to the end), so that a change there builds everything again, while a change
# above it (the packages to install, the deb-src entry) or an unchanged script costs nothing.
# Resumable: a library counts as built only when its stamp file exists.
#
#   scripts/setup-windows.sh                 installs and builds; the last stdout line is the prefix
#   scripts/setup-windows.sh --print-prefix  prints the prefix only
#
# The prefix holds CMake packages (GTest, CURL) and pkg-config files (jsoncpp, minizip); OpenSSL
# is found by CMake's FindOpenSSL (OPENSSL_USE_STATIC_LIBS), wxWidgets through the prefix's
# bin/wx-config, and zlib comes from libz-mingw-w64-dev (/usr/i686-w64-mingw32).
set -Eeuo pipefail
shopt -s inherit_errexit

self=$(readlink -f "${BASH_SOURCE[0]}")
digest=$(sed -n '/^# ---- build part/,$p' "$self" | sha256sum | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vexlan
prefix=$cache/mingw-i686-$digest
work=$cache/mingw-i686-work-$digest
jobs=$(nproc 2>/dev/null || echo 2)
# Shared with the cross-build of the project so that others can use the libraries built so far.
current_link=${VEXLAN_MINGW_PREFIX_LINK:-}

if [ "${1:-}" = "--print-prefix" ]; then
    echo "$prefix"
    exit 0
fi

log() { echo "setup-windows: $*" >&2; }

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

install_packages() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        log "adding the i386 architecture for 32-bit Wine"
        "${sudo[@]}" dpkg --add-architecture i386
        need_update=1
    fi
    # fonts-wine and fonts-liberation: the fonts Wine's programs render their texts with.
    local packages=(g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386 dpkg-dev nsis
                    cmake ninja-build pkg-config perl make patch xz-utils bzip2 googletest
                    fonts-wine fonts-liberation)
    local missing=()
    for p in "${packages[@]}"; do
        installed "$p" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
        log "installing ${missing[*]}"
        "${sudo[@]}" apt-get update -qq
        [ ${#missing[@]} -eq 0 ] || "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

# A deb-src entry for the archive the machine already uses, so that apt-get source works.
add_deb_src() {
    if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local src=/etc/apt/sources.list.d/debian.sources
    [ -f "$src" ] || { log "no $src to derive a deb-src entry from"; exit 1; }
    log "adding a deb-src entry derived from $src"
    sed -E 's/^Types:.*/Types: deb-src/' "$src" | "${sudo[@]}" tee /etc/apt/sources.list.d/vexlan-deb-src.sources >/dev/null
    "${sudo[@]}" apt-get update -qq
}

# Unpacks Debian's source package NAME (its patches applied) into $work/src/NAME and prints that
# folder. The newest version whose files the archive still serves is taken: a mirror may list a
# security update whose files it no longer has.
fetch_source() {
    local name=$1 dir=$work/src/$name
    if [ -f "$dir/.unpacked" ]; then
        echo "$dir"
        return
    fi
    rm -rf "$dir" "$work/dl/$name"
    mkdir -p "$work/dl/$name" "$work/src"
    local versions v ok=
    versions=$(apt-cache showsrc "$name" | awk -v n="$name" '/^Package:/{p=$2} /^Version:/ && p==n {print $2}' | sort -u -r -V)
    for v in $versions; do
        if (cd "$work/dl/$name" && apt-get source -qq --download-only "$name=$v" >/dev/null 2>&1); then
            ok=$v
            break
        fi
        rm -rf "${work:?}/dl/$name" && mkdir -p "$work/dl/$name"
    done
    [ -n "$ok" ] || { log "cannot fetch the source package $name"; exit 1; }
    local dsc
    dsc=$(ls "$work/dl/$name"/*.dsc)
    dpkg-source -q --no-check -x "$dsc" "$dir" >/dev/null
    touch "$dir/.unpacked"
    echo "$dir"
}

# ---- build part: the digest covers this line and everything below it.

triple=i686-w64-mingw32
sysroot=/usr/$triple

write_toolchain() {
    mkdir -p "$work"
    cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER $triple-gcc-posix)
set(CMAKE_CXX_COMPILER $triple-g++-posix)
set(CMAKE_RC_COMPILER $triple-windres)
set(CMAKE_AR $triple-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB $triple-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH $prefix $sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS ON)
EOF
}

cmake_build() {
    local src=$1 build=$2
    shift 2
    rm -rf "$build" && mkdir -p "$(dirname "$build")"
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
        -DBUILD_SHARED_LIBS=OFF "$@" >"$build.log" 2>&1
    cmake --build "$build" -j "$jobs" >>"$build.log" 2>&1
    cmake --install "$build" >>"$build.log" 2>&1
}

build_googletest() {
    cmake_build /usr/src/googletest "$work/build/googletest" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    version=$(dpkg-query -W -f='${Version}' googletest)
}

build_jsoncpp() {
    local src
    src=$(fetch_source libjsoncpp)
    cmake_build "$src" "$work/build/jsoncpp" -DJSONCPP_WITH_TESTS=OFF \
        -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=ON \
        -DJSONCPP_WITH_CMAKE_PACKAGE=ON -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF
    version=$(basename "$(ls "$work/dl/libjsoncpp"/*.dsc)" .dsc)
}

# minizip is a handful of C files in zlib's contrib folder, built against Debian's MinGW zlib.
build_minizip() {
    local src build=$work/build/minizip
    src=$(fetch_source zlib)/contrib/minizip
    rm -rf "$build" && mkdir -p "$build"
    local f
    for f in ioapi unzip zip iowin32; do
        $triple-gcc-posix -O2 -I"$sysroot/include" -c "$src/$f.c" -o "$build/$f.o"
    done
    $triple-gcc-ar-posix rcs "$build/libminizip.a" "$build"/*.o
    mkdir -p "$prefix/lib/pkgconfig" "$prefix/include/minizip"
    install -m 644 "$build/libminizip.a" "$prefix/lib/"
    install -m 644 "$src"/{ioapi,unzip,zip,iowin32,crypt,mztools}.h "$prefix/include/minizip/" 2>/dev/null ||
        install -m 644 "$src"/{ioapi,unzip,zip,iowin32,crypt}.h "$prefix/include/minizip/"
    version=$(basename "$(ls "$work/dl/zlib"/*.dsc)" .dsc)
    cat >"$prefix/lib/pkgconfig/minizip.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: minizip
Description: zip and unzip over zlib (zlib's contrib/minizip, ${version})
Version: ${version#zlib_}
Requires: zlib
Libs: -L\${libdir} -lminizip
Cflags: -I\${includedir}/minizip
EOF
}

build_openssl() {
    local src
    src=$(fetch_source openssl)
    (
        cd "$src"
        # Debian's pic.patch makes the 32-bit assembly position-independent the ELF way
        # (a global offset table), which PE objects cannot express: taken back out here.
        if [ -f debian/patches/pic.patch ] && [ ! -f .pic-reverted ]; then
            patch -R -p1 -s <debian/patches/pic.patch
            touch .pic-reverted
        fi
        make distclean >/dev/null 2>&1 || true
        # no-pic: PE code is not position-independent (the 32-bit assembly would otherwise
        # refer to a global offset table). The configuration folder is one only an
        # administrator can create, never one on the current drive that any user could.
        CC=gcc-posix CXX=g++-posix ./Configure mingw no-shared no-pic no-tests no-module \
            no-engine --cross-compile-prefix=$triple- --prefix="$prefix" --libdir=lib \
            --openssldir="C:/Windows/System32/vexlan-ssl" >"$work/openssl.log" 2>&1
        make -j "$jobs" build_libs >>"$work/openssl.log" 2>&1
        make install_dev >>"$work/openssl.log" 2>&1
    )
    version=$(basename "$(ls "$work/dl/openssl"/*.dsc)" .dsc)
}

# libcurl over OpenSSL for HTTP(S) only (proxies included), trust anchors from the Windows
# certificate store through CURLSSLOPT_NATIVE_CA.
build_curl() {
    local src
    src=$(fetch_source curl)
    cmake_build "$src" "$work/build/curl" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
        -DENABLE_MANUAL=OFF -DCURL_USE_OPENSSL=ON -DCURL_USE_SCHANNEL=OFF -DCURL_WINDOWS_SSPI=OFF \
        -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_USE_LIBSSH2=OFF \
        -DCURL_USE_LIBSSH=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
        -DCURL_ZSTD=OFF -DCURL_BROTLI=OFF -DCURL_USE_GSSAPI=OFF -DENABLE_UNIX_SOCKETS=OFF \
        -DCURL_ZLIB=ON -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
        -DCURL_DISABLE_OPENSSL_AUTO_LOAD_CONFIG=ON
    version=$(basename "$(ls "$work/dl/curl"/*.dsc)" .dsc)
}

# libpng for the window program's images, the library only.
build_libpng() {
    local src
    src=$(fetch_source libpng1.6)
    cmake_build "$src" "$work/build/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF -DSKIP_INSTALL_PROGRAMS=ON \
        -DSKIP_INSTALL_FILES=ON
    # wxWidgets' configure links against -lpng.
    [ -e "$prefix/lib/libpng.a" ] || ln -s libpng16.a "$prefix/lib/libpng.a"
    version=$(basename "$(ls "$work/dl/libpng1.6"/*.dsc)" .dsc)
}

# wxWidgets 3.2 for MSW, static: the base, core and adv libraries with PNG and ICO images and the
# built-in regular expressions. Every other library and optional class is left out so that the
# build stays short: no networking, XML, HTML, media, OpenGL, JPEG, TIFF or debug reports (the
# "qa" library). The Makefile builds the "net" library whatever the options say: emptying its
# two target variables leaves it out of both the build and the install.
build_wx() {
    local src build=$work/build/wx
    src=$(fetch_source wxwidgets3.2)
    rm -rf "$build" && mkdir -p "$build"
    (
        cd "$build"
        "$src/configure" --host=$triple --build="$(gcc -dumpmachine)" --prefix="$prefix" \
            CC=$triple-gcc-posix CXX=$triple-g++-posix AR=$triple-gcc-ar-posix \
            RANLIB=$triple-gcc-ranlib-posix WINDRES=$triple-windres \
            CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
            --with-msw --disable-shared --enable-unicode --disable-tests --disable-debug_info \
            --with-libpng=sys --with-zlib=sys --with-regex=builtin --without-libjpeg \
            --without-libtiff --without-expat --without-liblzma --without-opengl \
            --without-nanosvg --disable-xrc --disable-html --disable-htmlhelp \
            --disable-help --disable-mshtmlhelp --disable-aui --disable-propgrid \
            --disable-ribbon --disable-stc --disable-richtext --disable-webview \
            --disable-mediactrl --disable-sound --disable-sockets --disable-ipc \
            --disable-protocols --disable-protocol --disable-url --disable-fs_inet \
            --disable-webrequest --disable-dialupman --disable-secretstore --disable-svg \
            --disable-debugreport >"$work/wx.log" 2>&1
        local no_net=(__netlib___depname= __install_netlib___depname=)
        make -j "$jobs" "${no_net[@]}" >>"$work/wx.log" 2>&1
        make install "${no_net[@]}" >>"$work/wx.log" 2>&1
        local lib
        for lib in net qa; do
            if ls "$prefix"/lib/libwx_*_"$lib"-3.2* >/dev/null 2>&1; then
                echo "the wx library $lib was built though the program does not use it" >>"$work/wx.log"
                return 1
            fi
        done
    )
    version=$(basename "$(ls "$work/dl/wxwidgets3.2"/*.dsc)" .dsc)
}

step() {
    local name=$1 stamp=$prefix/.stamp-$1 start version=
    if [ -f "$stamp" ]; then
        log "$name $(cat "$stamp") cached"
        return
    fi
    start=$(date +%s)
    # Reported once, by the main shell (the trap also runs in subshells under set -E).
    trap '[ "$BASHPID" != "$$" ] || log "$name failed (logs in $work)"' ERR
    "build_$name"
    trap - ERR
    echo "$version" >"$stamp"
    log "$name $version built in $(($(date +%s) - start)) s"
    [ -z "$current_link" ] || ln -sfn "$prefix" "$current_link"
}

install_packages
add_deb_src
mkdir -p "$prefix" "$work"
# Held for the whole run: the clean-up at the end leaves the work folders whose run still holds
# its lock (another checkout's version of this script building at the same time).
exec 9>"$work.lock"
flock 9
write_toolchain
total=$(date +%s)
for lib in googletest jsoncpp minizip openssl curl libpng wx; do
    step "$lib"
done
log "all libraries ready ($(($(date +%s) - total)) s)"
# Sources and build trees are needed no more, nor those of other versions of this script
# unless a run of theirs is still going on.
rm -rf "$work" "$work.lock"
for other in "$cache"/mingw-i686-work-*; do
    [ -d "$other" ] || continue
    (flock -n 8 && rm -rf "$other" "$other.lock") 8>"$other.lock" || true
done
echo "$prefix"
