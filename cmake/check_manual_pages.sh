#!/bin/sh
# Lints the manual pages: mandoc -Tlint must find nothing at warning level
# or above, and where man-db is installed, `man --warnings -l` must render
# each page without a word on standard error.
#
#   check_manual_pages.sh PAGE...
#
# Exits 77 (a skip, for CTest) when mandoc is not installed.
set -u

if ! command -v mandoc >/dev/null 2>&1; then
    echo "mandoc is not installed (Debian package mandoc); manual pages not linted"
    exit 77
fi

failures=0
for page in "$@"; do
    name=$(basename "$page")
    report=$(mandoc -Tlint -W warning "$page" 2>&1)
    status=$?
    if [ "$status" -ne 0 ] || [ -n "$report" ]; then
        echo "FAIL: mandoc -Tlint $name (status $status):"
        printf '%s\n' "$report"
        failures=$((failures + 1))
    fi
    # man-db renders with groff, which sees other faults than mandoc.
    if command -v man >/dev/null 2>&1 && command -v groff >/dev/null 2>&1; then
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
echo "lint clean: $*"
