#!/bin/sh
# Checks that `cmake --install` puts the programs and their manual pages
# where the install directories say, under DESTDIR and nowhere else.
#
#   check_install.sh CMAKE BUILD_DIR PREFIX BINDIR MANDIR PROGRAM... -- MANUAL_PAGE...
#
# PREFIX is the install prefix; BINDIR and MANDIR are the absolute install
# directories; PROGRAM the built executables; MANUAL_PAGE the pages in the
# source tree.
set -u

cmake=$1
build_dir=$2
prefix=$3
bindir=$4
mandir=$5
shift 5

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

destdir=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-install-XXXXXX") || exit 1
trap 'rm -rf "$destdir"' EXIT

if ! DESTDIR="$destdir" "$cmake" --install "$build_dir"; then
    echo "FAIL: cmake --install failed"
    exit 1
fi

programs_done=0
for item in "$@"; do
    if [ "$item" = "--" ]; then
        programs_done=1
        continue
    fi
    name=$(basename "$item")
    if [ "$programs_done" -eq 0 ]; then
        installed="$destdir$bindir/$name"
        if [ ! -x "$installed" ]; then
            fail "$name: not installed as an executable at $bindir/$name"
        elif ! cmp -s "$item" "$installed"; then
            fail "$name: the installed program differs from the built one"
        fi
    else
        installed="$destdir$mandir/man1/$name"
        if [ ! -f "$installed" ]; then
            fail "$name: manual page not installed at $mandir/man1/$name"
        elif ! cmp -s "$item" "$installed"; then
            fail "$name: the installed manual page differs from the source"
        fi
    fi
done

stray=$(find "$destdir" -type f ! -path "$destdir$prefix/*")
[ -z "$stray" ] || fail "files installed outside $prefix: $stray"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "installed under DESTDIR: $(cd "$destdir" && find . -type f | sort | tr '\n' ' ')"
