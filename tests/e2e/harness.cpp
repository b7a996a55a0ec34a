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
#include <span>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#ifndef TOOL_EMULATOR
#define TOOL_EMULATOR ""
#endif

namespace {

// A program built as the tools are that prints its C library's strerror
// texts, where the tools' C library is not the test programs' own; else "".
constexpr const char* error_texts_path = ERROR_TEXTS_PATH;

// The tools of cmake/tools.txt and where this build has them.
const struct {
    const char* name;
    const char* path;
} built_tools[] = {
#include "built_tools.inc"
};

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
// not. The calling process moves the job as `options` says, waits for it and
// exits as it did. Returns in the child, false when a step failed.
bool continue_as_background_job(int slave, const run_options& options)
{
    if (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0) {
        return false;
    }
    const pid_t job = ::fork();
    if (job > 0) {
        const unsigned after_ms = options.background_after_ms + options.foreground_after_ms;
        if (after_ms > 0) {
            // As a shell does: the job is the foreground until it is not,
            // or the other way round.
            (void)::setpgid(job, job);
            termios modes{};
            if (options.background_after_ms > 0 && ::tcgetattr(slave, &modes) == 0) {
                modes.c_lflag |= TOSTOP;
                (void)::tcsetattr(slave, TCSANOW, &modes);
                (void)::tcsetpgrp(slave, job);
            }
            (void)::signal(SIGTTOU, SIG_IGN); // to take the terminal back
            const timespec delay{static_cast<time_t>(after_ms / 1000), static_cast<long>(after_ms % 1000) * 1000000};
            (void)::nanosleep(&delay, nullptr);
            (void)::tcsetpgrp(slave, options.background_after_ms > 0 ? ::getpgrp() : job);
        }
        exit_as(job);
    }
    return job == 0 && ::setpgid(0, 0) == 0;
}

// Whether `program` is built for the machine the tools run on, and so
// starts under the emulator: the tools and the error-text helper are; the
// host's own programs (strace, unshare, rhash, python3, sh) are not.
bool runs_emulated(const std::string& program)
{
    return !emulator_words().empty() &&
           ((*error_texts_path != '\0' && program == error_texts_path) ||
            std::ranges::any_of(built_tools, [&](const auto& tool) { return program == tool.path; }));
}

// The argument vector: start_words(tool), with the program name that
// options ask for, then `args`.
std::vector<std::string> command_words(const std::string& tool, const std::vector<std::string>& args,
                                       const run_options& options)
{
    std::vector<std::string> words = start_words(tool);
    if (!runs_emulated(tool)) {
        words.front() = options.argv0.value_or(tool);
    } else if (options.argv0) {
        words.insert(words.end() - 1, {"-0", *options.argv0});
    }
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

// The base environment with the extra entries. An extra entry replaces a
// base entry of the same name: getenv would otherwise find the base one.
std::vector<std::string> environment_of(const run_options& options)
{
    std::vector<std::string> environment = options.extra_environment;
    for (const char* base : {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"}) {
        const std::string_view name = std::string_view(base).substr(0, std::string_view(base).find('=') + 1);
        if (std::ranges::none_of(options.extra_environment,
                                 [&](const std::string& extra) { return extra.starts_with(name); })) {
            environment.emplace_back(base);
        }
    }
    return environment;
}

// Pointers to `strings`, then a null pointer: an argv or envp.
std::vector<char*> c_strings(std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// The descriptors a run's output goes through: the reading ends stay here,
// the others go to the tool. -1 where there is none.
struct run_channels {
    int out_read = -1;
    int out_write = -1;
    int err_read = -1;
    int err_write = -1;
    int out_target = -1; // a file that replaces the output pipe
    int terminal = -1;   // the pseudo-terminal's master
    int terminal_slave = -1;
};

run_channels open_channels(const run_options& options)
{
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        fail("pipe");
    }
    run_channels c{.out_read = out_pipe[0],
                   .out_write = out_pipe[1],
                   .err_read = err_pipe[0],
                   .err_write = err_pipe[1]};
    const bool to_file = !options.out_file.empty() || options.out == output_sink::full_device;
    if (to_file) {
        c.out_target = ::open(options.out_file.empty() ? "/dev/full" : options.out_file.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (c.out_target < 0) {
            fail("output file");
        }
    }
    if (to_file || options.out == output_sink::closed_pipe) {
        ::close(c.out_read);
        c.out_read = -1;
    }
    if (options.terminal != terminal_use::none) {
        c.terminal = open_terminal(options.terminal_columns, &c.terminal_slave);
    }
    return c;
}

// In the child: sets up what `options` asks for and starts the program.
[[noreturn]] void become_tool(const std::string& program, std::vector<char*>& argv, std::vector<char*>& envp,
                              const std::filesystem::path& cwd, const run_options& options, const run_channels& c)
{
    // A process group of its own (a background job makes a session of its
    // own below), so that a hung tool is killed together with what it
    // started, such as the program a tracer runs.
    if (!options.terminal_background) {
        (void)::setpgid(0, 0);
    }
    // The tool must cope with SIGPIPE as a shell would leave it.
    ::signal(SIGPIPE, SIG_DFL);
    for (const int signal_number : options.ignored_signals) {
        ::signal(signal_number, SIG_IGN);
    }
    ::dup2(c.out_target >= 0 ? c.out_target : c.out_write, 1);
    ::dup2(c.terminal_slave >= 0 ? c.terminal_slave : c.err_write, 2);
    if (options.terminal == terminal_use::output_and_error) {
        ::dup2(c.terminal_slave, 1);
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
    if (options.terminal_background && !continue_as_background_job(c.terminal_slave, options)) {
        ::_exit(124);
    }
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

// Reads the tool's outputs into `result` until all have closed. At the
// deadline the tool and its process group are killed; returns whether they
// were.
bool collect_output(pid_t child, const run_channels& c, std::chrono::seconds deadline_after, run_result& result)
{
    // A negative descriptor is passed over by poll. The master of a
    // pseudo-terminal reads EIO, not end of file, once the tool has exited.
    pollfd fds[3] = {{c.out_read, POLLIN, 0}, {c.err_read, POLLIN, 0}, {c.terminal, POLLIN, 0}};
    std::string* sinks[3] = {&result.out, &result.err, &result.terminal};
    auto open_count = std::ranges::count_if(fds, [](const pollfd& entry) { return entry.fd >= 0; });
    auto deadline = std::chrono::steady_clock::now() + deadline_after;
    bool killed = false;
    while (open_count > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        const int ready = ::poll(fds, 3, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno != EINTR) {
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
        for (int i = 0; i < 3 && ready > 0; ++i) {
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
    return killed;
}

// Waits for the child and notes how it ended.
void wait_for(pid_t child, run_result& result)
{
    int wait_status = 0;
    while (::waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            fail("waitpid");
        }
    }
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    result.signal = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
}

} // namespace

std::string tool_path(const std::string& name)
{
    for (const auto& tool : built_tools) {
        if (name == tool.name) {
            return tool.path;
        }
    }
    throw std::runtime_error("no tool " + name + " in cmake/tools.txt");
}

std::string usage_screen(const std::string& name, const std::string& program)
{
    std::string text = read_file(std::filesystem::path(GOLDEN_DIR) / (name + ".usage"));
    for (const auto& [mark, value] : {std::pair<std::string, std::string>{"@program@", program},
                                      std::pair<std::string, std::string>{"@version@", TOOLCRATE_VERSION}}) {
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size())) {
            text.replace(at, mark.size(), value);
        }
    }
    return text;
}
bool tools_run_emulated()
{
    return !emulator_words().empty();
}

bool tools_on_bionic()
{
#ifdef TOOLS_ON_BIONIC
    return true;
#else
    return false;
#endif
}

std::vector<std::string> start_words(const std::string& program)
{
    std::vector<std::string> words;
    if (runs_emulated(program)) {
        words = emulator_words();
    }
    words.push_back(program);
    return words;
}

std::string error_text(int error)
{
    if (*error_texts_path == '\0') {
        return std::strerror(error);
    }
    // "NUMBER TEXT" lines from 0 up, asked for once.
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> lines;
        const run_result run = run_tool(error_texts_path, {}, "/");
        std::size_t start = 0;
        std::size_t end = 0;
        while ((end = run.out.find('\n', start)) != std::string::npos) {
            const std::string line = run.out.substr(start, end - start);
            if (!line.starts_with(std::to_string(lines.size()) + " ")) {
                throw std::runtime_error("unexpected line from " + std::string(error_texts_path) + ": " + line);
            }
            lines.push_back(line.substr(line.find(' ') + 1));
            start = end + 1;
        }
        return lines;
    }();
    if (error < 0 || static_cast<std::size_t>(error) >= texts.size()) {
        throw std::runtime_error(std::string(error_texts_path) + " gave no text for error " + std::to_string(error));
    }
    return texts[static_cast<std::size_t>(error)];
}

std::string how_it_ended(const run_result& run)
{
    if (run.timed_out) {
        return "killed at its deadline";
    }
    if (run.signal != 0) {
        return "signal " + std::to_string(run.signal) + " (" + ::strsignal(run.signal) + ")";
    }
    return "exit status " + std::to_string(run.status);
}

run_result run_tool(const std::string& tool, const std::vector<std::string>& args, const std::filesystem::path& cwd,
                    const run_options& options)
{
    std::vector<std::string> words = command_words(tool, args, options);
    const bool emulated = runs_emulated(tool);
    const std::string program = emulated ? words.front() : tool;
    if (options.no_arguments_at_all && !emulated) {
        words.clear();
    }
    std::vector<std::string> environment = environment_of(options);
    std::vector<char*> argv = c_strings(words);
    std::vector<char*> envp = c_strings(environment);
    const run_channels channels = open_channels(options);
    const pid_t child = ::fork();
    if (child < 0) {
        fail("fork");
    }
    if (child == 0) {
        become_tool(program, argv, envp, cwd, options, channels);
    }
    for (const int fd : {channels.out_write, channels.err_write, channels.terminal_slave, channels.out_target}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    run_result result;
    result.timed_out = collect_output(child, channels, options.deadline, result);
    wait_for(child, result);
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

run_result run_traced(const std::vector<std::string>& strace_words, const std::string& tool,
                      const std::vector<std::string>& args, const std::filesystem::path& cwd, run_options options)
{
    std::vector<std::string> words = strace_words;
    words.emplace_back("--");
    words.push_back(tool);
    words.insert(words.end(), args.begin(), args.end());
    options.extra_environment.emplace_back("ASAN_OPTIONS=detect_leaks=0");
    return run_tool(strace_path, words, cwd, options);
}

std::string why_no_terminal()
{
    const int probe = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (probe < 0) {
        return "no pseudo-terminal can be opened here (/dev/ptmx, /dev/pts)";
    }
    ::close(probe);
    return "";
}

scratch_dir::scratch_dir()
    : scratch_dir([] {
          const char* base = std::getenv("TMPDIR");
          return std::filesystem::path(base != nullptr && *base != '\0' ? base : "/tmp");
      }())
{
}

scratch_dir::scratch_dir(const std::filesystem::path& base)
{
    std::string pattern = (base / "toolcrate-XXXXXX").string();
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

void feed_fifo(const std::filesystem::path& fifo, const std::vector<std::string>& pieces,
               const std::function<void(std::size_t)>& after_piece, const std::atomic<bool>* give_up)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int fd = -1;
    while ((fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (errno != ENXIO || (give_up != nullptr && *give_up) || std::chrono::steady_clock::now() > deadline) {
            return; // no reader came
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    (void)::fcntl(fd, F_SETFL, 0); // block while the reader catches up
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        for (std::span<const char> rest = pieces[i]; !rest.empty();) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n < 0 && errno != EINTR) {
                ::close(fd);
                return;
            }
            rest = rest.subspan(n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        after_piece(i);
    }
    ::close(fd);
}

std::optional<run_result> run_in_mount_namespace(const scratch_dir& dir, const std::string& script,
                                                 const std::string& tool, const std::vector<std::string>& args)
{
    std::filesystem::create_directory(dir / "disk");
    // As root, or else as root of a user namespace of its own.
    for (const std::vector<std::string>& how : {std::vector<std::string>{"-m"}, std::vector<std::string>{"-r", "-m"}}) {
        std::vector<std::string> words = how;
        words.insert(words.end(), {"/bin/sh", "-c", script, "sh"});
        const std::vector<std::string> start = start_words(tool);
        words.insert(words.end(), start.begin(), start.end());
        words.insert(words.end(), args.begin(), args.end());
        run_result run = run_tool("/usr/bin/unshare", words, dir.path());
        if (run.status != 97 && run.status != 98 && run.err.find("unshare") == std::string::npos) {
            return run;
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir / "after", ignored);
    }
    return std::nullopt;
}

std::optional<run_result> run_on_tiny_tmpfs(const scratch_dir& dir, unsigned size_kib, std::size_t filler_bytes,
                                            const std::string& tool, const std::vector<std::string>& args)
{
    const std::string script = "mount -t tmpfs -o size=" + std::to_string(size_kib) +
                               "k tmpfs disk 2>/dev/null || exit 97\n"
                               "cd disk || exit 98\n"
                               "if [ -d ../seed ]; then cp -a ../seed/. . || exit 98; fi\n"
                               "head -c " +
                               std::to_string(filler_bytes) +
                               " /dev/zero > filler 2>/dev/null\n"
                               "\"$@\"\n"
                               "status=$?\n"
                               "mkdir ../after && cp -a . ../after/\n"
                               "exit $status\n";
    return run_in_mount_namespace(dir, script, tool, args);
}

std::optional<run_result> run_on_image(const scratch_dir& dir, const disk_image& image, const std::string& tool,
                                       const std::vector<std::string>& args)
{
    const std::string mount = "{ " + image.mount + " image disk; } >/dev/null 2>&1";
    const std::string script = "PATH=/usr/sbin:/sbin:$PATH\n"
                               "truncate -s 64M image && " +
                               image.mkfs + " image >/dev/null 2>&1 || exit 97\n" + mount +
                               " || exit 97\n"
                               "cd disk || exit 98\n"
                               "if [ -d ../seed ]; then cp -R ../seed/. . && sync || exit 98; fi\n"
                               "\"$@\"\n"
                               "status=$?\n" +
                               image.after_run +
                               "\n"
                               "cd .. && umount disk && " +
                               mount +
                               " || exit 98\n"
                               "mkdir after && cp -R disk/. after/ && umount disk || exit 98\n"
                               "exit $status\n";
    return run_in_mount_namespace(dir, script, tool, args);
}

std::string audio_bytes(std::size_t size)
{
    // MPEG-1 (version bits 11), Layer III (01), no CRC; bitrate index 1
    // (32 kbit/s), sampling-rate index 1 (48 kHz), no padding: a frame is
    // 144 * 32000 / 48000 = 96 bytes.
    constexpr std::size_t frame_size = 96;
    constexpr char header[] = {'\xFF', '\xFB', '\x14', '\x00'};
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t in_frame = i % frame_size;
        bytes[i] = in_frame < sizeof header ? header[in_frame] : static_cast<char>(0x80 + (i * 7) % 0x7F);
    }
    return bytes;
}

std::string patterned_bytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    }
    return bytes;
}

std::string id3v1_block(const id3v1_fields& fields)
{
    std::string block = "TAG" + std::string(125, fields.fill);
    const auto put = [&block](std::size_t at, std::size_t width, const std::optional<std::string>& value) {
        if (value) {
            block.replace(at, width, (*value + std::string(width, '\0')).substr(0, width));
        }
    };
    put(3, 30, fields.title);
    put(33, 30, fields.artist);
    put(63, 30, fields.album);
    put(93, 4, fields.year);
    put(97, 29, fields.comment);
    block[126] = fields.track.value_or(block[126]);
    block[127] = fields.genre.value_or(fields.fill == '\0' ? '\xFF' : fields.fill);
    return block;
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

std::string read_stream(std::FILE* stream)
{
    std::string text;
    std::rewind(stream);
    for (int c = 0; (c = std::fgetc(stream)) != EOF;) {
        text += static_cast<char>(c);
    }
    return text;
}

std::vector<unsigned char> random_bytes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 engine(seed);
    std::vector<unsigned char> data(count);
    for (unsigned char& byte : data) {
        byte = static_cast<unsigned char>(engine() >> 24);
    }
    return data;
}

void set_mtime(const std::filesystem::path& path, std::time_t when)
{
    const timespec times[2] = {{when, 0}, {when, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        fail("utimensat");
    }
}
