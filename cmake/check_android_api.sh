#!/usr/bin/env bash
# Checks, without building for Android, that the tools can be built for
# 64-bit Android at API 24, the oldest level they support:
#
#   1. every product source (each source named in common/CMakeLists.txt
#      and in the CMakeLists.txt of each tool's directory in
#      cmake/tools.txt, the main.cpp files included) compiles to an
#      object for aarch64-linux-android24 against Android's C library
#      headers, where a function that API 24 lacks is undeclared;
#   2. every C library symbol those objects need is exported by Android's
#      libc for arm64 at API 24 or earlier.
#
#   bash cmake/check_android_api.sh
#
# Headers: the sysroot of the NDK in $ANDROID_NDK when that is set, else
# ../shared/android-sysroot beside this checkout (or beside the main
# checkout, from a linked git worktree). Compiler: clang++-16,
# with the libc++ 16 headers (Debian packages clang-16 libc++-16-dev); the
# flags are the NDK's defaults that change what the objects call
# (-D_FORTIFY_SOURCE=2 turns string and stdio calls into __*_chk ones,
# -fstack-protector-strong adds __stack_chk_fail), at -O2 -Wall -Wextra
# -Werror.
#
# Symbols: with the NDK, those of its API-24 stub libc.so; else those of
# libc.map.txt in the sysroot, where the version section (LIBC, LIBC_N = 24,
# LIBC_O = 26, ...) or an introduced= or introduced-arm64= note gives the
# level, and arch tags, LIBC_PRIVATE, LIBC_PLATFORM and the apex-only and
# llndk-only symbols rule a symbol out for an NDK program on arm64.
#
# Not checked here: symbols of the C++ runtime (libc++, libc++abi and the
# unwinder: _Z* names, __cxa_*, _Unwind_*, __gxx_personality_v0), which an
# NDK build links statically from the NDK and which does not depend on the
# API level; and compiler-runtime builtins (__aarch64_* outline atomics,
# the 128-bit integer and floating-point helpers such as __multi3 or
# __addtf3), which the NDK's compiler links from its own builtins library.
# Both are counted and named in the summary. Linking and running need the
# NDK and a device and are not done.
#
# Prints one summary line and exits 0 when both parts pass; prints each
# fault and exits 1 otherwise. Where a tool or the headers are missing it
# prints one "skipped: ..." line naming what is missing and exits 0.
set -euo pipefail
export LC_ALL=C

api=24
target=aarch64-linux-android$api
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

skip() {
    echo "check_android_api: skipped: $*"
    exit 0
}

if [[ -n ${ANDROID_NDK-} ]]; then
    sysroot=$ANDROID_NDK/toolchains/llvm/prebuilt/linux-x86_64/sysroot
    if [[ ! -d $sysroot/usr/include ]]; then
        echo "check_android_api: ANDROID_NDK=$ANDROID_NDK holds no $sysroot/usr/include (ANDROID_NDK must name the NDK's top directory)" >&2
        exit 1
    fi
    stub_libc=$sysroot/usr/lib/aarch64-linux-android/$api/libc.so
    [[ -f $stub_libc ]] || skip "the NDK has no API-$api libc.so for arm64 ($stub_libc)"
    symbol_source=$stub_libc
    offered_by="the NDK's API-$api libc.so"
else
    # ../shared/android-sysroot beside the checkout, or, in a linked git
    # worktree, beside the main checkout.
    sysroot=$(dirname "$root")/shared/android-sysroot
    if [[ ! -d $sysroot/usr/include ]] &&
        common=$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null); then
        sysroot=$(dirname "$(dirname "$common")")/shared/android-sysroot
    fi
    [[ -d $sysroot/usr/include ]] ||
        skip "no Android headers: ANDROID_NDK is not set and there is no ../shared/android-sysroot"
    symbol_source=$sysroot/libc.map.txt
    offered_by="Android's libc ($symbol_source)"
    [[ -f $symbol_source ]] || skip "no $symbol_source"
