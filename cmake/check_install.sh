#!/bin/sh
# Checks that `cmake --install --strip`, the install the README gives,
# puts the programs, stripped, and their manual pages where the install
# directories say, under DESTDIR and nowhere else.
#
#   check_install.sh CMAKE STRIP BUILD_DIR PREFIX BINDIR MANDIR PROGRAM... -- MANUAL_PAGE...
#
# STRIP is the strip program of the build (CMAKE_STRIP); PREFIX is the
# install prefix; BINDIR and MANDIR are the absolute install directories;
# PROGRAM the built executables; MANUAL_PAGE the pages in the source tree.
set -u

cmake=$1
strip=$2
build_dir=$3
prefix=$4
bindir=$5
mandir=$6
shift 6

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

destdir=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-install-XXXXXX") || exit 1
trap 'rm -rf "$destdir"' EXIT

if ! DESTDIR="$destdir/root" "$cmake" --install "$build_dir" --strip; then
    echo "FAIL: cmake --install --strip failed"
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
        installed="$destdir/root$bindir/$name"
        if [ ! -x "$installed" ]; then
            fail "$name: not installed as an executable at $bindir/$name"
        elif ! "$strip" -o "$destdir/$name.stripped" "$item"; then
            fail "$name: $strip cannot strip the built program"
        elif ! cmp -s "$destdir/$name.stripped" "$installed"; then
            fail "$name: the installed program is not the built one, stripped"
        fi
    else
        installed="$destdir/root$mandir/man1/$name"
        if [ ! -f "$installed" ]; then
            fail "$name: manual page not installed at $mandir/man1/$name"
        elif ! cmp -s "$item" "$installed"; then
            fail "$name: the installed manual page differs from the source"
        fi
    fi
done

stray=$(find "$destdir/root" -type f ! -path "$destdir/root$prefix/*")
[ -z "$stray" ] || fail "files installed outside $prefix: $stray"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "installed under DESTDIR: $(cd "$destdir/root" && find . -type f | sort | tr '\n' ' ')"
