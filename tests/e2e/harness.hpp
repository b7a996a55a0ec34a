// Running the built tools in scratch directories and looking at what they
// left behind: the one place for every helper the end-to-end tests share.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// How a run ended, and what it wrote.
struct run_result {
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
    std::string terminal;   // everything written to the pseudo-terminal, if any
    int status = -1;        // exit status, or -1 when the process did not exit
    int signal = 0;         // the signal that ended it, or 0
    bool timed_out = false; // still running at its deadline, and killed
};

// "exit status 1", "signal 15 (Terminated)" or "killed at its deadline",
// for failure messages.
std::string how_it_ended(const run_result& run);

// Standard output of a run: captured, a pipe whose reader has already gone,
// or /dev/full, where every write fails with ENOSPC.
enum class output_sink { captured, closed_pipe, full_device };

// Both ways of losing standard output, with the line a tool then writes to
// standard error.
struct lost_output_case {
    output_sink sink;
    const char* error;
};
inline constexpr lost_output_case lost_output_cases[] = {
    {.sink = output_sink::closed_pipe, .error = "Error: standard output: Broken pipe\n"},
    {.sink = output_sink::full_device, .error = "Error: standard output: No space left on device\n"},
};

// Which of the tool's outputs go to a pseudo-terminal (24 lines, 80 columns
// unless run_options says otherwise) instead: none, standard error alone, or
// both (one terminal).
enum class terminal_use { none, error, output_and_error };

struct run_options {
    std::optional<std::string> argv0 = {};           // program name; the tool's path by default
    bool no_arguments_at_all = false;                // start with an empty argument vector
    std::vector<std::string> extra_environment = {}; // "NAME=value" entries added to the base
    output_sink out = output_sink::captured;         // where standard output goes
    terminal_use terminal = terminal_use::none;
    unsigned short terminal_columns = 80;
    // The pseudo-terminal is the tool's controlling terminal, but the tool
    // runs in a process group that is not the terminal's foreground group:
    // a background job of an interactive shell.
    bool terminal_background = false;
    // With terminal_background: the tool starts as the foreground job and
    // is sent to the background after this many milliseconds, with `stty
    // tostop` set, so that a write to the terminal from there stops it (the
    // run then ends with status 123). 0: in the background from the start.
    unsigned background_after_ms = 0;
    // With terminal_background: the job starts in the background and is
    // brought to the foreground after this many milliseconds (0: never).
    unsigned foreground_after_ms = 0;
    std::vector<int> closed_descriptors = {};      // closed in the tool's process before it starts
    std::vector<int> ignored_signals = {};         // ignored from the start, as under nohup
    std::vector<std::pair<int, long>> limits = {}; // RLIMIT_* resource and the soft and hard limit for it
    // When set, standard output goes to this file instead (created or
    // truncated), where a test can watch it while the tool still runs;
    // run_result::out stays empty.
    std::filesystem::path out_file = {};
    // A run still going then is killed (with what it started), and its
    // result says so.
    std::chrono::seconds deadline{60};
};

// The path of the built tool `name`, one of those cmake/tools.txt lists;
// throws for any other name.
std::string tool_path(const std::string& name);

// The usage screen, banner first, that the tool `name` prints for a command
// line it cannot use, showing `program` as its name: the golden file
// golden/NAME.usage, with @program@ standing for the name and @version@ for
// the project's version.
std::string usage_screen(const std::string& name, const std::string& program);

// True when the tools run under an emulator (cross builds).
bool tools_run_emulated();

// True when the tools are linked against Android's C library, bionic, which
// looks every zone up in Android's tzdata file: TZ never names a file there.
bool tools_on_bionic();

// The words that start `program`: the emulator's first where it is built
// for the machine the tools run on (the tools are, the host's programs are
// not), then its path.
std::vector<std::string> start_words(const std::string& program);

// What the tools' C library says for the error number `error`, as strerror
// gives it there: the tests' own C library where the tools share it, else a
// helper program built as the tools are, asked once.
std::string error_text(int error);

// Runs `tool` with `args` in directory `cwd`, with a fixed, minimal
// environment (TZ=UTC, LC_ALL=C) plus options.extra_environment. A run
// still going at its deadline is killed (timed_out); output that something
// else still holds open 10 s later fails the test as well.
run_result run_tool(const std::string& tool, const std::vector<std::string>& args, const std::filesystem::path& cwd,
                    const run_options& options = run_options());

// Where the tests that trace or fail system calls on purpose find strace.
inline const std::string strace_path = "/usr/bin/strace";

// Why strace cannot fail the tools' system calls here (not installed, the
// tools emulated, no ptrace), or an empty string when it can.
std::string why_no_fault_injection();

