#!/usr/bin/env python3
"""Stress runs of kerfsum and tagwhit at the sizes users run them at.

usage: stress.py TOOLS_DIR PEAK_RSS WORK_DIR {verify,create,tag}

TOOLS_DIR holds the built kerfsum and tagwhit, PEAK_RSS is the built
tests/stress/peak_rss launcher, WORK_DIR a directory that this run creates
and fills. Every run prints its figures; it exits 1, after one "FAIL:" line
per broken expectation, when a count, a byte or a limit is not what it must
be. Wall time is printed for information and never checked.

Everything that is generated comes from a fixed seed, so a failure repeats.
The expectations are computed here independently of the tools: CRCs with
zlib, titles from file names with a separate implementation of the rules in
man/tagwhit.1.
"""

import calendar
import hashlib
import os
import random
import re
import subprocess
import sys
import time
import zlib

KIB = 1024
VERIFY_PEAK_LIMIT_KIB = 4 * KIB

# The tools get a fixed environment so that error texts and times are stable.
TOOL_ENV = {"PATH": "/usr/bin:/bin", "TZ": "UTC", "LC_ALL": "C"}

NO_SUCH_FILE = b"No such file or directory"


class Checks:
    """Collects the broken expectations of one run."""

    def __init__(self, run):
        self.run = run
        self.failures = []

    def expect(self, condition, message):
        if not condition:
            self.failures.append(message)
        return condition

    def report(self):
        for message in self.failures:
            print(f"{self.run}: FAIL: {message}")
        return 1 if self.failures else 0


def figure(run, text):
    print(f"{run}: {text}", flush=True)


def run_tool(peak_rss, argv, cwd, stdout_path):
    """Runs one tool under the launcher; returns (status, peak KiB, seconds,
    standard error bytes). The peak is None when the launcher wrote none."""
    report = os.path.join(cwd, ".peak_rss")
    started = time.monotonic()
    with open(stdout_path, "wb") as out:
        done = subprocess.run([peak_rss, report] + argv, cwd=cwd, env=TOOL_ENV,
                              stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.PIPE, check=False)
    seconds = time.monotonic() - started
    peak = None
    if os.path.exists(report):
        with open(report, encoding="ascii") as text:
            peak = int(text.read().split()[0])
        os.unlink(report)
    return done.returncode, peak, seconds, done.stderr


def expect_clean_run(checks, status, expected_status, stderr):
    checks.expect(status == expected_status,
                  f"exit status {status}, expected {expected_status}")
    checks.expect(stderr == b"",
                  f"standard error not empty: {stderr[:200]!r}")


def first_difference(actual_path, expected_path):
    """None when the two files are equal, else a description of the first
    line that differs."""
    with open(actual_path, "rb") as actual, open(expected_path, "rb") as expected:
        number = 0
        while True:
            number += 1
            got = actual.readline()
            want = expected.readline()
            if got != want:
                return f"line {number}: got {got[:160]!r}, expected {want[:160]!r}"
            if not got:
                return None


def kib(peak):
    return "not measured" if peak is None else f"{peak:,} KiB"


def sfv_field(name):
    """The name as kerfsum prints it before each result: "%-22s "."""
    return name.ljust(22) + b" "


def write_file(path, data, mtime=None):
    with open(path, "wb") as out:
        out.write(data)
    if mtime is not None:
        os.utime(path, (mtime, mtime))


# ---------------------------------------------------------------- verify


VERIFY_LINES = 1_000_000
VERIFY_FILES = 3_000

# One cycle of the listing. Over the whole listing: 60 % good entries, 10 %
# damaged ones, 10 % missing files, and the rest lines that check nothing.
VERIFY_CYCLE = ("ok", "ok", "comment", "ok", "bad", "ok", "blank", "ok",
                "missing", "ok", "ok", "word", "ok", "bad", "ok", "comment",
                "ok", "ok", "missing", "ok")

# Blank space between name and CRC that brings a line close to the longest
# line the reader takes (30,098 bytes), so the line buffer grows to its end.
LONG_GAP = 29_900


def verify_names(rng):
    """File names as collections have them: spaces, directories, UTF-8 and
    names both shorter and longer than the 22-column field."""
    words = ["Intro", "Song", "Café del Mar", "Ñandú", "Outro", "Interlude",
             "A rather long track name", "x", "Live at the Hall"]
    names = []
    for index in range(VERIFY_FILES):
        word = words[index % len(words)]
        shape = index % 4
        if shape == 0:
            name = f"disc{index % 7}/{index:05d} - {word}.mp3"
        elif shape == 1:
            name = f"{index:05d}_{word.replace(' ', '_')}.flac"
        elif shape == 2:
            name = f"f{index}"
        else:
            name = f"disc{index % 7}/{word} ({index}).ogg"
        names.append(name.encode())
    rng.shuffle(names)
    return names


