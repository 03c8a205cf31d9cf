#!/usr/bin/env bash
# Checks that every C and C++ source of the tree follows .clang-format; with --fix, formats
# them in place. Exits non-zero and names the files when some do not.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "check-format: clang-format is missing" >&2; exit 2; }

mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
if [[ ${1:-} == --fix ]]; then
    clang-format -i "${files[@]}"
    exit 0
fi
bad=()
for file in "${files[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [[ ${#bad[@]} -gt 0 ]]; then
    echo "check-format: ${#bad[@]} files differ from .clang-format (scripts/check-format.sh --fix):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files follow .clang-format"
