#!/usr/bin/env bash
# Packs the time zones of a zoneinfo tree into one file in the format of
# Android's tzdata, where bionic looks every zone up (TZ names a zone in
# it, never a file):
#
#   bash tests/pack_tzdata.sh ZONEINFO OUTPUT
#
# ZONEINFO is a tree of TZif files such as /usr/share/zoneinfo; OUTPUT is
# written whole or not at all. The format: a 24-byte header ("tzdata" and
# the version in 12 bytes, then the big-endian offsets of the index, the
# data and the end), one 52-byte index entry per zone, sorted by name (the
# name in 40 bytes, then the big-endian start of its TZif file within the
# data, its length, and 0), then the TZif files one after another.
set -euo pipefail
export LC_ALL=C

zoneinfo=$1
output=$(realpath -m -- "$2")
cd "$zoneinfo"

version=$(sed -n '1s/^# version //p' tzdata.zi 2>/dev/null || true)
version=${version:-unknown}

# Every TZif file, links followed, without the posix/ and right/ copies
# and the machine's own localtime.
names=()
while IFS= read -r name; do
    name=${name#./}
    magic=""
    if [[ $name != localtime && ${#name} -lt 40 ]] && read -r -N 4 magic <"$name" && [[ $magic == TZif ]]; then
        names+=("$name")
    fi
done < <(find -L . \( -path ./posix -o -path ./right \) -prune -o -type f -print | sort)
[[ ${#names[@]} -gt 0 ]] || { echo "pack_tzdata: no TZif files under $zoneinfo" >&2; exit 1; }
mapfile -t lengths < <(stat -L -c %s -- "${names[@]}")

# Appends four bytes, big-endian, as printf escapes, to the variable $1.
be32() {
    local -n into=$1
    local bytes
    printf -v bytes '\\%03o\\%03o\\%03o\\%03o' $(($2 >> 24 & 255)) $(($2 >> 16 & 255)) $(($2 >> 8 & 255)) $(($2 & 255))
    into+=$bytes
}

printf -v nul40 '%040d' 0
nul40=${nul40//0/\\000}
header=""
index=""
start=0
for i in "${!names[@]}"; do
    name=${names[i]}
    index+=$name${nul40:0:$((4 * (40 - ${#name})))}
    be32 index $start
    be32 index "${lengths[i]}"
    be32 index 0
    start=$((start + lengths[i]))
done
index_offset=24
data_offset=$((index_offset + 52 * ${#names[@]}))
be32 header $index_offset
be32 header $data_offset
be32 header $((data_offset + start))

partial=$output.partial
{
    printf 'tzdata%-5.5s\0' "$version" | tr ' ' '\0'
    printf "$header"
    printf "$index"
    cat -- "${names[@]}"
} >"$partial"
mv -f -- "$partial" "$output"
echo "pack_tzdata: ${#names[@]} zones of $zoneinfo (version $version) in $output"
