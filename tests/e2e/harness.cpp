#include "harness.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#ifndef TOOL_EMULATOR
#define TOOL_EMULATOR ""
#endif

namespace {

std::vector<std::string> emulator_words()
{
    std::vector<std::string> words;
    std::string current;
    for (const char c : std::string(TOOL_EMULATOR)) {
        if (c == ';') {
            if (!current.empty()) {
                words.push_back(current);
            }
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        words.push_back(current);
    }
    return words;
}

void fail(const char* what)
{
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// Opens a pseudo-terminal of `columns` columns and 24 lines with POSIX
// calls alone; both ends close on exec. Returns the master, stores the slave
// in `*slave`.
int open_terminal(unsigned short columns, int* slave)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        fail("posix_openpt");
    }
    const char* name = ::ptsname(master);
    *slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (*slave < 0) {
        fail("open pseudo-terminal");
    }
    const winsize size{24, columns, 0, 0};
    if (::ioctl(*slave, TIOCSWINSZ, &size) != 0) {
        fail("TIOCSWINSZ");
    }
    return master;
}

// Waits for the process `job` and exits as it did; a job that is stopped
// (a background job that wrote to a `tostop` terminal) is killed, and the
// run ends with status 123.
[[noreturn]] void exit_as(pid_t job)
{
    int status = 0;
    while (::waitpid(job, &status, WUNTRACED) < 0) {
        if (errno != EINTR) {
            ::_exit(124);
        }
    }
    if (WIFSTOPPED(status)) {
        (void)::kill(job, SIGKILL);
        ::_exit(123);
    }
    if (WIFSIGNALED(status)) {
        (void)::raise(WTERMSIG(status));
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 124);
}

// Makes the terminal on `slave` the controlling terminal of a new session,
// then goes on in a child process with a process group of its own: a job a
// shell has put in the background, which the terminal's foreground group is
// not. The calling process waits for that child and exits as it did. Returns
// in the child, false when a step failed.
bool continue_as_background_job(int slave, unsigned after_ms)
{
    if (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0) {
        return false;
    }
    const pid_t job = ::fork();
    if (job > 0) {
        if (after_ms > 0) {
            // As a shell does: the job is the foreground, until it is not.
            termios modes{};
            (void)::setpgid(job, job);
            if (::tcgetattr(slave, &modes) == 0) {
                modes.c_lflag |= TOSTOP;
                (void)::tcsetattr(slave, TCSANOW, &modes);
            }
            (void)::tcsetpgrp(slave, job);
            (void)::signal(SIGTTOU, SIG_IGN); // to take the terminal back
            const timespec delay{static_cast<time_t>(after_ms / 1000), static_cast<long>(after_ms % 1000) * 1000000};
            (void)::nanosleep(&delay, nullptr);
            (void)::tcsetpgrp(slave, ::getpgrp());
        }
        exit_as(job);
    }
    return job == 0 && ::setpgid(0, 0) == 0;
}

} // namespace

std::string kerfsum_path() { return KERFSUM_PATH; }
std::string tagwhit_path() { return TAGWHIT_PATH; }
bool tools_run_emulated() { return !emulator_words().empty(); }

