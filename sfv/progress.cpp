// The progress indicator on standard error: see progress.hpp.
#include "progress.hpp"

#include "common.hpp"
#include "listing_text.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h> // struct winsize, where <sys/ioctl.h> alone lacks it
#include <unistd.h>

namespace {

constexpr std::int64_t nanoseconds_per_second = 1'000'000'000;
// Files read faster than this never show the indicator, so a run over many
// small files never flickers.
constexpr std::int64_t appear_after = nanoseconds_per_second / 2;
constexpr std::int64_t redraw_every = nanoseconds_per_second / 4;

// Assumed when the terminal does not say how wide it is.
constexpr std::size_t default_width = 80;
constexpr char erase_to_end_of_line[] = "\x1b[K";

std::int64_t monotonic_now()
{
    // CLOCK_MONOTONIC is read through the vDSO on Linux and Android: no
    // system call. It cannot fail with a valid clock and pointer.
    timespec now{};
    (void)::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * nanoseconds_per_second + now.tv_nsec;
}

// Columns of the terminal on standard error, asked at every draw so that a
// resized window is followed.
std::size_t terminal_width()
{
#if defined(TIOCGWINSZ)
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
#endif
    return default_width;
}

// A run in the background of an interactive shell keeps quiet: its drawing
// would mix with whatever the foreground job shows, and under `stty tostop`
// it would stop the job. When standard error is no controlling terminal of
// ours, there is no foreground to disturb.
bool in_foreground()
{
    const pid_t foreground = ::tcgetpgrp(STDERR_FILENO);
    return foreground < 0 || foreground == ::getpgrp();
}

// Writes `text` whole to standard error, only while the run has the
// terminal: asked before every write, the erase included, since a job can
// be sent to the background at any moment, and writing from there would
// stop it (`stty tostop`) or mix with the foreground job's screen. Returns
// whether it was written. Any failure (the terminal went away) turns the
// indicator off for the rest of the run; nothing is reported, and the exit
// status does not change.
bool write_to_terminal(progress_indicator& indicator, const char* text, std::size_t length)
{
    if (!in_foreground()) {
        return false;
    }
    if (!write_all(STDERR_FILENO, {text, length})) {
        indicator.enabled = false;
        indicator.shown = 0;
        return false;
    }
    return true;
}

// Where the cursor goes back to before the text is drawn again or erased:
// backspaces over the text after a name, a carriage return on a line of its
// own. Returns the number of bytes put at `out`.
std::size_t move_to_start(const progress_indicator& indicator, char* out)
{
    if (indicator.layout == progress_layout::own_line) {
        out[0] = '\r';
        return 1;
    }
    std::memset(out, '\b', indicator.shown);
    return indicator.shown;
}

void draw(progress_indicator& indicator, std::uint64_t rate)
{
    // The last column is left alone: a character there makes some terminals
    // wrap, and backspaces cannot climb back to the line above.
    const std::size_t width = terminal_width();
    const std::size_t room = indicator.column + 1 < width ? width - indicator.column - 1 : 0;
    char text[progress_text_size];
    std::size_t length = format_progress(text, indicator.bytes, indicator.size, rate, false);
    if (length > room) {
        length = format_progress(text, indicator.bytes, indicator.size, rate, true);
    }
    if (length > room) {
        length = 0; // no room at all: erase what is shown, draw nothing
    }
    if (length == 0 && indicator.shown == 0) {
        return;
    }
    // Backspaces over the old text, the new text and the erase, as one write.
    char sequence[2 * progress_text_size + sizeof erase_to_end_of_line];
    std::size_t used = move_to_start(indicator, sequence);
    std::memcpy(sequence + used, text, length);
    used += length;
    std::memcpy(sequence + used, erase_to_end_of_line, sizeof erase_to_end_of_line - 1);
    used += sizeof erase_to_end_of_line - 1;
    if (write_to_terminal(indicator, sequence, used)) {
        indicator.shown = length;
    }
}

void on_read(void* context, int fd, std::size_t bytes)
{
    progress_indicator& indicator = *static_cast<progress_indicator*>(context);
    indicator.bytes += bytes;
    if (!indicator.enabled) {
        return;
    }
    const std::int64_t now = monotonic_now();
    if (now < indicator.next_draw) {
        return;
    }
    const int saved_errno = errno;
    indicator.next_draw = now + redraw_every;
    if (!indicator.size_checked) {
        indicator.size_checked = true;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
            indicator.size = info.st_size;
        }
    }
    // The current rate: over the time since the last draw, at least a
    // quarter of a second.
    const double seconds = static_cast<double>(now - indicator.last_draw) /
                           static_cast<double>(nanoseconds_per_second);
    const double rate = static_cast<double>(indicator.bytes - indicator.last_draw_bytes) / seconds;
    indicator.last_draw = now;
    indicator.last_draw_bytes = indicator.bytes;
    // Below 2^63, the conversion is exact enough and well defined.
    draw(indicator, rate < 9.2e18 ? static_cast<std::uint64_t>(rate) : 0);
    errno = saved_errno;
}

