// kerfsum's progress indicator, seen from a terminal: it shows while a slow
// file is read, leaves the screen as it would be without it, and never
// reaches standard error that is no terminal.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Writes 6 pieces of 16 KiB into the FIFO at `path`, a quarter of a second
// apart, then closes it: about 1.5 s, so the indicator (after half a
// second) is drawn. Gives up when kerfsum does not open the FIFO in time.
void feed_slowly(const std::string& path)
{
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // ENXIO: no reader yet
        }
    }
    if (fd < 0) {
        return;
    }
    (void)::fcntl(fd, F_SETFL, 0);
    const std::string piece(16384, 'k');
    for (int i = 0; i < 6; ++i) {
        if (::write(fd, piece.data(), piece.size()) != static_cast<ssize_t>(piece.size())) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    ::close(fd);
}

// Runs `kerfsum c list.sfv slow` with `slow` a FIFO fed over 1.5 s, and
// standard output on the terminal, else in a pipe (`piped`) or a file,
// returned in `out`.
run_result create_from_fifo(terminal_use terminal, const char* term, bool piped = false)
{
    scratch_dir dir;
    if (::mkfifo((dir / "slow").c_str(), 0600) != 0) {
        ADD_FAILURE() << "mkfifo: " << errno;
        return {};
    }
    run_options options;
    options.terminal = terminal;
    options.extra_environment = {std::string("TERM=") + term};
    if (terminal != terminal_use::output_and_error && !piped) {
        options.out_file = dir / "out.txt";
    }
    std::thread feeder(feed_slowly, (dir / "slow").string());
    run_result run = run_tool(kerfsum_path(), {"c", "list.sfv", "slow"}, dir.path(), options);
    feeder.join();
    if (!options.out_file.empty()) {
        run.out = read_file(options.out_file);
    }
    return run;
}

// The lines a terminal shows after `stream`, trailing blanks and empty last
// lines dropped. Knows what kerfsum and the terminal driver send: printable
// text, CR, LF, backspace and erase-to-end-of-line (ESC [ K).
std::vector<std::string> screen(const std::string& stream)
{
    std::vector<std::string> lines(1);
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
        }
    }
    for (std::string& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
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
    const int probe = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) {
        GTEST_SKIP() << "no pseudo-terminal can be opened here (/dev/ptmx, /dev/pts)";
    }
    ::close(probe);
    ::signal(SIGPIPE, SIG_IGN); // the feeder writes on when kerfsum has failed
    // Standard error a pipe: not one byte there, however slow the file.
    const run_result plain = create_from_fifo(terminal_use::none, "xterm");
    EXPECT_EQ(plain.err, "");
    ASSERT_EQ(plain.status, 0) << plain.out;

    const struct {
        const char* what;
        terminal_use terminal;
        const char* term;
        bool shows;
        bool piped;
    } cases[] = {
        {"stdout redirected: the indicator has a line of its own", terminal_use::error, "xterm", true, false},
        {"stdout on the same terminal: the indicator follows the name", terminal_use::output_and_error, "xterm", true,
         false},
        {"a dumb terminal gets nothing", terminal_use::error, "dumb", false, false},
        // tee or cat may be showing the results on this terminal, in the
        // line the indicator would erase.
        {"stdout a pipe gets nothing", terminal_use::error, "xterm", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const run_result run = create_from_fifo(c.terminal, c.term, c.piped);
        EXPECT_EQ(run.status, 0);
        const bool shared = c.terminal == terminal_use::output_and_error;
        EXPECT_EQ(run.out, shared ? "" : plain.out);
        // A rate such as "64.0 KiB/s" is part of every indicator drawn.
        EXPECT_EQ(run.terminal.find("iB/s") != std::string::npos, c.shows) << run.terminal;
        EXPECT_EQ(screen(run.terminal), screen(as_on_terminal(shared ? plain.out : ""))) << run.terminal;
        if (c.terminal == terminal_use::error && c.shows) {
            EXPECT_TRUE(run.terminal.ends_with("\r\x1b[K")) << run.terminal;
        }
    }
}

} // namespace
