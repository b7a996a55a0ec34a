#!/usr/bin/env bash
# Times each CRC-32 kernel of crc32_bench against ISA-L's CRC-32 (the row
# crc32_bench links from Debian's libisal-dev) and, given a reference
# timing program, against libdeflate's kernel of the same width, forced
# through LIBDEFLATE_DISABLE_CPU_FEATURES; at 4 KiB, 64 KiB and 1 MiB,
# buffers in the cache. Prints each one's throughput and our ratio to it.
#
# Every figure is wall time, as the reference program measures it: the
# best of five runs of at least 0.2 s each, in GB/s (10^9 bytes per
# second). Each round runs, kernel by kernel, ours and ISA-L's, then
# libdeflate's (the other way round in even rounds), so that all three see
# the same machine. For each program it prints the best figure of all the
# rounds (the one least disturbed by other work) and our ratio to it; then
# the median of the ratios taken within each round, with the lowest and
# highest.
#
# Usage: bench/crc32_versus.sh BUILD_DIR [ROUNDS [REFERENCE]]
#   BUILD_DIR: a build configured with -DTOOLCRATE_BENCH=ON, crc32_bench
#   built, e.g. build/bench.
#   ROUNDS: default 5.
#   REFERENCE: libdeflate's timing program; by default
#   ../shared/crc-reference/libdeflate-crc32-bench beside this tree, when
#   it is there. Without one, only ISA-L is compared.
set -euo pipefail

build=$(cd "${1:?usage: crc32_versus.sh BUILD_DIR [ROUNDS [REFERENCE]]}" && pwd)
rounds=${2:-5}
bench=$build/bench/crc32_bench
reference=${3-$(dirname "$0")/../../shared/crc-reference/libdeflate-crc32-bench}
if [[ ! -x $bench ]]; then
    echo "crc32_versus.sh: $bench is missing (configure with -DTOOLCRATE_BENCH=ON and build it)" >&2
    exit 1
fi
if [[ ! -x $reference ]]; then
    echo "crc32_versus.sh: no reference program at $reference: ISA-L alone is compared" >&2
    reference=""
fi
sizes='4096|65536|1048576'
if ! "$bench" --benchmark_list_tests 2>/dev/null | grep -q '^isal/'; then
    echo "crc32_versus.sh: crc32_bench was built without ISA-L (apt-get install libisal-dev, then configure again)" >&2
fi

# The folding kernels this processor runs, widest first, and the features
# that leave libdeflate with the same width.
declare -A disable=(
    [vpclmul512]=""
    [vpclmul256]="avx512bw,avx512vl,zmm"
    [pclmul]="avx512bw,avx512vl,zmm,vpclmulqdq"
)
kernels=()
for kernel in vpclmul512 vpclmul256 pclmul; do
    if "$bench" --benchmark_list_tests 2>/dev/null | grep -q "^$kernel/"; then
        kernels+=("$kernel")
    fi
done

# Prints "KERNEL PROGRAM SIZE GB/s" for our kernel and ISA-L's, from the
# best repetition's wall time.
run_ours() {
    "$bench" --benchmark_filter="^($1|isal)/($sizes)\$" --benchmark_min_time=0.2 \
        --benchmark_repetitions=5 --benchmark_report_aggregates_only=false --benchmark_format=csv 2>/dev/null |
        awk -F, -v k="$1" 'NR > 1 && $1 !~ /_(mean|median|stddev|cv)"$/ {
            gsub(/"/, "", $1); split($1, name, "/"); unit = $5
            ns = $3 * (unit == "us" ? 1e3 : unit == "ms" ? 1e6 : 1)
            rate = name[2] / ns; key = name[1] " " name[2]
            if (rate > best[key]) best[key] = rate
        } END { for (key in best) { split(key, f, " "); print k, (f[1] == "isal" ? "isal" : "ours"), f[2], best[key] } }'
}

run_reference() {
    if [[ -n $reference ]]; then
        LIBDEFLATE_DISABLE_CPU_FEATURES=${disable[$1]} "$reference" libdeflate 4096 65536 1048576 |
            awk -v k="$1" '{ print k, "libdeflate", $2, $3 }'
    fi
}

grep -m1 'model name' /proc/cpuinfo | sed 's/^model name[[:space:]]*:/CPU:/'
echo "rounds: $rounds; wall time, best of 5 runs of 0.2 s, GB/s (10^9 bytes/s)"
samples=$(mktemp)
trap 'rm -f "$samples"' EXIT
for ((round = 1; round <= rounds; ++round)); do
    for kernel in "${kernels[@]}"; do
        if ((round % 2 == 1)); then
            run_ours "$kernel" | sed "s/^/$round /" >>"$samples"
            run_reference "$kernel" | sed "s/^/$round /" >>"$samples"
        else
            run_reference "$kernel" | sed "s/^/$round /" >>"$samples"
            run_ours "$kernel" | sed "s/^/$round /" >>"$samples"
        fi
    done
done

# Per kernel and size: each program's best figure over the rounds, our
# ratio of bests, and the median, lowest and highest per-round ratio.
awk '
function median(list,    n, v, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; ++i) for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; --j) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
}
function spread(list,    n, v, i, lo, hi) {
    n = split(list, v, " "); lo = hi = v[1]
    for (i = 2; i <= n; ++i) { if (v[i] + 0 < lo + 0) lo = v[i]; if (v[i] + 0 > hi + 0) hi = v[i] }
    return sprintf("%.2f (%.2f-%.2f)", median(list), lo, hi)
}
# Our best, theirs and the ratio of the two; then the per-round ratios.
function against(k, size, who,    r, best_ours, best, ratios) {
    best_ours = best = 0; ratios = ""
    for (r in rounds) {
        if (!((r, k, who, size) in rate)) continue
        if (rate[r, k, "ours", size] > best_ours) best_ours = rate[r, k, "ours", size]
        if (rate[r, k, who, size] > best) best = rate[r, k, who, size]
        ratios = ratios " " rate[r, k, "ours", size] / rate[r, k, who, size]
    }
    if (ratios == "") return sprintf(" %7s %6s %18s", "-", "-", "-")
    return sprintf(" %7.2f %6.2f %18s", best, best_ours / best, spread(ratios))
}
{ rate[$1, $2, $3, $4] = $5; seen[$2, $4] = 1; rounds[$1] = 1 }
END {
    printf "%-10s %7s %6s | %7s %6s %18s | %7s %6s %18s\n", "", "", "ours", "ISA-L", "ratio", "ratio per round", \
        "libdefl", "ratio", "ratio per round"
    printf "%-10s %7s %6s | %7s %6s %18s | %7s %6s %18s\n", "kernel", "size", "best", "best", "bests", "median (range)", \
        "best", "bests", "median (range)"
    split("vpclmul512 vpclmul256 pclmul", order, " ")
    split("4096 65536 1048576", sizes, " ")
    for (o = 1; o <= 3; ++o) for (s = 1; s <= 3; ++s) {
        k = order[o]; size = sizes[s]
        if (!((k, size) in seen)) continue
        best_ours = 0
        for (r in rounds) if ((r, k, "ours", size) in rate && rate[r, k, "ours", size] > best_ours) best_ours = rate[r, k, "ours", size]
        printf "%-10s %7s %6.2f |%s |%s\n", k, size, best_ours, against(k, size, "isal"), against(k, size, "libdeflate")
    }
}' "$samples"