run_result run_tool(const std::string& tool, const std::vector<std::string>& args,
                    const std::filesystem::path& cwd, const run_options& options)
{
    std::vector<std::string> words = emulator_words();
    const bool emulated = !words.empty();
    if (emulated && options.argv0) {
        words.emplace_back("-0");
        words.push_back(*options.argv0);
    }
    if (!emulated) {
        words.push_back(options.argv0.value_or(tool));
    }
    if (emulated) {
        words.push_back(tool);
    }
    words.insert(words.end(), args.begin(), args.end());

    // An extra entry replaces a base entry of the same name: getenv would
    // otherwise find the base one first.
    std::vector<std::string> environment = options.extra_environment;
    for (const char* base : {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"}) {
        const std::string_view name = std::string_view(base).substr(0, std::string_view(base).find('=') + 1);
        bool overridden = false;
        for (const std::string& extra : options.extra_environment) {
            overridden = overridden || extra.starts_with(name);
        }
        if (!overridden) {
            environment.emplace_back(base);
        }
    }

    std::vector<char*> argv;
    if (!(options.no_arguments_at_all && !emulated)) {
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& e : environment) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    const std::string program = emulated ? words.front() : tool;

    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    int out_target = -1; // replaces the output pipe when set
    if (!options.out_file.empty()) {
        out_target = ::open(options.out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out_target < 0) {
            fail("output file");
        }
    } else if (options.out == output_sink::closed_pipe) {
        ::close(out_pipe[0]);
        out_pipe[0] = -1;
    } else if (options.out == output_sink::full_device) {
        out_target = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (out_target < 0) {
            fail("/dev/full");
        }
    }
    int terminal = -1;
    int terminal_slave = -1;
    if (options.terminal != terminal_use::none) {
        terminal = open_terminal(options.terminal_columns, &terminal_slave);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        fail("fork");
    }
    if (child == 0) {
        // A process group of its own (a background job makes a session of
        // its own below), so that a hung tool is killed together with what
        // it started, such as the program a tracer runs.
        if (!options.terminal_background) {
            (void)::setpgid(0, 0);
        }
        // The tool must cope with SIGPIPE as a shell would leave it.
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(out_target >= 0 ? out_target : out_pipe[1], 1);
        ::dup2(terminal_slave >= 0 ? terminal_slave : err_pipe[1], 2);
        if (options.terminal == terminal_use::output_and_error) {
            ::dup2(terminal_slave, 1);
        }
        for (const auto& [resource, value] : options.limits) {
            const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
            if (::setrlimit(resource, &limit) != 0) {
                ::_exit(125);
            }
        }
        for (const int fd : options.closed_descriptors) {
            ::close(fd);
        }
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
            ::_exit(126);
        }
        if (options.terminal_background &&
            !continue_as_background_job(terminal_slave, options.background_after_ms)) {
            ::_exit(124);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (terminal_slave >= 0) {
        ::close(terminal_slave);
    }
    if (out_target >= 0) {
        ::close(out_target);
        ::close(out_pipe[0]);
        out_pipe[0] = -1;
    }

    run_result result;
    // A negative descriptor is passed over by poll. The master of a
    // pseudo-terminal reads EIO, not end of file, once the tool has exited.
    pollfd fds[3] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}, {terminal, POLLIN, 0}};
    std::string* sinks[3] = {&result.out, &result.err, &result.terminal};
    int open_count = 0;
    for (const pollfd& entry : fds) {
        open_count += entry.fd >= 0 ? 1 : 0;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool killed = false;
    while (open_count > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int ready = ::poll(fds, 3, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("poll");
        }
        if (ready == 0 && killed) {
            // Something the tool started outlived it and holds its output
            // open: waiting on would never end.
            ADD_FAILURE() << "output still open 10 s after the hung tool was killed";
            break;
        }
        if (ready == 0) {
            // Hung: its pipes close when it and its group have died.
            ::kill(-child, SIGKILL);
            ::kill(child, SIGKILL);
            killed = true;
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            continue;
        }
        for (int i = 0; i < 3; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (const pollfd& entry : fds) {
        if (entry.fd >= 0) {
            ::close(entry.fd);
        }
    }
    int wait_status = 0;
    while (::waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            fail("waitpid");
        }
    }
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return result;
}

std::string why_no_fault_injection()
{
    if (tools_run_emulated()) {
        return "the tools run under an emulator, whose own system calls strace would see";
    }
    if (!std::filesystem::exists(strace_path)) {
        return strace_path + " is not installed (Debian package strace)";
    }
    const scratch_dir dir;
    const run_result probe = run_tool(strace_path,
                                      {"-f", "-qq", "-o", "/dev/null", "-e", "trace=close", "-e",
                                       "inject=close:error=EIO:when=1000", "/bin/true"},
                                      dir.path());
    if (probe.status != 0) {
        return "strace cannot trace or inject here (no ptrace?): " + probe.err;
    }
    return "";
}

scratch_dir::scratch_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/toolcrate-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        fail("mkdtemp");
    }
    path_ = pattern;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    // Tests may leave read-only directories behind; make them removable.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string audio_bytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = i % 16 == 0 ? '\0' : static_cast<char>(0x80 + (i * 7) % 0x7F);
    }
    return bytes;
}

void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void set_mtime(const std::filesystem::path& path, std::time_t when)
{
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("utimensat");
    }
}
