// kerfsum's progress indicator, seen from a terminal: it shows while a slow
// file is read, at most four times a second and never in the last column,
// leaves the screen as it would be without it, and never reaches standard
// error that is no terminal, a dumb one, or one whose foreground is another
// job's.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

// How the file "slow" is fed: `pieces` writes of `size` bytes into a FIFO,
// `pause` apart, then the end; no pieces: a small regular file instead.
struct feed {
    int pieces;
    std::size_t size;
    milliseconds pause;
};
// About 1.5 s, so that the indicator (after half a second) is drawn.
constexpr feed slow{6, 16384, milliseconds(250)};
// About 3 s of small reads, each of which could be drawn.
constexpr feed many_small_reads{300, 1024, milliseconds(10)};
// Read at once: nothing may reach the terminal.
constexpr feed small_file{0, 0, milliseconds(0)};

std::string content(const feed& f)
{
    return f.pieces == 0 ? "123456789" : std::string(static_cast<std::size_t>(f.pieces) * f.size, 'k');
}

struct timed_run {
    run_result run;
    double seconds = 0; // wall time of the whole run, from outside
};

// Where standard output goes when it is not on the terminal: a file (read
// back into `out`), a pipe, or a device.
enum class stdout_on { file, pipe, null_device, zero_device };

