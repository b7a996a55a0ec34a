#!/bin/sh
# Lints the manual pages: mandoc -Tlint must find nothing at warning level
# or above, and `man --warnings -l` (man-db, which renders with groff and
# sees other faults than mandoc) must render each page without a word on
# standard error.
#
#   check_manual_pages.sh PAGE...
#
# Exits 77 (a skip, for CTest) when either half cannot run, after running
# the other and naming the packages that are missing.
set -u

have_mandoc=1
have_man=1
command -v mandoc >/dev/null 2>&1 || have_mandoc=0
{ command -v man && command -v groff; } >/dev/null 2>&1 || have_man=0

failures=0
for page in "$@"; do
    name=$(basename "$page")
    if [ "$have_mandoc" -eq 1 ]; then
        report=$(mandoc -Tlint -W warning "$page" 2>&1)
        status=$?
        if [ "$status" -ne 0 ] || [ -n "$report" ]; then
            echo "FAIL: mandoc -Tlint $name (status $status):"
            printf '%s\n' "$report"
            failures=$((failures + 1))
        fi
    fi
    if [ "$have_man" -eq 1 ]; then
        report=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        status=$?
        if [ "$status" -ne 0 ] || [ -n "$report" ]; then
            echo "FAIL: man --warnings -l $name (status $status):"
            printf '%s\n' "$report"
            failures=$((failures + 1))
        fi
    fi
done

if [ "$failures" -ne 0 ]; then
    exit 1
fi
if [ "$have_mandoc" -eq 0 ]; then
    echo "mandoc is not installed (Debian package mandoc); mandoc -Tlint was not run"
fi
if [ "$have_man" -eq 0 ]; then
    echo "man or groff is not installed (Debian packages man-db, groff-base); man --warnings was not run"
fi
if [ "$have_mandoc" -eq 0 ] || [ "$have_man" -eq 0 ]; then
    exit 77
fi
echo "lint clean: $*"