// Columns taken by "%-22s " for `name`, counting bytes: a UTF-8 character
// never takes more columns than bytes. 0 for a name that print_name shows
// escaped (a control byte in it): the indicator then keeps away from the
// line rather than guess.
std::size_t name_field_columns(const char* name)
{
    std::size_t length = 0;
    while (name[length] != '\0') {
        const name_piece piece = next_name_piece(name + length);
        if (piece.escaped) {
            return 0;
        }
        length += piece.length;
    }
    constexpr auto field = static_cast<std::size_t>(name_field_width);
    return (length > field ? length : field) + 1;
}

// Whether `info` describes /dev/null, where output is thrown away.
bool is_null_device(const struct stat& info)
{
    struct stat null_info {};
    return S_ISCHR(info.st_mode) && ::stat("/dev/null", &null_info) == 0 && S_ISCHR(null_info.st_mode) &&
           null_info.st_rdev == info.st_rdev;
}

// Writes `bytes` in the largest binary unit that keeps the number below
// 1024, one decimal: "0.5 KiB", "87.3 MiB", "3.9 GiB".
int format_amount(char* out, std::size_t size, std::uint64_t bytes)
{
    static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // From 1023.95 up, one decimal would print "1024.0": the next unit reads better.
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    return std::snprintf(out, size, "%.1f %s", value, units[unit]);
}

} // namespace

void progress_start(progress_indicator& indicator)
{
    indicator.enabled = false;
    const char* term = std::getenv("TERM");
    if (term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0) {
        return;
    }
    const int saved_errno = errno; // isatty sets ENOTTY on its usual answer
    struct stat out_info {};
    struct stat err_info {};
    if (::isatty(STDERR_FILENO) != 0 && ::fstat(STDOUT_FILENO, &out_info) == 0 &&
        ::fstat(STDERR_FILENO, &err_info) == 0) {
        // The result lines go to the terminal: the text follows the name on
        // its line. They go to a file: the terminal's line is the
        // indicator's own. They go anywhere else, a pipe above all, whose
        // reader (tee, cat, less) may well show them on this same terminal
        // in a line the indicator would erase: it keeps away.
        if (out_info.st_dev == err_info.st_dev && out_info.st_ino == err_info.st_ino) {
            indicator.enabled = true;
            indicator.layout = progress_layout::after_name;
        } else if (S_ISREG(out_info.st_mode) || is_null_device(out_info)) {
            indicator.enabled = true;
            indicator.layout = progress_layout::own_line;
        }
    }
    errno = saved_errno;
}

const crc32_progress* progress_begin_file(progress_indicator& indicator, const char* name)
{
    if (!indicator.enabled) {
        return nullptr;
    }
    std::size_t column = 0;
    if (indicator.layout == progress_layout::after_name) {
        column = name_field_columns(name);
        if (column == 0) {
            return nullptr;
        }
    }
    const std::int64_t now = monotonic_now();
    indicator.hook = {on_read, &indicator};
    indicator.column = column;
    indicator.bytes = 0;
    indicator.size = -1;
    indicator.size_checked = false;
    indicator.next_draw = now + appear_after;
    indicator.last_draw = now;
    indicator.last_draw_bytes = 0;
    indicator.shown = 0;
    return &indicator.hook;
}

void progress_end_file(progress_indicator& indicator)
{
    if (indicator.shown == 0) {
        return;
    }
    const int saved_errno = errno;
    char sequence[progress_text_size + sizeof erase_to_end_of_line];
    std::size_t used = move_to_start(indicator, sequence);
    std::memcpy(sequence + used, erase_to_end_of_line, sizeof erase_to_end_of_line - 1);
    used += sizeof erase_to_end_of_line - 1;
    // Not shown any more either way: from the background, the text stays
    // until the line is written over.
    indicator.shown = 0;
    (void)write_to_terminal(indicator, sequence, used);
    errno = saved_errno;
}

std::size_t format_progress(char (&out)[progress_text_size], std::uint64_t bytes, std::int64_t size,
                            std::uint64_t rate, bool compact)
{
    char amount[16];
    (void)format_amount(amount, sizeof amount, bytes);
    int length = 0;
    if (size < 0) {
        if (compact) {
            length = std::snprintf(out, sizeof out, "%s", amount);
        } else {
            char speed[16];
            (void)format_amount(speed, sizeof speed, rate);
            length = std::snprintf(out, sizeof out, "%s  %s/s", amount, speed);
        }
    } else {
        const auto total = static_cast<std::uint64_t>(size);
        // Rounded down, and below 100 until the last byte is read. A double
        // keeps bytes * 100 from overflowing for the largest sizes.
        unsigned percent = 100;
        if (bytes < total) {
            percent = static_cast<unsigned>(static_cast<double>(bytes) * 100.0 / static_cast<double>(total));
            percent = percent > 99 ? 99 : percent;
        }
        if (compact) {
            length = std::snprintf(out, sizeof out, "%3u%%", percent);
        } else {
            char whole[16];
            char speed[16];
            (void)format_amount(whole, sizeof whole, total);
            (void)format_amount(speed, sizeof speed, rate);
            length = std::snprintf(out, sizeof out, "%3u%%  %s / %s  %s/s", percent, amount, whole, speed);
        }
    }
    // The fields are bounded ("1023.9 PiB" at most), so nothing is cut.
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}
