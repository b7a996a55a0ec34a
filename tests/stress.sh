#!/usr/bin/env bash
# Stress runs of the built tools at the sizes users run them at:
#   verify  kerfsum v over a listing of 1,000,000 lines; its peak resident
#           memory must stay below 4 MiB, its output and exit status exact;
#   create  kerfsum c over 10,000 files; every listing line and CRC exact;
#   tag     one tagwhit run over 10,000 files; every file's audio bytes
#           unchanged and every tag block exact.
# Limits are checked on counts, bytes and peak resident memory, never on
# time; wall times are printed for information.
#
# usage: bash tests/stress.sh BUILD_DIR
#
# BUILD_DIR holds the built tools, those of cmake/tools.txt (build/ci, for
# instance); each one's usage screen gives the idle memory figure.
# Needs python3 and a C++ compiler (CXX, else c++) for the small launcher
# that measures peak resident memory. Works in a scratch directory under
# ${TMPDIR:-/tmp}, removed on exit. Exits 1 when any expectation fails.
set -euo pipefail

die() {
    echo "stress: $*" >&2
    exit 1
}

[[ $# -eq 1 ]] || die "usage: bash tests/stress.sh BUILD_DIR"
[[ -d $1 ]] || die "no build directory $1"
build_dir=$(cd -- "$1" && pwd)
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)
tools=()
while read -r tool _; do
    tools+=("$tool")
done < <(grep '^[^#]' "$here/../cmake/tools.txt")
for tool in "${tools[@]}"; do
    [[ -x $build_dir/$tool ]] || die "$build_dir/$tool is missing: build it first"
done
command -v python3 >/dev/null || die "python3 is needed"
cxx=${CXX:-c++}
command -v "$cxx" >/dev/null || die "a C++ compiler ($cxx) is needed"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-stress.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The launcher is measured from, so it must be small; see peak_rss.cpp.
"$cxx" -std=c++20 -O2 -o "$scratch/peak_rss" "$here/stress/peak_rss.cpp" ||
    die "cannot build the launcher tests/stress/peak_rss.cpp"

# What the tools hold when they only print their usage screen: the floor
# under every figure below.
for tool in "${tools[@]}"; do
    "$scratch/peak_rss" "$scratch/idle" "$build_dir/$tool" >/dev/null || true
    echo "idle: $tool usage screen, peak resident memory $(<"$scratch/idle") KiB"
done

failed=()
for run in verify create tag; do
    started=$SECONDS
    if ! python3 "$here/stress/stress.py" "$build_dir" "$scratch/peak_rss" \
        "$scratch/$run" "$run"; then
        failed+=("$run")
    fi
    rm -rf -- "${scratch:?}/$run"
    echo "$run: whole run with set-up and checks took $((SECONDS - started)) s"
done

if [[ ${#failed[@]} -gt 0 ]]; then
    die "FAILED: ${failed[*]} (see the FAIL lines above)"
fi
echo "stress: every run within its limits"