// Runs `kerfsum c list.sfv slow` with `slow` fed as `f` says, standard
// output on the terminal or as `where` says.
timed_run create_from(const feed& f, run_options options, stdout_on where = stdout_on::file)
{
    scratch_dir dir;
    const std::string path = (dir / "slow").string();
    if (f.pieces == 0) {
        write_file(path, content(f));
    } else if (::mkfifo(path.c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo: " << errno;
        return {};
    }
    if (options.terminal != terminal_use::output_and_error && where != stdout_on::pipe) {
        options.out_file = where == stdout_on::null_device   ? "/dev/null"
                           : where == stdout_on::zero_device ? "/dev/zero"
                                                             : dir / "out.txt";
    }
    std::thread feeder;
    if (f.pieces > 0) {
        feeder = std::thread([path, f] {
            feed_fifo(path, std::vector<std::string>(static_cast<std::size_t>(f.pieces), std::string(f.size, 'k')),
                      [&f](std::size_t) { std::this_thread::sleep_for(f.pause); });
        });
    }
    const auto started = std::chrono::steady_clock::now();
    timed_run result{run_tool(tool_path("kerfsum"), {"c", "list.sfv", "slow"}, dir.path(), options)};
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (feeder.joinable()) {
        feeder.join();
    }
    if (where == stdout_on::file && !options.out_file.empty()) {
        result.run.out = read_file(options.out_file);
    }
    return result;
}

// What `kerfsum c list.sfv slow` prints for the same bytes in a regular
// file, with no terminal anywhere.
std::string plain_output(const feed& f)
{
    scratch_dir dir;
    write_file(dir / "slow", content(f));
    return run_tool(tool_path("kerfsum"), {"c", "list.sfv", "slow"}, dir.path()).out;
}

struct screen_state {
    std::vector<std::string> lines; // trailing blanks and empty last lines dropped
    std::size_t widest = 0;         // the rightmost column anything was written in
};

// What a terminal shows after `stream`. Knows what kerfsum and the terminal
// driver send: printable text, CR, LF, backspace and erase-to-end-of-line
// (ESC [ K).
screen_state screen(const std::string& stream)
{
    screen_state shown{{""}};
    std::vector<std::string>& lines = shown.lines;
    std::size_t row = 0;
    std::size_t column = 0;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        std::string& line = lines[row];
        if (stream[i] == '\r') {
            column = 0;
        } else if (stream[i] == '\n') {
            lines.resize(std::max(lines.size(), ++row + 1));
        } else if (stream[i] == '\b') {
            column -= column > 0 ? 1 : 0;
        } else if (stream.compare(i, 3, "\x1b[K") == 0) {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else {
            line.resize(std::max(line.size(), column + 1), ' ');
            line[column++] = stream[i];
            shown.widest = std::max(shown.widest, column);
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return shown;
}

// The terminal's output processing turns each LF into CR LF.
std::string as_on_terminal(const std::string& text)
{
    std::string converted;
    for (const char c : text) {
        converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return converted;
}

TEST(kerfsum_progress, shows_on_a_terminal_and_leaves_the_screen_as_without_it)
{
    if (const std::string why = why_no_terminal(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    ::signal(SIGPIPE, SIG_IGN); // the feeder writes on when kerfsum has failed
    // Standard error a pipe: not one byte there, however slow the file.
    run_options xterm;
    xterm.extra_environment = {"TERM=xterm"};
    const timed_run plain = create_from(slow, xterm);
    EXPECT_EQ(plain.run.err, "");
    ASSERT_EQ(plain.run.status, 0) << plain.run.out;
    EXPECT_EQ(plain.run.out, plain_output(slow));

    const struct {
        const char* what{};
        feed source = slow;
        terminal_use terminal = terminal_use::error;
        const char* term = "xterm";
        bool shows{};
        unsigned short columns = 80;
        bool background = false;
        stdout_on stdout_is = stdout_on::file;
        unsigned background_after_ms = 0;
        unsigned foreground_after_ms = 0;
    } cases[] = {
        {.what = "stdout in a file: the indicator has a line of its own", .shows = true},
        {.what = "stdout on the same terminal: the indicator follows the name",
         .terminal = terminal_use::output_and_error,
         .shows = true},
        {.what = "stdout on /dev/null: a line of its own", .shows = true, .stdout_is = stdout_on::null_device},
        {.what = "a dumb terminal gets nothing", .term = "dumb"},
        {.what = "an empty TERM gets nothing", .term = ""},
        {.what = "a job in the background gets nothing", .background = true},
        {.what = "many small reads: at most four draws a second", .source = many_small_reads, .shows = true},
        {.what = "a file read at once: nothing, not even for a moment", .source = small_file},
        {.what = "20 columns: nothing in the last one", .shows = true, .columns = 20},
        // tee or cat may be showing the results on this terminal, in the
        // line the indicator would erase.
        {.what = "stdout a pipe gets nothing", .stdout_is = stdout_on::pipe},
        // Any device but /dev/null, even one beside it in /dev.
        {.what = "stdout on /dev/zero gets nothing", .stdout_is = stdout_on::zero_device},
        // Under `stty tostop`, a write from the background, the erase
        // included, would stop the job for good.
        {.what = "sent to the background while it shows: no more writes, and on to the end",
         .shows = true,
         .background = true,
         .background_after_ms = 1000},
        // What was not drawn in the background must not be backed over.
        {.what = "brought to the foreground while it would show",
         .terminal = terminal_use::output_and_error,
         .shows = true,
         .background = true,
         .foreground_after_ms = 800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        run_options options;
        options.terminal = c.terminal;
        options.terminal_columns = c.columns;
        options.terminal_background = c.background;
        options.background_after_ms = c.background_after_ms;
        options.foreground_after_ms = c.foreground_after_ms;
        options.extra_environment = {std::string("TERM=") + c.term};
        const timed_run timed = create_from(c.source, options, c.stdout_is);
        const run_result& run = timed.run;
        const std::string expected = plain_output(c.source);
        EXPECT_EQ(run.status, 0);
        const bool shared = c.terminal == terminal_use::output_and_error;
        const bool discarded = c.stdout_is == stdout_on::null_device || c.stdout_is == stdout_on::zero_device;
        EXPECT_EQ(run.out, shared || discarded ? "" : expected);
        if (c.background_after_ms > 0) {
            // What was drawn in the foreground stays: no erase was sent.
            EXPECT_FALSE(run.terminal.ends_with("\r\x1b[K")) << run.terminal;
            continue;
        }
        const screen_state shown = screen(run.terminal);
        EXPECT_EQ(shown.lines, screen(as_on_terminal(shared ? expected : "")).lines) << run.terminal;
        // A character there makes some terminals wrap the line.
        EXPECT_LT(shown.widest, c.columns) << run.terminal;
        if (shared) {
            // A rate such as "64.0 KiB/s" is part of every indicator drawn.
            EXPECT_NE(run.terminal.find("iB/s"), std::string::npos) << run.terminal;
            continue;
        }
        // All that reaches the terminal is the indicator: each draw, and the
        // erase at the end, begins with a carriage return.
        EXPECT_EQ(run.terminal.empty(), !c.shows) << run.terminal;
        const auto writes = std::count(run.terminal.begin(), run.terminal.end(), '\r');
        EXPECT_LE(static_cast<double>(writes), 2 + 4 * timed.seconds) << "draws and erase in " << timed.seconds << " s";
        if (c.shows) {
            EXPECT_TRUE(run.terminal.ends_with("\r\x1b[K")) << run.terminal;
        }
    }
}

} // namespace