// Runs `tool` with `args` under strace with `strace_words` (-P, -e, -o and
// the like) in `cwd`. LeakSanitizer, which cannot work under a tracer, is
// turned off for the tool.
run_result run_traced(const std::vector<std::string>& strace_words, const std::string& tool,
                      const std::vector<std::string>& args, const std::filesystem::path& cwd,
                      run_options options = run_options());

// Why no pseudo-terminal can be opened here, or an empty string.
std::string why_no_terminal();

// A fresh directory under `base` (the system's temporary directory by
// default), removed with everything in it when the object goes.
class scratch_dir {
public:
    scratch_dir();
    explicit scratch_dir(const std::filesystem::path& base);
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes `pieces` in turn into the FIFO at `fifo` once a reader has opened
// it, calling `after_piece(i)` after piece i (to pause, or to watch the
// reader). Stops at a failed write (a reader that stopped early makes it
// fail with EPIPE); gives up waiting for a reader after 10 s, or once
// `give_up` is set.
void feed_fifo(const std::filesystem::path& fifo, const std::vector<std::string>& pieces,
               const std::function<void(std::size_t)>& after_piece, const std::atomic<bool>* give_up = nullptr);

// Runs `tool` with `args` in a private mount namespace, in dir/"disk", on a
// tmpfs of `size_kib` KiB mounted there: what dir/"seed" holds is copied in
// first, then a file "filler" takes `filler_bytes` zero bytes (or as many
// as fit). Afterwards everything on the tmpfs is copied to dir/"after".
// Returns nothing when no mount namespace can be had here (needs root or
// user namespaces).
// Runs `script` with /bin/sh -c in dir, in a private mount namespace (as
// root, or as root of a user namespace of its own), with "$@" the tool and
// its arguments; dir/"disk" is made for it to mount on. The script exits 97
// or 98 when its set-up fails: then returns nothing.
std::optional<run_result> run_in_mount_namespace(const scratch_dir& dir, const std::string& script,
                                                 const std::string& tool, const std::vector<std::string>& args);

// A 64 MiB file system in the file "image": `mkfs` makes it (the image's
// name follows), `mount` mounts it (the image's and the mount point's names
// follow), and `after_run` is a shell command run on it once the tool is
// done, before it is mounted again.
struct disk_image {
    std::string mkfs;
    std::string mount;
    std::string after_run = {};
};

// As run_on_tiny_tmpfs, on `image` instead (which needs root, and a loop
// device or FUSE).
std::optional<run_result> run_on_image(const scratch_dir& dir, const disk_image& image, const std::string& tool,
                                       const std::vector<std::string>& args);

std::optional<run_result> run_on_tiny_tmpfs(const scratch_dir& dir, unsigned size_kib, std::size_t filler_bytes,
                                            const std::string& tool, const std::vector<std::string>& args);

// Stand-in MPEG audio of `size` bytes, for tagwhit: MPEG-1 Layer III frames
// of 96 bytes (32 kbit/s, 48 kHz), each a valid header and then bytes from
// 0x80 up, never 0xFF, so that "TAG" never turns up by chance. A frame is cut
// short at the end.
std::string audio_bytes(std::size_t size);

// `size` bytes of a pattern that is not periodic in any buffer size: byte i
// is i * 7 + i / 251.
std::string patterned_bytes(std::size_t size);

// The fields of an ID3v1 block (ID3v1.1: a 28-byte comment, a zero byte,
// the track). A field given is NUL-padded to its width; the bytes of one
// not given are the fill byte. The genre not given is 0xFF in a block
// filled with NUL (a block tagwhit makes), else the fill byte.
struct id3v1_fields {
    std::optional<std::string> title = {};   // 30 bytes
    std::optional<std::string> artist = {};  // 30 bytes
    std::optional<std::string> album = {};   // 30 bytes
    std::optional<std::string> year = {};    // 4 bytes
    std::optional<std::string> comment = {}; // 29 bytes
    std::optional<char> track = {};
    std::optional<char> genre = {};
    char fill = '\0';
};
// The 128 bytes of the block: "TAG", then the fields.
std::string id3v1_block(const id3v1_fields& fields);

void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);
// Everything in `stream` (a temporary file), read from its start.
std::string read_stream(std::FILE* stream);

// `count` bytes from a Mersenne Twister seeded with `seed`: the same bytes
// for the same seed everywhere.
std::vector<unsigned char> random_bytes(std::size_t count, std::uint32_t seed);
// Sets both access and modification time, in whole seconds.
void set_mtime(const std::filesystem::path& path, std::time_t when);