fi
compiler=$(command -v clang++-16) || skip "clang++-16 is not installed (Debian package clang-16)"
libcxx=/usr/lib/llvm-16/include/c++/v1
[[ -f $libcxx/vector ]] || skip "the libc++ 16 headers are not installed (Debian package libc++-16-dev)"
nm=$(command -v llvm-nm-16 || command -v llvm-nm || command -v nm) ||
    skip "no nm to list the objects' symbols (Debian package binutils)"

# The product sources are those the build's CMakeLists.txt files name, so
# that a source added to the build is checked too. A .cpp file in those
# directories that no list names would escape; say so rather than miss it.
directories=(common)
while read -r _ dir _; do
    directories+=("$dir")
done < <(grep '^[^#]' cmake/tools.txt)
sources=()
faults=0
for dir in "${directories[@]}"; do
    listed=$(sed 's/#.*//' "$dir/CMakeLists.txt" | grep -oE '[A-Za-z0-9_./-]+\.cpp' | sort -u)
    for name in $listed; do
        if [[ ! -f $dir/$name ]]; then
            echo "FAIL: $dir/CMakeLists.txt names $name, which does not exist"
            faults=$((faults + 1))
        fi
        sources+=("$dir/$name")
    done
    for file in "$dir"/*.cpp; do
        if ! grep -qxF "${file#"$dir"/}" <<<"$listed"; then
            echo "FAIL: $file is not named in $dir/CMakeLists.txt, so this check cannot tell whether the build compiles it"
            faults=$((faults + 1))
        fi
    done
done
[[ $faults -eq 0 ]] || exit 1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-android-api.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# The version the build passes to the banner, as project() gives it.
version=$(sed -n 's/^project(toolcrate VERSION \([^ )]*\).*/\1/p' CMakeLists.txt)
flags=(--target="$target" --sysroot="$sysroot" -nostdinc++ -isystem "$libcxx"
    -std=c++20 -O2 -Wall -Wextra -Werror
    -DANDROID -fPIE -fstack-protector-strong -D_FORTIFY_SOURCE=2
    -DTOOLCRATE_VERSION="\"$version\"")
for dir in "${directories[@]}"; do
    flags+=("-I$dir")
done
objects=()
for source in "${sources[@]}"; do
    object=$scratch/objects/$source.o
    mkdir -p "$(dirname "$object")"
    if ! "$compiler" "${flags[@]}" -c "$source" -o "$object"; then
        echo "FAIL: $source does not compile for $target (compiler output above)"
        faults=$((faults + 1))
        continue
    fi
    objects+=("$object")
done
[[ $faults -eq 0 ]] || exit 1

