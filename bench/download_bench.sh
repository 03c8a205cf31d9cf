#!/usr/bin/env bash
# Download throughput over loopback HTTPS: DownloadManager::downloadFileTo (download_driver)
# against the curl command-line tool, both writing the same 200 MB file served by
# "openssl s_server -WWW" (so that the server is not what is measured).
# Usage: bench/download_bench.sh [build-dir] [size-MB] [runs]
set -euo pipefail

build=${1:-build}
size_mb=${2:-200}
runs=${3:-5}
driver="$build/bench/download_driver"
[ -x "$driver" ] || { echo "missing $driver (build the download_driver target)" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/www"
head -c $((size_mb * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 \
    -subj /CN=localhost -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(cd "$work/www" && exec openssl s_server -quiet -WWW -accept "127.0.0.1:$port" \
    -cert "$work/cert.pem" -key "$work/key.pem" </dev/null >/dev/null 2>&1) &
server_pid=$!
for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done
url="https://127.0.0.1:$port/big.bin"
expected=$(stat -c %s "$work/www/big.bin")

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
best_curl=999999
best_ours=999999
for i in $(seq "$runs"); do
    rm -f "$work/out.bin"
    t0=$(now); curl -sk -o "$work/out.bin" "$url"; t1=$(now)
    [ "$(stat -c %s "$work/out.bin")" = "$expected" ] || { echo "curl: short file" >&2; exit 1; }
    c=$(calc "$t1 - $t0")
    rm -f "$work/out.bin"
    t0=$(now); "$driver" "$url" "$work/out.bin" >/dev/null; t1=$(now)
    [ "$(stat -c %s "$work/out.bin")" = "$expected" ] || { echo "driver: short file" >&2; exit 1; }
    cmp -s "$work/out.bin" "$work/www/big.bin" || { echo "driver: wrong content" >&2; exit 1; }
    o=$(calc "$t1 - $t0")
    printf 'run %d: curl %.3f s, downloadFileTo %.3f s\n' "$i" "$c" "$o"
    best_curl=$(calc "($c < $best_curl) ? $c : $best_curl")
    best_ours=$(calc "($o < $best_ours) ? $o : $best_ours")
done
curl_mbs=$(calc "$size_mb / $best_curl")
ours_mbs=$(calc "$size_mb / $best_ours")
printf 'best of %d: curl %.1f MB/s, downloadFileTo %.1f MB/s, ratio %.2f\n' \
    "$runs" "$curl_mbs" "$ours_mbs" "$(calc "$ours_mbs / $curl_mbs")"