def crc_text(crc, variant):
    """The CRC field in the spellings listings from various tools use."""
    forms = (f"{crc:08X}", f"{crc:08x}", f"0x{crc:08X}", f"{crc:X}",
             f"{(0x5A << 32) | crc:X}")
    return forms[variant % len(forms)].encode()


def ok_line(name, crc, number):
    """A good entry; the layout varies with the entry's number."""
    crc_field = crc_text(crc, number)
    shape = number % 4
    if number % 50_000 == 17:
        return name + b" " * LONG_GAP + crc_field + b"\r\n"
    if shape == 0:
        return name + b" " + crc_field + b"\r\n"
    if shape == 1:
        return name + b"\t" + crc_field + b"\n"
    if shape == 2:
        return b"  " + name + b"   " + crc_field + b"  \r\n"
    return name + b" \t " + crc_field + b"\n"


def build_verify_case(work, rng):
    """Writes the files, the listing and the expected output; returns the
    expected counts."""
    names = verify_names(rng)
    crcs = []
    for index, name in enumerate(names):
        path = os.path.join(work, os.fsdecode(name))
        os.makedirs(os.path.dirname(path) or work, exist_ok=True)
        data = rng.randbytes(rng.randrange(0, 2048)) + index.to_bytes(4, "little")
        write_file(path, data)
        crcs.append(zlib.crc32(data))

    counts = {"ok": 0, "bad": 0, "missing": 0, "lines": 0}
    listing = []
    expected = [b"Verifying SFV file listing.sfv\n"]
    next_file = 0
    with open(os.path.join(work, "listing.sfv"), "wb") as listing_file, \
            open(os.path.join(work, "expected.out"), "wb") as expected_file:
        for number in range(VERIFY_LINES):
            if len(listing) >= 10_000:
                listing_file.write(b"".join(listing))
                expected_file.write(b"".join(expected))
                listing.clear()
                expected.clear()
            kind = VERIFY_CYCLE[number % len(VERIFY_CYCLE)]
            if kind in ("ok", "bad"):
                name, crc = names[next_file], crcs[next_file]
                next_file = (next_file + 1) % len(names)
            if kind == "ok":
                listing.append(ok_line(name, crc, number))
                expected.append(sfv_field(name) + b"ok\n")
            elif kind == "bad":
                wrong = crc ^ (1 << (number % 32))
                listing.append(name + b" " + crc_text(wrong, number) + b"\r\n")
                expected.append(sfv_field(name) + b"*** BAD *** (%08X, should be %08X)\n"
                                % (crc, wrong))
            elif kind == "missing":
                name = b"gone/%07d.mp3" % number
                listing.append(name + b" " + crc_text(number, number) + b"\r\n")
                expected.append(sfv_field(name) + NO_SUCH_FILE + b"\n")
            elif kind == "comment":
                listing.append(b"; %d files, ripped in one go\r\n" % number
                               if number % 3 else b"   ;indented remark 1234ABCD\n")
            elif kind == "blank":
                listing.append(b"\r\n" if number % 2 else b" \t \n")
            else:
                listing.append(b"lonely_word_%d\r\n" % number)
            counts[kind] = counts.get(kind, 0) + 1
            counts["lines"] += 1
        # The last line of a hand-made listing often has no line end.
        listing[-1] = listing[-1].rstrip(b"\r\n")
        listing_file.write(b"".join(listing))
        failures = counts["bad"] + counts["missing"]
        checked = counts["ok"] + counts["bad"]
        expected.append(b"%d file%s checked (%d ok, %d bad)\n"
                        % (checked, b"" if checked == 1 else b"s",
                           counts["ok"], counts["bad"]))
        expected.append(b"%d error%s encountered\n"
                        % (counts["missing"], b"" if counts["missing"] == 1 else b"s"))
        expected_file.write(b"".join(expected))
    counts["status"] = min(failures, 255)
    return counts


