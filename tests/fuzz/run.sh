#!/usr/bin/env bash
# Runs every fuzz target with libFuzzer for a bounded time.
#
# Usage: bash tests/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#   SECONDS_PER_TARGET  fuzzing time of each target (default 45: the four
#                       targets, and a third as long again for verify's long
#                       lines, take a little over three minutes in all)
#   TARGET              verify, title, options or parse_integer (default: all)
#
# Configures and builds the "fuzz" preset (clang, libFuzzer, ASan, UBSan)
# when needed. Each target starts from a copy of its corpus and regressions
# in a scratch directory, so the committed corpus never grows; verify's
# long-line listings, which the build generates, get a shorter run of their
# own. Exits 1 when any target fails a check or
# crashes; the failing input is kept under build/fuzz/crashes/TARGET/ and
# its path printed (TARGET is verify_long_lines for the long-line run).
# To make it a regression test, copy it into
# tests/fuzz/TARGET/regressions/ and the ordinary test run replays it.
set -euo pipefail

seconds=${1:-45}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(verify title options parse_integer)
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz
cd "$root"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset fuzz
fi
cmake --build --preset fuzz -j2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=()

# Fuzzes PROGRAM for SECONDS with inputs of at most MAX_LEN bytes,
# starting from a scratch copy of the given input directories.
# Usage: fuzz_one LABEL PROGRAM SECONDS MAX_LEN DICTIONARY DIRECTORY...
# A failure is added to `failed`.
fuzz_one() {
    local label=$1 program=$2 time=$3 max_len=$4 dictionary=$5
    shift 5
    local work=$scratch/$label
    local artifacts=$build/crashes/$label
    mkdir -p "$work/corpus" "$work/tmp" "$artifacts"
    local dir file
    for dir in "$@"; do
        [ -d "$dir" ] || continue
        for file in "$dir"/*; do
            # Prefixed by origin: a regression may share a seed's name.
            if [ -f "$file" ]; then
                cp -- "$file" "$work/corpus/$(basename "$dir")-$(basename "$file")"
            fi
        done
    done
    local options=(-max_total_time="$time" -timeout=10 -rss_limit_mb=1024 -max_len="$max_len"
                   -print_final_stats=1 -artifact_prefix="$artifacts/")
    if [ -f "$dictionary" ]; then
        options+=(-dict="$dictionary")
    fi

    echo "fuzzing $label for ${time}s"
    local status=0
    # TMPDIR: the verify target makes its scratch directory there, so that
    # nothing stays behind even when a run is cut short.
    TMPDIR=$work/tmp \
    ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$program" "$work/corpus" "${options[@]}" >"$work/log" 2>&1 || status=$?
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log" | sed "s/^/  $label: /" || true
    if [ "$status" -ne 0 ]; then
        echo "fuzz target $label FAILED (status $status); the end of its log:" >&2
        tail -n 40 "$work/log" >&2
        local crash
        crash=$(grep -oE 'Test unit written to [^ ]+' "$work/log" | tail -n 1 | sed 's/Test unit written to //' || true)
        echo "failing input: ${crash:-see $artifacts}" >&2
        failed+=("$label")
    fi
}

for target in "${targets[@]}"; do
    program=$build/tests/fuzz/fuzz_$target
    source=$root/tests/fuzz/$target
    if [ ! -x "$program" ]; then
        echo "no fuzz target $target ($program)" >&2
        exit 2
    fi
    fuzz_one "$target" "$program" "$seconds" 4096 "$source/$target.dict" \
        "$source/corpus" "$source/regressions"
    if [ "$target" = verify ]; then
        # Lines past the reader's 30,098-byte limit make inputs of 30 KB,
        # which run a hundred times slower: a shorter run of their own.
        fuzz_one verify_long_lines "$program" $(( (seconds + 2) / 3 )) 40000 "$source/$target.dict" \
            "$build/tests/fuzz/verify_generated"
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
echo "fuzzing found no fault in: ${targets[*]}"
