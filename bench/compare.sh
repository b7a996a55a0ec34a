#!/usr/bin/env bash
# Times kerfsum against the floor, a bare stat+open+read+close loop
# (bench/read_loop: read(2) only, kerfsum's buffer size), and against two
# peers, rhash and cksfv, side by side:
#   1. one 1 GiB file in the page cache: kerfsum c, kerfsum v, read_loop,
#      rhash --crc32 and cksfv; then kerfsum c and v with standard error on
#      a pseudo-terminal (where the progress indicator is on) against
#      standard error redirected to a file, timed in turn inside one
#      session of script(1) from util-linux;
#   2. 10,000 files of 4 KiB in the page cache, where the cost per file
#      counts: kerfsum c and v, read_loop, rhash --sfv and -c, cksfv and
#      cksfv -f;
#   3. the same two sets cold: before each command, bench/evict drops the
#      files from the page cache with posix_fadvise(POSIX_FADV_DONTNEED), so
#      they are read from the device.
# Each repetition runs every command once, in turn, so load from elsewhere
# falls on all of them alike; the medians of wall and CPU time and their
# ratios to the floor are printed.
#
# Usage: bench/compare.sh BUILD_DIR [REPETITIONS [REFERENCE_DIR]]
#   BUILD_DIR: a build configured with -DTOOLCRATE_BENCH=ON (kerfsum,
#   bench/read_loop and bench/evict built), e.g. build/bench.
#   REPETITIONS: default 11.
#   REFERENCE_DIR: another build (of the code before a change, say) whose
#   kerfsum runs next to BUILD_DIR's, with the same arguments, in every
#   repetition of cases 1 to 3 (not inside script(1)); each case then also
#   prints, for kerfsum c and v, the median of the paired ratios
#   BUILD_DIR / REFERENCE_DIR.
# Needs rhash, cksfv and script (Debian packages rhash, cksfv, bsdutils).
# Scratch files (about 1.1 GB) go to a directory under /tmp, removed at exit.
set -euo pipefail

# Run by the script itself inside script(1), with standard error on the
# pseudo-terminal: times kerfsum c and v over big.bin in the current
# directory, REPS times each way (stderr the terminal, stderr a file, in
# A B B A order), and appends "MODE WHERE REAL USER SYS" lines to SAMPLES.
# kerfsum alone is timed, so no start-up of script or a shell blurs the
# comparison.
if [[ ${1-} == --terminal-pair ]]; then
    kerfsum=$2
    reps=$3
    samples=$4
    TIMEFORMAT='%3R %3U %3S'
    exec 3>&2 # the terminal, kept while the timings go elsewhere
    for ((i = 0; i < reps; ++i)); do
        for where in file terminal terminal file; do
            rm -f created.sfv
            if [[ $where == file ]]; then
                c=$({ time "$kerfsum" c created.sfv big.bin >/dev/null 2>stderr.txt; } 2>&1)
                v=$({ time "$kerfsum" v listing.sfv >/dev/null 2>stderr.txt; } 2>&1)
            else
                c=$({ time "$kerfsum" c created.sfv big.bin >/dev/null 2>&3; } 2>&1)
                v=$({ time "$kerfsum" v listing.sfv >/dev/null 2>&3; } 2>&1)
            fi
            printf 'c %s %s\nv %s %s\n' "$where" "$c" "$where" "$v" >>"$samples"
        done
    done
    exit 0
fi

self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
build=$(cd "${1:?usage: compare.sh BUILD_DIR [REPETITIONS [REFERENCE_DIR]]}" && pwd)
reps=${2:-11}
kerfsum=$build/kerfsum
reference=""
if [[ -n ${3-} ]]; then
    reference=$(cd "$3" && pwd)/kerfsum
    if [[ ! -x $reference ]]; then
        echo "compare.sh: $reference is missing" >&2
        exit 1
    fi
fi
read_loop=$build/bench/read_loop
evict=$build/bench/evict
for tool in "$kerfsum" "$read_loop" "$evict"; do
    if [[ ! -x $tool ]]; then
        echo "compare.sh: $tool is missing (configure with -DTOOLCRATE_BENCH=ON and build it)" >&2
        exit 1
    fi
done
for peer in rhash cksfv; do
    if ! command -v "$peer" >/dev/null; then
        echo "compare.sh: $peer is not installed (apt-get install $peer)" >&2
        exit 1
    fi