def stress_verify(tools, peak_rss, work):
    run = "verify"
    checks = Checks(run)
    rng = random.Random(7001)
    counts = build_verify_case(work, rng)
    listing_bytes = os.path.getsize(os.path.join(work, "listing.sfv"))
    figure(run, f"listing of {counts['lines']:,} lines, {listing_bytes / 2**20:.1f} MiB, "
                f"naming {VERIFY_FILES:,} files: {counts['ok']:,} good, "
                f"{counts['bad']:,} damaged, {counts['missing']:,} missing")

    out = os.path.join(work, "actual.out")
    status, peak, seconds, stderr = run_tool(
        peak_rss, [os.path.join(tools, "kerfsum"), "v", "listing.sfv"], work, out)
    figure(run, f"exit status {status}, expected {counts['status']}")
    expect_clean_run(checks, status, counts["status"], stderr)
    difference = first_difference(out, os.path.join(work, "expected.out"))
    checks.expect(difference is None, f"output differs at {difference}")
    if checks.expect(peak is not None, "no peak resident memory measured"):
        figure(run, f"peak resident memory {peak:,} KiB "
                    f"(limit {VERIFY_PEAK_LIMIT_KIB:,} KiB)")
        checks.expect(peak < VERIFY_PEAK_LIMIT_KIB,
                      f"peak resident memory {peak:,} KiB is not below "
                      f"{VERIFY_PEAK_LIMIT_KIB:,} KiB")
    figure(run, f"wall time {seconds:.1f} s (information only)")
    return checks.report()


# ---------------------------------------------------------------- create


CREATE_FILES = 10_000
# Sizes around the reader's 256 KiB buffer, mixed in among the small files.
CREATE_EDGE_SIZES = (0, 1, 256 * KIB - 1, 256 * KIB, 256 * KIB + 1, 1024 * KIB + 3)
CREATE_MTIME_BASE = 1_767_225_600  # 2026-01-01 00:00:00 UTC


def create_names():
    names = []
    for index in range(CREATE_FILES):
        shape = index % 5
        if shape == 0:
            name = f"{index:05d}.dat"
        elif shape == 1:
            name = f"sub/{index:05d} with spaces.dat"
        elif shape == 2:
            name = f"a_file_name_well_beyond_the_column_{index}.bin"
        elif shape == 3:
            name = f"Señal {index}.wav"
        else:
            name = f"sub/deeper/{index}"
        names.append(name.encode())
    return names


def stress_create(tools, peak_rss, work):
    run = "create"
    checks = Checks(run)
    rng = random.Random(7002)
    names = create_names()
    os.makedirs(os.path.join(work, "sub", "deeper"))
    comments = []
    sums = []
    console = [b"Creating SFV file collection.sfv\n"]
    total_bytes = 0
    for index, name in enumerate(names):
        if index % 1000 < len(CREATE_EDGE_SIZES):
            size = CREATE_EDGE_SIZES[index % 1000]
        else:
            size = rng.randrange(1, 8 * KIB)
        data = rng.randbytes(size)
        mtime = CREATE_MTIME_BASE + index * 617
        write_file(os.path.join(work, os.fsdecode(name)), data, mtime)
        total_bytes += size
        stamp = time.strftime("%H:%M.%S %Y-%m-%d", time.gmtime(mtime)).encode()
        comments.append(b";%13d  %s %s\r\n" % (size, stamp, name))
        crc = b"%08X" % zlib.crc32(data)
        sums.append(name + b" " + crc + b"\r\n")
        console.append(sfv_field(name) + crc + b"\n")
    console.append(b"%d files processed\n0 errors encountered\n" % CREATE_FILES)
    figure(run, f"{CREATE_FILES:,} files, {total_bytes / 2**20:.1f} MiB in all")

    out = os.path.join(work, "create.out")
    started = int(time.time())
    argv = ([os.path.join(tools, "kerfsum"), "c", "collection.sfv"]
            + [os.fsdecode(n) for n in names])
    status, peak, seconds, stderr = run_tool(peak_rss, argv, work, out)
    finished = int(time.time())
    figure(run, f"exit status {status}, expected 0")
    expect_clean_run(checks, status, 0, stderr)
    with open(out, "rb") as text:
        got = text.read()
    expected_console = b"".join(console)
    if got != expected_console:
        with open(out + ".expected", "wb") as text:
            text.write(expected_console)
        checks.expect(False, "console output differs at "
                      + first_difference(out, out + ".expected"))

    listing_path = os.path.join(work, "collection.sfv")
    with open(listing_path, "rb") as text:
        listing = text.read()
    lines = listing.split(b"\r\n")
    checks.expect(lines[-1] == b"", "listing does not end with CR LF")
    lines = lines[:-1]
    header = re.fullmatch(rb"; Generated by ORBIT-CK32 v1\.1a \(kerfsum\) on "
                          rb"(\d{4}-\d\d-\d\d at \d\d:\d\d\.\d\d)", lines[0] if lines else b"")
    if checks.expect(header is not None, f"header line {lines[:1]!r}"):
        stamp = time.strptime(header.group(1).decode(), "%Y-%m-%d at %H:%M.%S")
        created = calendar.timegm(stamp)
        checks.expect(started <= created <= finished,
                      f"header time {header.group(1).decode()} is not the time of the run")
    comment_lines = sum(1 for line in lines[2:] if line.startswith(b";"))
    figure(run, f"listing of {len(lines):,} lines, {len(listing):,} bytes: header, "
                f"separator, {comment_lines:,} file comments, "
                f"{len(lines) - 2 - comment_lines:,} checksum lines")
    expected_rest = [b";"] + [c[:-2] for c in comments] + [s[:-2] for s in sums]
    checks.expect(len(lines) == 1 + len(expected_rest),
                  f"listing has {len(lines):,} lines, expected {1 + len(expected_rest):,}")
    for number, (got_line, want_line) in enumerate(zip(lines[1:], expected_rest), start=2):
        if got_line != want_line:
            checks.expect(False, f"listing line {number}: got {got_line[:160]!r}, "
                                 f"expected {want_line[:160]!r}")
            break
    checks.expect(b"\n" not in listing.replace(b"\r\n", b""),
                  "listing holds a line feed without a carriage return")
    figure(run, f"peak resident memory {kib(peak)} (no limit)")
    figure(run, f"wall time {seconds:.1f} s (information only)")

    # The listing just written must verify cleanly with the same tool.
    out = os.path.join(work, "verify.out")
    status, peak, seconds, stderr = run_tool(
        peak_rss, [os.path.join(tools, "kerfsum"), "v", "collection.sfv"], work, out)
    expect_clean_run(checks, status, 0, stderr)
    expected_verify = (b"Verifying SFV file collection.sfv\n"
                       + b"".join(sfv_field(n) + b"ok\n" for n in names)
                       + b"%d files checked (%d ok, 0 bad)\n0 errors encountered\n"
                       % (CREATE_FILES, CREATE_FILES))
    with open(out, "rb") as text:
        checks.expect(text.read() == expected_verify,
                      "verifying the new listing does not give one ok per file")
    figure(run, f"verifying the new listing: exit status {status}, "
                f"peak resident memory {kib(peak)}")
    return checks.report()


