#!/bin/sh
# Checks that each program is a static executable for its machine that
# runs on its own, and, as the build links it, a position-independent one.
#
#   check_static.sh READELF FILE EMULATOR KIND MACHINE PROGRAM...
#
# READELF and FILE are the paths of readelf and file(1), or empty where
# missing. EMULATOR is the command that runs target programs, its words
# separated by ';', or empty for a native build. KIND is how the build
# linked the programs: static-pie, static-relro (Android's: at a fixed
# address, as bionic's static start-up relocates nothing, with RELRO) or
# static. MACHINE is the machine readelf must name (AArch64, X86-64), or
# empty where the build does not know it.
#
# A program passes when its ELF program headers have no PT_INTERP and its
# dynamic section (if any) no DT_NEEDED entry, when file(1) calls it
# statically linked, and when it shows its usage screen (status 1) started
# from an empty directory with an empty environment. As root, it
# must also run chrooted into a directory that holds nothing but itself
# (and the emulator, for a cross build), where no loader or shared library
# could be found. A static-pie program
# must also be of ELF type DYN, so that it loads at a random address, with
# its relocations read-only after start-up (a GNU_RELRO segment and
# BIND_NOW). A static-relro program must be of type EXEC, which bionic
# starts, with a GNU_RELRO segment, which its start-up makes read-only; it
# has no dynamic section, and so no BIND_NOW to look for.
#
# Exits 77 (a skip, for CTest) after running every other check when readelf
# or file(1) is missing, naming the package that brings it, when the run
# in an empty root cannot be made here (not root, no chroot(8), an emulator
# that is not static, or a chroot refused), or when KIND is static, so that
# a check is never dropped without a word.
set -u

readelf=$1
file_command=$2
emulator=$3
kind=$4
machine=$5
shift 5

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

missing=""
not_run=""
[ -n "$readelf" ] || missing="$missing readelf (Debian package binutils),"
[ -n "$file_command" ] || missing="$missing file(1) (Debian package file),"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/toolcrate-static-XXXXXX") || exit 1
trap 'rm -rf "$scratch"' EXIT

for program in "$@"; do
    name=$(basename "$program")
    if [ ! -f "$program" ]; then
        fail "$name: $program does not exist"
        continue
    fi

    if [ -n "$readelf" ]; then
        if ! headers=$("$readelf" -lW "$program" 2>&1); then
            fail "$name: readelf cannot read the program headers: $headers"
        elif printf '%s\n' "$headers" | grep -q 'INTERP'; then
            fail "$name: has a PT_INTERP program header (needs a dynamic loader)"
        fi
        dynamic=$("$readelf" -dW "$program" 2>&1)
        if printf '%s\n' "$dynamic" | grep -q '(NEEDED)'; then
            fail "$name: needs shared libraries: $(printf '%s\n' "$dynamic" | grep '(NEEDED)' | tr -s ' ')"
        fi
        elf_header=$("$readelf" -hW "$program" 2>&1)
        if [ -n "$machine" ]; then
            case $(printf '%s\n' "$elf_header" | sed -n 's/^ *Machine: *//p') in
                *"$machine") ;;
                *) fail "$name: not built for $machine: $(printf '%s\n' "$elf_header" | grep 'Machine:' | tr -s ' ')" ;;
            esac
        fi
        type=$(printf '%s\n' "$elf_header" | sed -n 's/^ *Type: *//p')
        if [ "$kind" = static-pie ]; then
            case $type in
                DYN*) ;;
                *) fail "$name: ELF type is ${type:-unknown}, not DYN: not position-independent" ;;
            esac
            printf '%s\n' "$dynamic" | grep -Eq '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).* NOW' ||
                fail "$name: not BIND_NOW (linked without -z now)"
        elif [ "$kind" = static-relro ]; then
            case $type in
                EXEC*) ;;
                *) fail "$name: ELF type is ${type:-unknown}, not EXEC: a static PIE, which bionic's static start-up cannot relocate" ;;
            esac
        fi
        if [ "$kind" = static-pie ] || [ "$kind" = static-relro ]; then
            printf '%s\n' "$headers" | grep -q 'GNU_RELRO' ||
                fail "$name: no GNU_RELRO program header (linked without -z relro)"
        fi
    fi

    if [ -n "$file_command" ]; then
        description=$("$file_command" -b "$program")
        case $description in
            *"statically linked"* | *"static-pie linked"*) ;;
            *) fail "$name: file(1) does not call it static: $description" ;;
        esac
    fi

    # Started with no arguments, each tool prints its banner, whose first
    # line begins with its own name, and exits with status 1.
    empty="$scratch/empty-$name"
    mkdir "$empty" || exit 1
    if [ -n "$emulator" ]; then
        # shellcheck disable=SC2086 # the emulator's words, split at ';'
        output=$(cd "$empty" && IFS=';' && env -i $emulator "$program")
    else
        output=$(cd "$empty" && env -i "$program")
    fi
    status=$?
    case $output in
        "$name - "*) [ "$status" -eq 1 ] || fail "$name: exit status $status in an empty environment, not 1" ;;
        *) fail "$name: no banner in an empty environment (status $status): $output" ;;
    esac

    # An emulated program goes into the empty root with the emulator, when
    # that is a static program itself (qemu-aarch64-static is), which then
    # needs none of its options: they say where a loader would be found.
    chroot_command=$(command -v chroot)
    emulator_program=${emulator%%;*}
    if [ -n "$emulator" ] && { [ -z "$readelf" ] || "$readelf" -lW "$emulator_program" 2>&1 | grep -q INTERP; }; then
        not_run="$not_run $name (the emulator is not a static program),"
    elif [ "$(id -u)" -ne 0 ] || [ -z "$chroot_command" ]; then
        not_run="$not_run $name,"
    else
        jail="$scratch/jail-$name"
        mkdir "$jail" && cp "$program" "$jail/$name" || exit 1
        if [ -n "$emulator" ]; then
            cp "$emulator_program" "$jail/emulator" || exit 1
            output=$(env -i "$chroot_command" "$jail" /emulator "/$name" 2>&1)
        else
            output=$(env -i "$chroot_command" "$jail" "/$name" 2>&1)
        fi
        status=$?
        case $status in
            1) case $output in
                   "$name - "*) ;;
                   *) fail "$name: no banner when run alone: $output" ;;
               esac ;;
            125) not_run="$not_run $name (chroot not permitted here)," ;;
            *) fail "$name: does not run alone in an empty root (status $status): $output" ;;
        esac
    fi
done

if [ "$failures" -ne 0 ]; then
    exit 1
fi
if [ -n "$missing" ]; then
    echo "not installed:${missing%,}; the checks that need it were not run"
fi
if [ -n "$not_run" ]; then
    echo "not run in an empty root (needs root, chroot(8) and, for an emulated build, a static emulator):${not_run%,}"
fi
if [ -n "$missing" ] || [ -n "$not_run" ]; then
    echo "the other checks passed"
    exit 77
fi
if [ "$kind" = static ]; then
    echo "linked -static, not as a static PIE (TOOLCRATE_HARDEN is off, or the toolchain cannot link -static-pie: see the configure output); position independence was not checked, the other checks passed"
    exit 77
fi
echo "static: $*"
