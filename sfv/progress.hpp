// The progress indicator kerfsum shows on standard error while it reads one
// large file, for a person watching a terminal; scripts never see it.
//
// It is on for a run only when standard error is a terminal, TERM is set
// and not "dumb", and standard output is that same terminal, a regular file
// or /dev/null (a pipe's reader may show the results on the terminal, in a
// line the indicator would erase). It is drawn and erased only while the run
// is in the terminal's foreground process group. It appears once one file has taken more than half a second
// to read, is redrawn at most four times a second, and is erased before the
// file's result is printed, so the screen ends up as it would without it.
// Its text, at most progress_text_size - 1 columns of ASCII:
//    42%  1.6 GiB / 3.9 GiB  87.3 MiB/s     (size known from fstat)
//   1.6 GiB  87.3 MiB/s                     (a pipe: size unknown)
// and only " 42%" or "1.6 GiB" where the line has no room for the rest.
//
// Two layouts, chosen once per run:
//   after_name  stdout is the same terminal, and the current line already
//               holds the file's name: the text follows the name, is redrawn
//               by backspacing over it, and is erased by backspaces and
//               erase-to-end-of-line (ESC [ K), leaving the cursor where the
//               result goes.
//   own_line    stdout is a file or /dev/null: the text is drawn from the start of
//               the line after a carriage return and erased by a carriage
//               return and ESC [ K, leaving an empty line.
// A write to standard error that fails turns the indicator off for the rest
// of the run, silently.
#pragma once

#include "crc32.hpp"

#include <cstddef>
#include <cstdint>

enum class progress_layout { after_name, own_line };

// Size of a buffer for the indicator's text, NUL included.
inline constexpr std::size_t progress_text_size = 64;

// The indicator's state for one run. The caller keeps it for the whole run
// and must not move it while a file is being read: the hook points into it.
struct progress_indicator {
    bool enabled = false; // off for the rest of the run once false
    progress_layout layout = progress_layout::own_line;
    crc32_progress hook{};
    // The file being read. Times are CLOCK_MONOTONIC in nanoseconds.
    std::size_t column = 0;     // where the text starts on the line
    std::uint64_t bytes = 0;    // read so far
    std::int64_t size = -1;     // from fstat; -1 when unknown
    bool size_checked = false;  // fstat is asked once, at the first draw
    std::int64_t next_draw = 0; // no drawing before this time
    std::int64_t last_draw = 0; // time of the last draw (or the start)
    std::uint64_t last_draw_bytes = 0;
    std::size_t shown = 0; // columns the text takes now; 0: none
};

// Decides whether the indicator may show in this run. Call once, after
// guard_inherited_state (a standard error that was closed is then /dev/null,
// no terminal) and before the run opens any file. Costs one isatty(2) (none
// when TERM rules the indicator out); on a terminal, also two fstat calls to
// tell the layout, and a stat of /dev/null when stdout is a device. Keeps
// errno.
void progress_start(progress_indicator& indicator);

// Starts watching one file, whose result line holds `name` printed as
// "%-22s " and flushed. Returns the hook to give crc32_file, or null when
// the indicator is off (then nothing more is paid for this file). Reads the
// clock; makes no system call.
[[nodiscard]] const crc32_progress* progress_begin_file(progress_indicator& indicator, const char* name);

// Erases the indicator if it is shown; call before printing the file's
// result. Makes no system call when nothing is shown. Keeps errno.
void progress_end_file(progress_indicator& indicator);

// Formats the indicator's text into `out` and returns its length: percent
// (rounded down, 100 only when `bytes` reaches `size`), bytes read, `size`
// and `rate` (bytes per second) in binary units with one decimal. A negative
// `size` is unknown: bytes and rate only. `compact` leaves only the first
// field. Pure.
std::size_t format_progress(char (&out)[progress_text_size], std::uint64_t bytes, std::int64_t size,
                            std::uint64_t rate, bool compact);