# ---------------------------------------------------------------- tag


TAG_FILES = 10_000
TAG_SIZE = 128
ARTIST = "The Stress Test Ensemble & Orchestra"  # longer than its field
ALBUM = "Ten Thousand Tracks"


def title_from_name(name):
    """The title tagwhit -tf derives from a file name, from man/tagwhit.1:
    after the last "-", skip blanks and underscores, a track number, blanks
    and underscores again; keep 30 bytes, cut at the first ".", underscores
    to spaces, drop trailing spaces. Returns the 30-byte field."""
    start = name.rfind(b"-") + 1
    rest = name[start:].lstrip(b" _")
    digits = len(rest) - len(rest.lstrip(b"0123456789"))
    rest = rest[digits:].lstrip(b" _")[:30]
    rest = rest.split(b".", 1)[0].replace(b"_", b" ").rstrip(b" ")
    return rest.ljust(30, b"\0")


def text_field(text, width):
    return text.encode()[:width].ljust(width, b"\0")


def tag_names():
    names = []
    for index in range(TAG_FILES):
        shape = index % 6
        if shape == 0:
            name = f"Artist {index % 13} - {index:05d} - Song_Number_{index}.mp3"
        elif shape == 1:
            name = f"{index:05d}_My_Song_{index}_.mp3"
        elif shape == 2:
            name = f"Band - Mr. Jones {index}.mp3"
        elif shape == 3:
            name = f"Band - A title much longer than thirty bytes, no {index}.mp3"
        elif shape == 4:
            name = f"my-music/Canción {index}.mp3"
        else:
            name = f"Grupo - 07 Título_{index}_ .mp3"
        names.append(name.encode())
    return names