# What the objects need from outside themselves: "SYMBOL OBJECT" lines.
"$nm" --defined-only "${objects[@]}" 2>/dev/null | awk 'NF == 3 { print $3 }' | sort -u >"$scratch/defined"
for object in "${objects[@]}"; do
    user=${object#"$scratch/objects/"}
    "$nm" -u "$object" | awk -v o="${user%.o}" 'NF { print $NF, o }'
done | sort -k1,1 | join -v1 - "$scratch/defined" >"$scratch/needed"

# What libc offers: "SYMBOL LEVEL" lines, LEVEL the first API level at
# which an arm64 NDK program may use it, or "-REASON" when it may not.
if [[ $symbol_source == *.so ]]; then
    "$nm" -D --defined-only "$symbol_source" | awk -v api="$api" 'NF == 3 { sub(/@.*/, "", $3); print $3, api }'
else
    awk '
        # A version section opens: its level, from its name or its note.
        /^[A-Za-z0-9_]+ *\{/ {
            section = $1
            if (section == "LIBC") level = 0
            else if (section ~ /^LIBC_[0-9]+$/) level = substr(section, 6) + 0
            else if (section in letters) level = letters[section]
            else level = -1
            if (section == "LIBC_PRIVATE" || section == "LIBC_PLATFORM" || section == "LIBC_DEPRECATED")
                why = "-" section
            else if (level < 0)
                why = "-unknown section " section
            else
                why = ""
            n = split($0, words, /[ \t#]+/)
            for (i = 1; i <= n; ++i) {
                if (words[i] ~ /^introduced(-arm64)?=[0-9]+$/) {
                    v = substr(words[i], index(words[i], "=") + 1) + 0
                    if (v > level) level = v
                }
            }
            next
        }
        /^}/ { section = ""; next }
        section != "" && /^[ \t]+[A-Za-z_][A-Za-z0-9_]*;/ {
            name = $1
            sub(/;.*/, "", name)
            tags = ""
            if (index($0, "#")) tags = substr($0, index($0, "#") + 1)
            n = split(tags, words, /[ \t]+/)
            arches = ""; own = -1; generic = -1; only = ""
            for (i = 1; i <= n; ++i) {
                w = words[i]
                if (w == "arm" || w == "arm64" || w == "x86" || w == "x86_64" || w == "riscv64") arches = arches " " w " "
                else if (w ~ /^introduced-arm64=/) own = substr(w, 18) + 0
                else if (w ~ /^introduced=[0-9]+$/) generic = substr(w, 12) + 0
                else if (w ~ /^introduced=/) only = "-introduced at an unnamed level"
                else if (w == "apex" || w == "llndk" || w == "systemapi") only = "-" w " only"
            }
            if (arches != "" && index(arches, " arm64 ") == 0) { result = "-not on arm64" }
            else if (why != "") { result = why }
            else if (only != "") { result = only }
            else {
                result = level
                if (own >= 0) { if (own > result) result = own }
                else if (generic > result) result = generic
            }
            print name, result
        }
        BEGIN {
            letters["LIBC_N"] = 24; letters["LIBC_O"] = 26; letters["LIBC_P"] = 28
            letters["LIBC_Q"] = 29; letters["LIBC_R"] = 30; letters["LIBC_S"] = 31
            letters["LIBC_T"] = 33; letters["LIBC_U"] = 34; letters["LIBC_V"] = 35
        }
    ' "$symbol_source"
fi | awk '
    # One line per symbol: the lowest level at which any entry offers it,
    # else the reason of the first entry.
    {
        if ($2 ~ /^-/) { if (!($1 in best) && !($1 in why)) why[$1] = substr($0, index($0, " ") + 1) }
        else if (!($1 in best) || $2 + 0 < best[$1]) best[$1] = $2 + 0
    }
    END {
        for (s in best) print s, best[s]
        for (s in why) if (!(s in best)) print s, why[s]
    }
' >"$scratch/offered"

# Each needed symbol, the objects that need it, and what libc offers.
checked=0
runtime=()
builtins=()
while IFS=$'\t' read -r symbol users offered; do
    if [[ $offered =~ ^[0-9]+$ ]] && ((offered <= api)); then
        checked=$((checked + 1))
    elif [[ $symbol =~ ^(_Z|__cxa_|_Unwind_|__gxx_personality_v0$|__dso_handle$) ]]; then
        # Later libcs export an unwinder too (_Unwind_* from API 30); an
        # NDK program links the NDK's own.
        runtime+=("$symbol")
    elif [[ $symbol =~ ^__aarch64_|^__[a-z]*(ti|tf)[a-z]*[0-9]?$ ]]; then
        builtins+=("$symbol")
    elif [[ $offered =~ ^[0-9]+$ ]]; then
        echo "FAIL: $symbol (needed by $users) is exported only from API $offered"
        faults=$((faults + 1))
    elif [[ -n $offered ]]; then
        echo "FAIL: $symbol (needed by $users) is not offered to arm64 NDK programs: ${offered#-}"
        faults=$((faults + 1))
    else
        echo "FAIL: $symbol (needed by $users) is not exported by $offered_by"
        faults=$((faults + 1))
    fi
done < <(awk '
    NR == FNR { offered[$1] = substr($0, index($0, " ") + 1); next }
    { if ($1 in users) users[$1] = users[$1] ", " $2; else users[$1] = $2 }
    END { for (s in users) printf "%s\t%s\t%s\n", s, users[s], (s in offered) ? offered[s] : "" }
' "$scratch/offered" "$scratch/needed" | sort)
[[ $faults -eq 0 ]] || exit 1

echo "check_android_api: ${#objects[@]} sources compile for $target against $sysroot;" \
    "the $checked C library symbols they need are exported at API $api or earlier" \
    "(not checked: ${#runtime[@]} C++ runtime symbols, ${#builtins[@]} compiler builtins${builtins:+: ${builtins[*]}})"
