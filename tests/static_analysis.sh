#!/usr/bin/env bash
# Static analysis of the whole tree: clang-tidy with the checked-in
# .clang-tidy files and cppcheck with cmake/cppcheck-suppressions.txt, over
# every C++ source under common/, the tools' directories (cmake/tools.txt),
# tests/ and bench/ that BUILD_DIR compiles (headers are checked through the
# sources that include them). clang-tidy's static analyzer checks
# (clang-analyzer-*) run on the product code only: tests/.clang-tidy and
# bench/.clang-tidy switch them off.
#
#   tests/static_analysis.sh BUILD_DIR
#
# BUILD_DIR must hold compile_commands.json (every preset exports it). Sources
# the build does not compile, such as bench/ when benchmarks are off, are
# named and passed over. Prints every finding; exits 0 when there are none,
# 1 when there are, 2 when the analysis cannot run.
#
# Environment: CLANG_TIDY and CPPCHECK name the programs (default clang-tidy,
# cppcheck); JOBS is how many clang-tidy processes run at once (default 2).
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
database="$build/compile_commands.json"
clang_tidy=${CLANG_TIDY:-clang-tidy}
cppcheck=${CPPCHECK:-cppcheck}
jobs=${JOBS:-2}

if [ ! -f "$database" ]; then
    echo "$database is missing: configure $1 with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
    exit 2
fi
for program in "$clang_tidy" "$cppcheck"; do
    if ! command -v "$program" >/dev/null 2>&1; then
        echo "$program is not installed (Debian packages clang-tidy and cppcheck)" >&2
        exit 2
    fi
done

# The sources come from the tree, not from a list kept here, so that new
# directories and files (tests/fuzz/, say) are analysed as soon as they build.
# CMake writes one '"file": "PATH"' line per entry.
compiled=$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$database" | sort -u)
directories=(common)
while read -r _ dir _; do
    directories+=("$dir")
done < <(grep '^[^#]' "$root/cmake/tools.txt")
sources=()
arm_sources=()
while IFS= read -r file; do
    if grep -qxF "$root/$file" <<<"$compiled"; then
        sources+=("$root/$file")
        # Compiled for AArch64 only in the cross build: analysed again below
        # for that target, where its code is not preprocessed away.
        case "$file" in
        *_arm.cpp) arm_sources+=("$root/$file") ;;
        esac
    else
        echo "not compiled in $1, not analysed: $file"
    fi
done < <(cd "$root" && find "${directories[@]}" tests bench -name '*.cpp' -type f 2>/dev/null | LC_ALL=C sort)
if [ ${#sources[@]} -eq 0 ]; then
    echo "no sources of this tree in $database" >&2
    exit 2
fi

work="$build/static-analysis"
rm -rf "$work"
mkdir -p "$work/tidy"
failed=0

# --- clang-tidy ------------------------------------------------------------
# One process per file: clang-tidy 14 carries analyzer state from one file to
# the next within a process (a va_list reported uninitialised after va_start).
"$clang_tidy" --version | sed -n 's/^ *\(.*version.*\)$/\1/p'
started=$SECONDS
run_tidy() {
    # $1: log name; the rest: clang-tidy arguments.
    local log="$work/tidy/$1"
    shift
    # The database may be g++'s: a warning flag that only g++ knows (the
    # tests' -Wno-restrict) is no finding.
    if "$clang_tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option "$@" >"$log" 2>&1; then
        echo 0 >"$log.status"
    else
        echo 1 >"$log.status"
    fi
}
export -f run_tidy
export clang_tidy build work
# shellcheck disable=SC2016 # expanded by the inner shell, not this one
for file in "${sources[@]}"; do
    printf '%s\0%s\0' "${file#"$root"/}" "$file"
done | xargs -0 -n 2 -P "$jobs" bash -c 'run_tidy "$(tr / _ <<<"$1").log" "$2"' _

# The AArch64 kernels, for their own target. Needs that target's C++ headers
# (g++-aarch64-linux-gnu), which a probe looks for first.
if [ ${#arm_sources[@]} -gt 0 ]; then
    probe="$work/aarch64-probe.cpp"
    echo '#include <cstring>' >"$probe"
    if "$clang_tidy" --checks='-*,readability-braces-around-statements' "$probe" -- \
        --target=aarch64-linux-gnu -std=c++20 >/dev/null 2>&1; then
        for file in "${arm_sources[@]}"; do
            run_tidy "$(tr / _ <<<"${file#"$root"/}").aarch64.log" \
                --extra-arg=--target=aarch64-linux-gnu "$file"
        done
    else
        echo "no C++ headers for aarch64-linux-gnu (g++-aarch64-linux-gnu):" \
            "${arm_sources[*]#"$root"/} analysed for the host only"
    fi
fi

tidy_failures=0
for status in "$work"/tidy/*.status; do
    if [ "$(cat "$status")" != 0 ]; then
        log=${status%.status}
        # Counts of suppressed warnings from system headers are not findings.
        grep -vE '^[0-9]+ (warning|error)s? (and [0-9]+ (warning|error)s? )?generated\.$' "$log" || true
        tidy_failures=$((tidy_failures + 1))
    fi
done
echo "clang-tidy: ${#sources[@]} files (${#arm_sources[@]} also for aarch64), $tidy_failures runs with findings, $((SECONDS - started)) s"
if [ $tidy_failures -ne 0 ]; then
    failed=1
fi

# --- cppcheck --------------------------------------------------------------
# Each source in the configuration it is built in: the x86-64 kernels with
# __x86_64__ defined (cppcheck knows no compiler's predefined macros), the
# AArch64 ones with __aarch64__.
"$cppcheck" --version
started=$SECONDS
# shellcheck disable=SC2054 # the commas belong to --enable's value
cppcheck_options=(
    --project="$database"
    --enable=warning,style,performance,portability
    --error-exitcode=1
    --inline-suppr
    --std=c++20
    --library=posix
    --library=googletest
    --suppressions-list="$root/cmake/cppcheck-suppressions.txt"
    --quiet
    -j "$jobs"
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]'
)
filters=()
for file in "${sources[@]}"; do
    filters+=(--file-filter="$file")
done
cppcheck_failed=0
(cd "$root" && "$cppcheck" "${cppcheck_options[@]}" -D__x86_64__ "${filters[@]}" 2>&1) || cppcheck_failed=1
if [ ${#arm_sources[@]} -gt 0 ]; then
    filters=()
    for file in "${arm_sources[@]}"; do
        filters+=(--file-filter="$file")
    done
    (cd "$root" && "$cppcheck" "${cppcheck_options[@]}" -D__aarch64__ "${filters[@]}" 2>&1) || cppcheck_failed=1
fi
echo "cppcheck: ${#sources[@]} files (${#arm_sources[@]} also for aarch64), $([ $cppcheck_failed -eq 0 ] && echo clean || echo findings), $((SECONDS - started)) s"
if [ $cppcheck_failed -ne 0 ]; then
    failed=1
fi

exit $failed
