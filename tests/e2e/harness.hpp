// Running the built tools in scratch directories and looking at what they
// left behind.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct run_result {
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
    std::string terminal; // everything written to the pseudo-terminal, if any
    int status = -1;  // exit status, or -1 when the process did not exit
};

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
    {output_sink::closed_pipe, "Error: standard output: Broken pipe\n"},
    {output_sink::full_device, "Error: standard output: No space left on device\n"},
};

// Which of the tool's outputs go to a pseudo-terminal (24 lines, 80 columns
// unless run_options says otherwise) instead: none, standard error alone, or
// both (one terminal).
enum class terminal_use { none, error, output_and_error };

struct run_options {
    std::optional<std::string> argv0;          // program name; the tool's path by default
    bool no_arguments_at_all = false;          // start with an empty argument vector
    std::vector<std::string> extra_environment; // "NAME=value" entries added to the base
    output_sink out = output_sink::captured;     // where standard output goes
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
    std::vector<int> closed_descriptors;         // closed in the tool's process before it starts
    std::vector<std::pair<int, long>> limits;    // RLIMIT_* resource and the soft and hard limit for it
    // When set, standard output goes to this file instead (created or
    // truncated), where a test can watch it while the tool still runs;
    // run_result::out stays empty.
    std::filesystem::path out_file;
};

// Paths of the built tools (empty when a tool is not part of this build).
std::string kerfsum_path();
std::string tagwhit_path();

// True when the tools run under an emulator (cross builds).
bool tools_run_emulated();

// Runs `tool` with `args` in directory `cwd`, with a fixed, minimal
// environment (TZ=UTC, LC_ALL=C) plus options.extra_environment. A tool still
// running after a minute is killed, so a hang fails the test (status -1);
// output that something else still holds open 10 s later fails it as well.
run_result run_tool(const std::string& tool, const std::vector<std::string>& args,
                    const std::filesystem::path& cwd, const run_options& options = run_options());

// Where the tests that fail system calls on purpose find strace.
inline const std::string strace_path = "/usr/bin/strace";

// Why strace cannot fail the tools' system calls here (not installed, the
// tools emulated, no ptrace), or an empty string when it can.
std::string why_no_fault_injection();

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Stand-in MPEG audio of `size` bytes, for tagwhit: binary like real frames
// (a NUL byte every 16 bytes, the rest from 0x80 up), so that it is never
// taken for text and "TAG" never turns up in it by chance.
std::string audio_bytes(std::size_t size);

void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string read_file(const std::filesystem::path& path);
// Sets both access and modification time, in whole seconds.
void set_mtime(const std::filesystem::path& path, std::time_t when);