def mpeg_audio(rng, size, header=b"\xff\xfb\x90\x00", frame=417):
    """size bytes of MPEG audio frames with random contents: by default
    MPEG-1 Layer III at 128 kbit/s and 44.1 kHz, 417 bytes a frame."""
    frames = b"".join(header + rng.randbytes(frame - len(header)) for _ in range(size // frame + 1))
    return frames[:size]


def tag_content(rng, index):
    """The bytes of file number index: audio, and for some files an
    existing block, including the smallest files that can hold one."""
    shape = index % 8
    if shape == 0 and index % 1000 == 0:
        return b"TAG" + rng.randbytes(125)           # 128 bytes, tagged
    if shape == 1 and index % 1000 == 1:
        # 128 bytes, not tagged: four 32-byte frames of MPEG-1 Layer I at
        # 32 kbit/s and 48 kHz.
        return mpeg_audio(rng, 128, b"\xff\xff\x14\x00", 32)
    audio = mpeg_audio(rng, rng.randrange(1 * KIB, 6 * KIB))
    if shape in (2, 3, 4):
        return audio + b"TAG" + rng.randbytes(125)   # tagged
    if shape == 5:
        return audio + b"TA_" + rng.randbytes(125)   # almost tagged
    return audio


def stress_tag(tools, peak_rss, work):
    run = "tag"
    checks = Checks(run)
    rng = random.Random(7003)
    names = tag_names()
    os.makedirs(os.path.join(work, "my-music"))
    artist = text_field(ARTIST, 30)
    album = text_field(ALBUM, 30)
    expected = []
    console = []
    tagged = 0
    for index, name in enumerate(names):
        data = tag_content(rng, index)
        write_file(os.path.join(work, os.fsdecode(name)), data)
        if data[-TAG_SIZE:-TAG_SIZE + 3] == b"TAG":
            tagged += 1
            audio, block = data[:-TAG_SIZE], bytearray(data[-TAG_SIZE:])
            console.append(name + b": ok\n")
        else:
            audio, block = data, bytearray(b"TAG" + bytes(124) + b"\xff")
            console.append(name + b": (creating tag) ok\n")
        block[3:33] = title_from_name(name)
        block[33:63] = artist
        block[63:93] = album
        block[126] = (index + 1) % 256
        expected.append((len(audio), hashlib.sha256(audio).digest(), bytes(block)))
    figure(run, f"{TAG_FILES:,} files, {tagged:,} with a tag block")

    out = os.path.join(work, "tag.out")
    argv = ([os.path.join(tools, "tagwhit"), "-a", ARTIST, "-m", ALBUM, "-k", "1", "-tf"]
            + [os.fsdecode(n) for n in names])
    status, peak, seconds, stderr = run_tool(peak_rss, argv, work, out)
    figure(run, f"exit status {status}, expected 0")
    expect_clean_run(checks, status, 0, stderr)
    with open(out, "rb") as text:
        got = text.read()
    expected_console = b"".join(console)
    if got != expected_console:
        with open(out + ".expected", "wb") as text:
            text.write(expected_console)
        checks.expect(False, "console output differs at "
                      + first_difference(out, out + ".expected"))
    ok_lines = got.count(b" ok\n")
    figure(run, f"{ok_lines:,} files reported ok")

    audio_kept = 0
    blocks_right = 0
    for name, (audio_size, audio_hash, block) in zip(names, expected):
        with open(os.path.join(work, os.fsdecode(name)), "rb") as mp3:
            data = mp3.read()
        if (len(data) == audio_size + TAG_SIZE
                and hashlib.sha256(data[:audio_size]).digest() == audio_hash):
            audio_kept += 1
        elif len(checks.failures) < 10:
            checks.expect(False, f"{name!r}: audio bytes changed "
                                 f"({len(data)} bytes, expected {audio_size + TAG_SIZE})")
        if data[-TAG_SIZE:] == block:
            blocks_right += 1
        elif len(checks.failures) < 10:
            checks.expect(False, f"{name!r}: tag block {data[-TAG_SIZE:]!r}, "
                                 f"expected {block!r}")
    figure(run, f"audio bytes unchanged in {audio_kept:,} files, "
                f"tag block as expected in {blocks_right:,}")
    checks.expect(audio_kept == TAG_FILES and blocks_right == TAG_FILES,
                  f"{TAG_FILES - audio_kept:,} files with changed audio, "
                  f"{TAG_FILES - blocks_right:,} with a wrong tag block")
    figure(run, f"peak resident memory {kib(peak)} (no limit)")
    figure(run, f"wall time {seconds:.1f} s (information only)")
    return checks.report()


RUNS = {"verify": stress_verify, "create": stress_create, "tag": stress_tag}


def main(argv):
    if len(argv) != 5 or argv[4] not in RUNS:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    tools, peak_rss, work, run = argv[1:]
    os.makedirs(work)
    return RUNS[run](os.path.abspath(tools), os.path.abspath(peak_rss),
                     os.path.abspath(work))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