done
if ! command -v script >/dev/null; then
    echo "compare.sh: script is not installed (apt-get install bsdutils)" >&2
    exit 1
fi

scratch=$(mktemp -d /tmp/kerfsum-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

declare -A wall cpu

# Runs one command with its output discarded and adds its wall time and
# its CPU time (user plus system), in milliseconds, to the samples of
# `name`. CPU time is the steadier figure when the machine is shared.
TIMEFORMAT='%3R %3U %3S'
time_run() {
    local name=$1
    shift
    local times
    if ! times=$({ time "$@" >/dev/null 2>&1; } 2>&1); then
        echo "compare.sh: $name failed: $*" >&2
        exit 1
    fi
    local real user sys
    read -r real user sys <<<"$times"
    wall[$name]+="$real "
    cpu[$name]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }') "
}

median() {
    # shellcheck disable=SC2086 # the samples are a space-separated list
    printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# Prints one line per name: median wall and CPU seconds, each with its
# ratio to the same median of `base`.
report() {
    local base=$1
    shift
    local base_wall base_cpu
    base_wall=$(median "${wall[$base]}")
    base_cpu=$(median "${cpu[$base]}")
    printf '  %-20s %9s %7s %9s %7s\n' command wall ratio cpu ratio
    for name in "$@"; do
        awk -v n="$name" -v w="$(median "${wall[$name]}")" -v c="$(median "${cpu[$name]}")" \
            -v bw="$base_wall" -v bc="$base_cpu" \
            'BEGIN { printf "  %-20s %8.3fs %6.3fx %8.3fs %6.3fx\n", n, w, w / bw, c, c / bc }'
    done
}

# Prints, for wall and CPU time, the median over all repetitions of the
# ratio of each sample of `name` to the sample of `base` taken next to it:
# load that comes and goes between repetitions cancels out of each ratio.
report_paired() {
    local base=$1 name=$2
    local wall_ratios cpu_ratios
    # shellcheck disable=SC2086 # the samples are space-separated lists
    wall_ratios=$(paste -d ' ' <(printf '%s\n' ${wall[$name]}) <(printf '%s\n' ${wall[$base]}) |
        awk '{ print $1 / $2 }')
    # shellcheck disable=SC2086
    cpu_ratios=$(paste -d ' ' <(printf '%s\n' ${cpu[$name]}) <(printf '%s\n' ${cpu[$base]}) |
        awk '{ print $1 / $2 }')
    awk -v n="$name" -v w="$(median "$wall_ratios")" -v c="$(median "$cpu_ratios")" \
        'BEGIN { printf "  %-20s %9s %6.3fx %9s %6.3fx  (median of paired ratios)\n", n, "", w, "", c }'
}

# Runs one command with time_run, after dropping the files named in the
# array `cold_files` from the page cache.
time_cold() {
    "$evict" "${cold_files[@]}"
    time_run "$@"
}

# With a reference build: runs TIMER NAME (reference) with the reference
# kerfsum and ARGS, after removing LISTING, which create mode makes anew.
#   time_reference TIMER NAME LISTING ARGS...
time_reference() {
    if [[ -n $reference ]]; then
        rm -f "$3"
        "$1" "$2 (reference)" "$reference" "${@:4}"
    fi
}

# With a reference build, prints the paired ratios of each NAME to
# NAME (reference).
report_reference() {
    if [[ -n $reference ]]; then
        echo "  against $reference (this build / reference):"
        for name in "$@"; do
            report_paired "$name (reference)" "$name"
        done
    fi
}

grep -m1 'model name' /proc/cpuinfo | sed 's/^model name[[:space:]]*:/CPU:/'
echo "repetitions: $reps (median of each)"

# Case 1: one large file, read once beforehand so every command finds it
# in the page cache.
head -c 1G /dev/urandom >big.bin
"$read_loop" big.bin >/dev/null
"$kerfsum" c listing.sfv big.bin >/dev/null
for ((i = 0; i < reps; ++i)); do
    time_run read_loop "$read_loop" big.bin
    rm -f created.sfv
    time_run "kerfsum c" "$kerfsum" c created.sfv big.bin
    time_run "kerfsum v" "$kerfsum" v listing.sfv
    time_reference time_run "kerfsum c" created.sfv c created.sfv big.bin
    time_reference time_run "kerfsum v" created.sfv v listing.sfv
    time_run "rhash --crc32" rhash --crc32 big.bin
    time_run cksfv cksfv big.bin
done
# The same file with standard error on a pseudo-terminal, as a terminal
# window gives it (TERM=xterm), and redirected to a file.
TERM=xterm script -q -e -c "$(printf '%q ' bash "$self" --terminal-pair "$kerfsum" "$reps" pair.txt)" \
    /dev/null </dev/null >/dev/null
while read -r mode where real user sys; do
    wall["$mode, stderr a $where"]+="$real "
    cpu["$mode, stderr a $where"]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }') "
