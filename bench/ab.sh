#!/usr/bin/env bash
# Times two builds of kerfsum against each other, side by side in one run,
# to tell whether a change moved create or verify mode: over 10,000 files
# of 4 KiB, where the cost per file counts, and over one 256 MiB file,
# where the CRC and the reads count; both in the page cache. When tagwhit
# stands beside both, it is timed too, tagging 1,000 untagged MP3 files of
# ten frames each (fresh copies for every run, copied outside the timing).
#
# Each repetition runs A and B in turn, in A B B A order, so that load from
# elsewhere falls on both alike. For each case it prints the medians of
# both and the median of the paired ratios B/A (each run of B against the
# run of A next to it), for wall and for CPU (user + system) time. A ratio
# inside the spread of the A/A control row is noise.
#
# Usage: bench/ab.sh KERFSUM_A KERFSUM_B [REPETITIONS]   (default 15)
# Scratch files (about 300 MB) go to a directory under /tmp, removed at exit.
set -euo pipefail

a=$(realpath "${1:?usage: ab.sh KERFSUM_A KERFSUM_B [REPETITIONS]}")
b=$(realpath "${2:?usage: ab.sh KERFSUM_A KERFSUM_B [REPETITIONS]}")
reps=${3:-15}
scratch=$(mktemp -d /tmp/kerfsum-ab.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

mkdir small
head -c $((10000 * 4096)) /dev/urandom | split -b 4096 -a 5 -d - small/f
head -c $((256 << 20)) /dev/urandom >big.bin
(cd small && "$a" c ../small.sfv f* >/dev/null)
tag_a=$(dirname "$a")/tagwhit
tag_b=$(dirname "$b")/tagwhit
cases=(small big)
if [[ -x $tag_a && -x $tag_b ]]; then
    cases+=(songs)
    mkdir songs
    # MPEG-1 Layer III frames at 128 kbit/s and 44.1 kHz: 417 bytes each.
    for ((i = 0; i < 10; ++i)); do
        printf '\377\373\220\000'
        head -c 413 /dev/urandom
    done >song.mp3
    for ((i = 0; i < 1000; ++i)); do cp song.mp3 "songs/$i.mp3"; done
fi
"$a" c big.sfv big.bin >/dev/null
cat small/* big.bin >/dev/null # into the page cache

TIMEFORMAT='%3R %3U %3S'
# Prints "REAL CPU" for one run of kerfsum ($1) in mode $2 over case $3.
one_run() {
    local tool=$1 mode=$2 case=$3 t
    rm -f created.sfv small/created.sfv
    if [[ $case == songs ]]; then
        rm -rf tagged && cp -r songs tagged
        tool=$(dirname "$tool")/tagwhit
        t=$({ time "$tool" -a Artist -k 1 -tf tagged/*.mp3 >/dev/null; } 2>&1)
    elif [[ $case == small ]]; then
        if [[ $mode == c ]]; then
            t=$({ time (cd small && "$tool" c created.sfv f* >/dev/null); } 2>&1)
        else
            t=$({ time (cd small && "$tool" v ../small.sfv >/dev/null); } 2>&1)
        fi
    elif [[ $mode == c ]]; then
        t=$({ time "$tool" c created.sfv big.bin >/dev/null; } 2>&1)
    else
        t=$({ time "$tool" v big.sfv >/dev/null; } 2>&1)
    fi
    awk '{ printf "%s %.3f\n", $1, $2 + $3 }' <<<"$t"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-22s %9s %9s %12s %9s %9s %12s\n' case "A wall" "B wall" "B/A wall" "A cpu" "B cpu" "B/A cpu"
for case in "${cases[@]}"; do
    modes=(c v control)
    [[ $case == songs ]] && modes=(t control)
    for mode in "${modes[@]}"; do
        run_mode=$mode
        second=$b
        if [[ $mode == control ]]; then
            run_mode=${modes[0]/c/v}
            second=$a # A against itself: the spread noise alone gives
        fi
        : >samples
        for ((i = 0; i < reps; ++i)); do
            x1=$(one_run "$a" "$run_mode" "$case")
            y1=$(one_run "$second" "$run_mode" "$case")
            y2=$(one_run "$second" "$run_mode" "$case")
            x2=$(one_run "$a" "$run_mode" "$case")
            printf '%s %s\n%s %s\n' "$x1" "$y1" "$x2" "$y2" >>samples
        done
        label="$case $mode"
        [[ $mode == control ]] && label="$case $run_mode, A against A"
        printf '%-22s %9s %9s %12s %9s %9s %12s\n' "$label" \
            "$(awk '{print $1}' samples | median)" "$(awk '{print $3}' samples | median)" \
            "$(awk '{ printf "%.4f\n", $3 / $1 }' samples | median)" \
            "$(awk '{print $2}' samples | median)" "$(awk '{print $4}' samples | median)" \
            "$(awk '{ printf "%.4f\n", ($2 > 0 ? $4 / $2 : 1) }' samples | median)"
    done
done
