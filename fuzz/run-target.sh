#!/usr/bin/env bash
# One deterministic fuzzing run for CTest: <fuzzer> <scratch corpus> <corpora> flags...
# <corpora> is the committed corpus, then any folders of test fixtures, separated by ";".
# The scratch corpus starts empty every time, so that every run starts from the same state;
# new inputs go there, never to the committed corpus. The fuzzer's scratch files live in a
# folder of this run (in /dev/shm when there is one), removed afterwards.
set -euo pipefail
fuzzer=$1 scratch=$2
IFS=';' read -r -a corpora <<<"$3"
shift 3
rm -rf "$scratch" "$scratch.artifacts"
mkdir -p "$scratch" "$scratch.artifacts"
parent=/dev/shm
[[ -d $parent && -w $parent ]] || parent=${TMPDIR:-/tmp}
files=$(mktemp -d "$parent/vexlan-fuzz-run.XXXXXX")
trap 'rm -rf "$files"' EXIT
VEXLAN_FUZZ_SCRATCH=$files "$fuzzer" -artifact_prefix="$scratch.artifacts/" "$@" "$scratch" "${corpora[@]}"