done <pair.txt
if [[ -s stderr.txt ]]; then
    echo "compare.sh: kerfsum wrote to standard error redirected to a file" >&2
    exit 1
fi
echo
echo "1 GiB file, page-cached (ratio to the read loop):"
report read_loop read_loop "kerfsum c" "kerfsum v" "rhash --crc32" cksfv
report_reference "kerfsum c" "kerfsum v"
echo
echo "1 GiB file, page-cached, inside script(1) (ratio to stderr a file):"
report "c, stderr a file" "c, stderr a file" "c, stderr a terminal"
report_paired "c, stderr a file" "c, stderr a terminal"
report "v, stderr a file" "v, stderr a file" "v, stderr a terminal"
report_paired "v, stderr a file" "v, stderr a terminal"
rm -f stderr.txt pair.txt

# Case 2: many small files, where the cost per file counts. The listings
# lie outside the directory, so that no command reads another's listing.
mkdir small
head -c $((10000 * 4096)) /dev/urandom | (cd small && split -b 4096 -a 5 -d - f)
cd small
files=(f*)
cat "${files[@]}" >/dev/null
"$kerfsum" c ../small.sfv "${files[@]}" >/dev/null
for ((i = 0; i < reps; ++i)); do
    time_run "read_loop small" "$read_loop" "${files[@]}"
    rm -f ../created.sfv
    time_run "kerfsum c small" "$kerfsum" c ../created.sfv "${files[@]}"
    time_run "kerfsum v small" "$kerfsum" v ../small.sfv
    time_reference time_run "kerfsum c small" ../created.sfv c ../created.sfv "${files[@]}"
    time_reference time_run "kerfsum v small" ../created.sfv v ../small.sfv
    time_run "rhash --sfv small" rhash --sfv "${files[@]}"
    time_run "rhash -c small" rhash -c ../small.sfv
    time_run "cksfv small" cksfv "${files[@]}"
    time_run "cksfv -f small" cksfv -f ../small.sfv
done
cd ..
echo
echo "10,000 files of 4 KiB, page-cached (ratio to the read loop):"
report "read_loop small" "read_loop small" "kerfsum c small" "kerfsum v small" \
    "rhash --sfv small" "rhash -c small" "cksfv small" "cksfv -f small"
report_reference "kerfsum c small" "kerfsum v small"

# Case 3: both sets again, read from the device. Dropping a page from the
# cache needs it written back first.
sync -f .
cold_files=(big.bin)
for ((i = 0; i < reps; ++i)); do
    time_cold "read_loop cold" "$read_loop" big.bin
    rm -f created.sfv
    time_cold "kerfsum c cold" "$kerfsum" c created.sfv big.bin
    time_cold "kerfsum v cold" "$kerfsum" v listing.sfv
    time_reference time_cold "kerfsum c cold" created.sfv c created.sfv big.bin
    time_reference time_cold "kerfsum v cold" created.sfv v listing.sfv
done
cd small
cold_files=("${files[@]}")
for ((i = 0; i < reps; ++i)); do
    time_cold "read_loop small cold" "$read_loop" "${files[@]}"
    rm -f ../created.sfv
    time_cold "kerfsum c small cold" "$kerfsum" c ../created.sfv "${files[@]}"
    time_cold "kerfsum v small cold" "$kerfsum" v ../small.sfv
    time_reference time_cold "kerfsum c small cold" ../created.sfv c ../created.sfv "${files[@]}"
    time_reference time_cold "kerfsum v small cold" ../created.sfv v ../small.sfv
done
cd ..
echo
echo "Cold cache, 1 GiB file (ratio to the read loop):"
report "read_loop cold" "read_loop cold" "kerfsum c cold" "kerfsum v cold"
report_reference "kerfsum c cold" "kerfsum v cold"
echo
echo "Cold cache, 10,000 files of 4 KiB (ratio to the read loop):"
report "read_loop small cold" "read_loop small cold" "kerfsum c small cold" "kerfsum v small cold"
report_reference "kerfsum c small cold" "kerfsum v small cold"
