#!/usr/bin/env bash
# Whether this machine runs 32-bit x86 programs, as 32-bit Wine needs. Some kernels have their
# 32-bit emulation switched off (ia32_emulation=off, or a virtual machine that offers none):
# there every 32-bit program fails with "Exec format error", Wine's own server included.
# Exit status 0 when they run; otherwise the reason on standard error and exit status 1.
# It asks the 32-bit C library's loader for its version (libc6:i386, which Wine's 32-bit
# packages bring: scripts/setup-windows.sh installs them).
loader=/lib/ld-linux.so.2
if [ ! -e "$loader" ]; then
    echo "no 32-bit C library ($loader): install Wine with scripts/setup-windows.sh" >&2
    exit 1
fi
"$loader" --version >/dev/null 2>&1
status=$?
if [ "$status" = 0 ]; then
    exit 0
elif [ "$status" = 126 ]; then
    echo "this machine's kernel does not run 32-bit programs ($loader: \"Exec format error\"," \
        "its 32-bit emulation is off), so 32-bit Wine cannot run here" >&2
else
    echo "the 32-bit C library's loader $loader failed (exit status $status)" >&2
fi
exit 1
