// Every system call either tool makes on the files it was given, failed in
// turn with strace's fault injection: each call at each of its occurrences
// in a normal run, in every scenario below. Whatever fails, a tagged file
// keeps its audio and gains whole blocks only; an exit status of 0 always
// means that everything asked for was done, exactly; and a failed call that
// the tool cannot do without never ends in status 0 (for tagwhit: always in
// status 1, with a result other than "ok") and is reported with its own
// error text, on the line of the file it struck.
#include "harness.hpp"
#include "new_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the file a call was failed on is to the tool.
enum file_role : unsigned {
    tagged_file = 1U << 0,     // tagwhit: a file being tagged
    listing_written = 1U << 1, // kerfsum c: the new listing
    listing_read = 1U << 2,    // kerfsum v: the listing
    checksummed = 1U << 3,     // kerfsum: a file checksummed, only read
    standard_output = 1U << 4, // the file standard output was sent to
};
constexpr unsigned only_read = listing_read | checksummed;
constexpr unsigned kerfsum_files = listing_written | only_read;

// The calls failed, each with the errors it can give on a local file, and
// the files on which a tool may do without it: there a run may still end in
// status 0, as long as its result is exact. A call the tools do not make is
// passed over, so a row can stand here before the code makes the call.
const struct {
    std::string call;
    std::vector<std::string> errors;
    unsigned spare_on;
} injected_calls[] = {
    {"openat", {"EACCES", "EMFILE"}, 0},
    {"read", {"EIO"}, 0},
    {"pread64", {"EIO"}, 0},
    {"lseek", {"EOVERFLOW"}, 0},
    {"write", {"EIO", "ENOSPC"}, 0},
    {"pwrite64", {"EIO", "ENOSPC"}, 0},
    {"ftruncate", {"EIO"}, 0},
    // Closing a file that was only read loses nothing.
    {"close", {"EIO"}, only_read},
    // The C library's fstat is newfstatat with an empty path; both are
    // listed. On kerfsum's files it only sizes a stream's buffer; a failed
    // stat of a file to list costs its comment line alone; and the probe for
    // an existing listing has the exclusive create behind it.
    {"fstat", {"EIO"}, kerfsum_files},
    {"newfstatat", {"EACCES"}, kerfsum_files},
    // A refused lock: the update may go ahead without it.
    {"flock", {"ENOLCK", "EAGAIN"}, tagged_file},
    // Success is said only once the data is on disk.
    {"fsync", {"EIO"}, 0},
    {"fdatasync", {"EIO"}, 0},
    // The listing takes its name without replacing anything, by a hard link
    // where the kernel or file system lacks the exclusive rename.
    {"renameat2", {"EIO", "EACCES"}, 0},
    {"renameat2", {"ENOSYS", "EINVAL"}, listing_written},
    {"fcntl", {"EINVAL"}, 0},
};

enum class mode { tag, create, verify };

struct input_file {
    std::string name;
    std::string before;
    std::string asked = {}; // tag mode: the file as the command asks it to be
    std::string crc = {};   // create mode: its CRC-32 as the listing gives it
};

struct scenario {
    const char* what;
    mode kind;
    std::vector<std::string> args;
    std::vector<input_file> files;
    std::string expected = {}; // verify: standard output
    // Injected into every run, the counting run too: a run that cannot
    // succeed, whose failure path is then swept.
    std::string base_fault = {};
    int status = 0; // of the counting run
    // Standard output goes to the file out.txt, whose calls are failed too.
    bool output_traced = false;
    // False: only the listing's (and standard output's) calls are failed.
    bool inputs_traced = true;
};

// What kerfsum c writes after the listing's first line (the creation time),
// for files whose modification time is the epoch, TZ being UTC.
std::string expected_listing(const std::vector<input_file>& files)
{
    std::string comments = ";\r\n";
    std::string checksums;
    for (const input_file& f : files) {
        const std::string size = std::to_string(f.before.size());
        comments += ";" + std::string(13 - size.size(), ' ') + size + "  00:00.00 1970-01-01 " + f.name + "\r\n";
        checksums += f.name + " " + f.crc + "\r\n";
    }
    return comments + checksums;
}

std::vector<scenario> scenarios()
{
    // Every field is written, so that every field write is failed once.
    const std::vector<std::string> tag_args = {"-t", "Title",   "-a", "Artist", "-m", "Album", "-y",      "2026",
                                               "-c", "Comment", "-k", "7",      "-g", "17",    "song.mp3"};
    const std::string block = id3v1_block({.title = "Title",
                                           .artist = "Artist",
                                           .album = "Album",
                                           .year = "2026",
                                           .comment = "Comment",
                                           .track = '\x07',
                                           .genre = '\x11'});
    const std::string old_block = id3v1_block({.fill = 'x'});
    // 600,000 bytes: two full read buffers and a part; CRC-32 D92FDC1D.
    const std::string big = patterned_bytes(600'000);
    const std::vector<input_file> inputs = {{.name = "digits.txt", .before = "123456789", .crc = "CBF43926"},
                                            {.name = "big.bin", .before = big, .crc = "D92FDC1D"},
                                            {.name = "empty.bin", .before = "", .crc = "00000000"}};
    std::vector<input_file> listed = inputs;
    listed.push_back(
        {.name = "list.sfv", .before = "digits.txt CBF43926\r\nbig.bin D92FDC1D\r\nempty.bin 00000000\r\n"});
    // A listing of about 20 KiB, written in several buffers, some while the
    // files are still being read.
    std::vector<std::string> many_args = {"c", "list.sfv"};
    std::vector<input_file> many;
    for (int i = 10; i < 70; ++i) {
        many.push_back({.name = std::string(150, 'n') + std::to_string(i), .before = "123456789", .crc = "CBF43926"});
        many_args.push_back(many.back().name);
    }
    const std::vector<input_file> bad = {{.name = "bad1", .before = "1"},
                                         {.name = "bad2", .before = "2"},
                                         {.name = "bad3", .before = "3"},
                                         {.name = "list.sfv", .before = "bad1 0\r\nbad2 0\r\nbad3 0\r\n"}};
    // Padding before the audio makes tagwhit look twice: its first 4 KiB,
    // then further.
    const std::string padded = std::string(5000, '\0') + audio_bytes(1000);
    const input_file song = {.name = "song.mp3", .before = padded, .asked = padded + block};
    return {
        {.what = "tagwhit, untagged file", .kind = mode::tag, .args = tag_args, .files = {song}},
        {.what = "tagwhit, tagged file",
         .kind = mode::tag,
         .args = tag_args,
         .files = {{.name = "song.mp3", .before = audio_bytes(500) + old_block, .asked = audio_bytes(500) + block}}},
        {.what = "tagwhit, untagged file on a full disk",
         .kind = mode::tag,
         .args = tag_args,
         .files = {{.name = "song.mp3", .before = audio_bytes(1000)}},
         .base_fault = "write,pwrite64:error=ENOSPC:when=1",
         .status = 1},
        {.what = "kerfsum create",
         .kind = mode::create,
         .args = {"c", "list.sfv", "digits.txt", "big.bin", "empty.bin"},
         .files = inputs},
        {.what = "kerfsum create, a listing of many buffers",
         .kind = mode::create,
         .args = many_args,
         .files = many,
         .inputs_traced = false},
        {.what = "kerfsum verify",
         .kind = mode::verify,
         .args = {"v", "list.sfv"},
         .files = listed,
         .expected = "Verifying SFV file list.sfv\n"
                     "digits.txt             ok\n"
                     "big.bin                ok\n"
                     "empty.bin              ok\n"
                     "3 files checked (3 ok, 0 bad)\n"
                     "0 errors encountered\n"},
        // The bad files found before the output failed still count, and the
        // lost output counts one more.
        {.what = "kerfsum verify, three bad files and standard output failing at its third write",
         .kind = mode::verify,
         .args = {"v", "list.sfv"},
         .files = bad,
         .base_fault = "write:error=EIO:when=3",
         .status = 3,
         .output_traced = true},
    };
}

// The calls a fault (or a comma-separated set of them) is injected into.
std::vector<std::string> calls_of(const std::string& fault)
{
    std::vector<std::string> calls;
    std::istringstream in(fault.substr(0, fault.find(':')));
    for (std::string call; std::getline(in, call, ',');) {
        calls.push_back(call);
    }
    return calls;
}

// Where a listing is written until it is complete.
const std::string unfinished_listing = ".list.sfv.unfinished";

// Runs the scenario's tool under strace in `dir`, tracing `calls` (into
// `log`, with the paths of descriptors) and injecting `fault` (if any) as
// well as the scenario's base fault, on its files, the listing and the
// scenario's standard output only. A file that does not exist yet is matched
// by its absolute name once it is open.
run_result run_scenario(const scratch_dir& dir, const scenario& s, const std::string& log, std::string calls,
                        const std::string& fault)
{
    // With a seccomp filter, only the traced calls stop the tool; strace
    // cannot inject a signal through one, though.
    std::vector<std::string> words = {"-f", "-qq", "-y"};
    if (fault.find(":signal=") == std::string::npos) {
        words.emplace_back("--seccomp-bpf");
    }
    std::vector<std::string> traced = {"list.sfv", unfinished_listing};
    for (const input_file& f : s.files) {
        if (s.inputs_traced) {
            traced.push_back(f.name);
        }
    }
    // No core files from the signals that dump one (SIGQUIT, SIGXCPU).
    run_options options{.limits = {{RLIMIT_CORE, 0}}};
    if (s.output_traced) {
        options.out_file = dir / "out.txt";
        traced.emplace_back("out.txt");
    }
    for (const std::string& name : traced) {
        words.insert(words.end(), {"-P", name, "-P", (dir / name).string()});
    }
    // Only a traced call can be failed.
    for (const std::string& injected : {s.base_fault, fault}) {
        if (!injected.empty()) {
            words.insert(words.end(), {"-e", "inject=" + injected});
            calls += "," + injected.substr(0, injected.find(':'));
        }
    }
    words.insert(words.end(), {"-o", log, "-e", "trace=" + calls});
    run_result run = run_traced(words, s.kind == mode::tag ? tool_path("tagwhit") : tool_path("kerfsum"), s.args,
                                dir.path(), options);
    if (s.output_traced) {
        run.out = read_file(options.out_file);
    }
    return run;
}

void set_up(const scratch_dir& dir, const scenario& s)
{
    for (const input_file& f : s.files) {
        write_file(dir / f.name, f.before);
        set_mtime(dir / f.name, 0);
    }
}

// The listing after its first line, which must be the header.
std::string written_listing(const fs::path& listing)
{
    std::string text = fs::exists(listing) ? read_file(listing) : "";
    const std::size_t end = text.find("\r\n");
    if (!text.starts_with("; Generated by ORBIT-CK32 v1.1a (kerfsum) on ") || end == std::string::npos) {
        return text;
    }
    return text.substr(end + 2);
}

// `listing` without the comment line of the file `name`.
std::string without_comment_line(std::string listing, const std::string& name)
{
    const std::size_t at = listing.find(" " + name + "\r\n");
    if (at != std::string::npos && !name.empty()) {
        const std::size_t start = listing.rfind('\n', at) + 1;
        listing.erase(start, at + name.size() + 3 - start);
    }
    return listing;
}

// The invariants every run must keep. `must_fail`: a call the tool cannot
// do without failed, or the scenario's base fault did. `unlisted`: a file
// whose stat failed, which may lack its comment line.
void check_run(const scratch_dir& dir, const scenario& s, const run_result& run, bool must_fail,
               const std::string& unlisted)
{
    ASSERT_GE(run.status, 0) << how_it_ended(run) << "\n" << run.out << run.err;
    if (must_fail) {
        EXPECT_NE(run.status, 0) << run.out;
    }
    const bool success = run.status == 0;
    switch (s.kind) {
    case mode::tag:
        if (must_fail) {
            EXPECT_EQ(run.status, 1);
            EXPECT_FALSE(run.out.ends_with("ok\n")) << run.out;
        }
        for (const input_file& f : s.files) {
            const std::string after = read_file(dir / f.name);
            const bool had_block = f.before.size() >= 128 && f.before.compare(f.before.size() - 128, 3, "TAG") == 0;
            const std::size_t audio_size = f.before.size() - (had_block ? 128 : 0);
            EXPECT_TRUE(after.compare(0, audio_size, f.before, 0, audio_size) == 0) << "audio bytes changed";
            EXPECT_TRUE(after.size() == f.before.size() || after.size() == f.before.size() + 128)
                << "size " << after.size() << ", was " << f.before.size();
            if (after.size() > f.before.size()) {
                EXPECT_EQ(after.substr(f.before.size(), 3), "TAG");
            }
            EXPECT_TRUE(!success || after == f.asked) << "exit status 0, but the tag is not as asked\n" << run.out;
        }
        break;
    case mode::create:
        // A listing that could not be written in full would verify while
        // naming only some files: it is gone.
        if (run.out.find("Error: list.sfv: ") != std::string::npos) {
            EXPECT_FALSE(fs::exists(dir / "list.sfv")) << run.out;
        }
        EXPECT_FALSE(fs::exists(dir / unfinished_listing)) << run.out;
        if (success) {
            const std::string got = written_listing(dir / "list.sfv");
            const std::string want = without_comment_line(expected_listing(s.files), unlisted);
            EXPECT_TRUE(got == want) << "exit status 0, but the listing is not as asked: "
                                     << std::count(got.begin(), got.end(), '\n') << " lines after the first, not "
                                     << std::count(want.begin(), want.end(), '\n') << "\n"
                                     << got.substr(0, 500);
        }
        break;
    case mode::verify:
        if (success) {
            EXPECT_EQ(run.out, s.expected);
        }
        break;
    }
}

// The line of `trace` that shows one of `calls` failed on purpose, or "".
std::string struck_line(const std::string& trace, const std::vector<std::string>& calls)
{
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        for (const std::string& call : calls) {
            if (line.find(" " + call + "(") != std::string::npos && line.ends_with("(INJECTED)")) {
                return line;
            }
        }
    }
    return "";
}

// What the file in a traced line is to the scenario's tool.
file_role role_in(const scenario& s, const std::string& line)
{
    if (line.find("out.txt>") != std::string::npos) {
        return standard_output;
    }
    const bool listing = line.find("list.sfv") != std::string::npos;
    switch (s.kind) {
    case mode::tag:
        break;
    case mode::create:
        return listing ? listing_written : checksummed;
    case mode::verify:
        return listing ? listing_read : checksummed;
    }
    return tagged_file;
}

// The path in `newfstatat(AT_FDCWD</dir>, "NAME", ...`: empty for an fstat.
std::string stat_path_in(const std::string& line)
{
    const std::size_t start = line.find(", \"");
    const std::size_t end = start == std::string::npos ? start : line.find('"', start + 3);
    return end == std::string::npos ? "" : line.substr(start + 3, end - start - 3);
}

// Checks that `run` gave the error struck in `line` its own text, at the end
// of a line that names the file it struck: "song.mp3: Input/output error",
// "Error: standard output: No space left on device". The text is the one
// strace shows: "... = -1 EIO (Input/output error) (INJECTED)".
void expect_reported(const run_result& run, const std::string& line, file_role role)
{
    const std::size_t end = line.rfind(") (INJECTED)");
    const std::size_t start = end == std::string::npos ? end : line.rfind(" (", end);
    ASSERT_NE(start, std::string::npos) << "no error text in the traced line";
    const std::string text = line.substr(start + 2, end - start - 2);
    // A call on a descriptor shows its path, "pread64(3</tmp/x/song.mp3>, ...",
    // of which the tools were given the last part; one on a path shows that.
    const std::string path = line.substr(0, line.find('>'));
    std::string name = path.substr(path.rfind('/') + 1);
    if (role == standard_output) {
        name = "standard output";
    } else if (line.find("(AT_FDCWD<") != std::string::npos) {
        name = stat_path_in(line);
    }
    if (name == unfinished_listing) {
        name = "list.sfv"; // the user knows the listing by its own name
    }
    std::istringstream in(run.out + run.err);
    for (std::string result; std::getline(in, result);) {
        if (result.find(name) != std::string::npos && result.ends_with(text)) {
            return;
        }
    }
    ADD_FAILURE() << "no line names " << name << " and ends in \"" << text << "\":\n" << run.out << run.err;
}

// How often each call is made on the traced files in a run of `s`.
std::map<std::string, int> count_calls(const scenario& s)
{
    std::string trace_set;
    for (const auto& c : injected_calls) {
        trace_set += (trace_set.empty() ? "" : ",") + c.call;
    }
    scratch_dir dir;
    set_up(dir, s);
    const scratch_dir log_dir;
    const fs::path log = log_dir / "trace";
    const run_result run = run_scenario(dir, s, log.string(), trace_set, "");
    check_run(dir, s, run, !s.base_fault.empty(), "");
    EXPECT_EQ(run.status, s.status) << run.out << run.err;
    // A base fault that never struck would leave its failure path unswept.
    EXPECT_EQ(struck_line(read_file(log), calls_of(s.base_fault)).empty(), s.base_fault.empty());
    // Lines look like "1234 read(3</tmp/x/big.bin>, ...) = 9".
    std::map<std::string, int> counts;
    std::istringstream in(read_file(log));
    for (std::string line; std::getline(in, line);) {
        const std::size_t start = line.find_first_not_of("0123456789 ");
        const std::size_t paren = line.find('(');
        if (start != std::string::npos && paren != std::string::npos && start < paren) {
            ++counts[line.substr(start, paren - start)];
        }
    }
    return counts;
}

TEST(fault_injection, every_call_on_the_given_files_fails_safely)
{
    if (const std::string why = why_no_fault_injection(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const auto started = std::chrono::steady_clock::now();
    const scratch_dir log_dir;
    const fs::path log = log_dir / "trace";
    int runs = 0;
    for (const scenario& s : scenarios()) {
        SCOPED_TRACE(s.what);
        const std::map<std::string, int> counts = count_calls(s);
        const std::vector<std::string> base_calls = calls_of(s.base_fault);
        for (const auto& c : injected_calls) {
            const auto found = counts.find(c.call);
            if (found == counts.end() || std::ranges::find(base_calls, c.call) != base_calls.end()) {
                continue;
            }
            for (const std::string& error : c.errors) {
                for (int n = 1; n <= found->second; ++n) {
                    const std::string fault = c.call + ":error=" + error + ":when=" + std::to_string(n);
                    SCOPED_TRACE("inject=" + fault);
                    const scratch_dir dir;
                    set_up(dir, s);
                    const run_result run = run_scenario(dir, s, log.string(), c.call, fault);
                    // A fault that never struck would make this run prove nothing.
                    const std::string line = struck_line(read_file(log), {c.call});
                    EXPECT_NE(line, "");
                    const file_role role = role_in(s, line);
                    const bool stat = c.call == "newfstatat" && role == checksummed;
                    SCOPED_TRACE(line);
                    check_run(dir, s, run, !s.base_fault.empty() || (c.spare_on & role) == 0,
                              stat ? stat_path_in(line) : "");
                    if (s.base_fault.empty() && (c.spare_on & role) == 0) {
                        expect_reported(run, line, role);
                    }
                    ++runs;
                }
            }
        }
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault injection: %d runs with one failed call in %.1f s\n", runs, seconds);
}

// A signal that ends a run at any of its calls on the given files, the
// calls the sweep above fails: a tagged file is as it was or fully updated,
// and an interrupted create leaves no listing behind but a complete one: a
// part of one would verify as if it named every file. Each signal the guard
// of an unfinished listing names takes its turn (a session that hangs up,
// ^C, ^\\, kill, a CPU-time limit, timers, the user signals, SIGIO, SIGPWR),
// taken from its own list, and a real-time one for them all. And that list
// names every signal whose default action ends a run, but those it leaves by
// design: one left off would leave a listing behind.
std::vector<int> ending_signals()
{
    const std::span<const int> guarded = new_file_guarded_signals();
    // Stopping, continuing or ignored by default; uncatchable; ignored by
    // the tools; reporting a fault in the program.
    const std::vector<int> left = {SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT, SIGCHLD, SIGURG,  SIGWINCH, SIGKILL,
                                   SIGPIPE, SIGXFSZ, SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,  SIGABRT, SIGTRAP,  SIGSYS};
    for (int number = 1; number < SIGRTMIN; ++number) {
        const char* name = ::sigabbrev_np(number); // null for those the C library keeps for itself
        if (name != nullptr && std::ranges::find(left, number) == left.end()) {
            EXPECT_NE(std::ranges::find(guarded, number), guarded.end()) << "SIG" << name << " is not guarded";
        }
    }
    std::vector<int> signals(guarded.begin(), guarded.end());
    signals.push_back(SIGRTMIN + 2);
    return signals;
}

TEST(fault_injection, a_signal_at_any_call_leaves_no_half_result)
{
    const auto signals = ending_signals();
    if (const std::string why = why_no_fault_injection(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const scratch_dir log_dir;
    const fs::path log = log_dir / "trace";
    int runs = 0;
    for (const scenario& s : scenarios()) {
        if (s.kind == mode::verify || !s.base_fault.empty()) {
            continue; // verifying writes nothing; a failing run has nothing to finish
        }
        SCOPED_TRACE(s.what);
        for (const auto& [call, count] : count_calls(s)) {
            for (int n = 1; n <= count; ++n) {
                const int number = signals[static_cast<std::size_t>(runs) % signals.size()];
                std::string fault = call;
                fault.append(":signal=").append(std::to_string(number)).append(":when=").append(std::to_string(n));
                SCOPED_TRACE("inject=" + fault);
                const scratch_dir dir;
                set_up(dir, s);
                const run_result run = run_scenario(dir, s, log.string(), call, fault);
                EXPECT_EQ(run.signal, number) << how_it_ended(run) << "\n" << run.out;
                EXPECT_FALSE(run.timed_out);
                if (s.kind == mode::create) {
                    // Once it has its name, the listing is complete.
                    EXPECT_TRUE(!fs::exists(dir / "list.sfv") ||
                                written_listing(dir / "list.sfv") == expected_listing(s.files))
                        << written_listing(dir / "list.sfv");
                    EXPECT_FALSE(fs::exists(dir / unfinished_listing));
                }
                for (const input_file& f : s.files) {
                    const std::string after = read_file(dir / f.name);
                    EXPECT_TRUE(after == f.before || (s.kind == mode::tag && after == f.asked))
                        << f.name << ": " << after.size() << " bytes, was " << f.before.size();
                }
                ++runs;
            }
        }
    }
    std::printf("signals: %d runs ended by a signal at one call\n", runs);
}

// What other processes, signals and refusals do to a run: strace holds the
// run at one of its calls on the traced files (a delay), fails them, or
// sends a signal there, while a neighbour acts. A tagwhit update is one
// write at the offset found by one look, under a lock that tagwhit runs on
// one file take in turn, so it ends with one whole block that holds every
// field asked for, or, for a run killed at any instant, with the file as it
// was or fully updated. A listing is removed on a signal only while this
// run is still writing it, and only when it is the file this run created.
TEST(fault_injection, what_happens_around_a_run)
{
    if (const std::string why = why_no_fault_injection(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string audio = audio_bytes(4000);
    // The old block holds a title and genre 0xFF, like a new one, so that a
    // run that finds it and one that finds it stripped write the same bytes.
    const std::string old_block = id3v1_block({.title = "Old"});
    const std::string both = id3v1_block({.title = "NewTitle", .artist = "NewArtist"});
    const std::string listing_end = "digits.txt CBF43926\r\n";
    const auto strip_tag = [](const fs::path& dir) { EXPECT_EQ(::truncate((dir / "song.mp3").c_str(), 4000), 0); };
    const auto second_run = [](const fs::path& dir) {
        const run_result r = run_tool(tool_path("tagwhit"), {"-a", "NewArtist", "song.mp3"}, dir);
        EXPECT_EQ(r.status, 0) << r.out;
    };
    // A download still being written: the file grows past where its block was planned.
    const auto grow = [&audio](const fs::path& dir) {
        std::ofstream(dir / "song.mp3", std::ios::app | std::ios::binary) << audio;
    };
    const auto replace_listing = [](const fs::path& dir) {
        write_file(dir / "other", "another file");
        fs::rename(dir / "other", dir / unfinished_listing);
    };
    const struct {
        const char* what;
        bool kerfsum = false; // else tagwhit
        std::string before;   // song.mp3, or digits.txt for kerfsum
        std::vector<std::string> args;
        std::vector<std::string> inject; // on the run's calls on the file above (and out.txt)
        std::function<void(const fs::path&)> neighbour = nullptr;
        std::vector<int> ignored_signals = {};
        int signal = 0;       // the one that is to end the run; else it exits
        int status = 0;       // when it exits
        std::string out = {}; // standard output, when given
        std::string after_file = "song.mp3";
        std::vector<std::string> after = {}; // any one of these
    } cases[] = {
        {.what = "a neighbour strips the tag before the run writes",
         .before = audio + old_block,
         .args = {"-t", "NewTitle", "-a", "NewArtist", "song.mp3"},
         .inject = {"write,pwrite64:delay_enter=1500000:when=1"},
         .neighbour = strip_tag,
         .after = {audio + both}},
        {.what = "a second run on a file without a tag",
         .before = audio,
         .args = {"-t", "NewTitle", "song.mp3"},
         .inject = {"read,pread64:delay_exit=1500000:when=1"},
         .neighbour = second_run,
         .after = {audio + both}},
        {.what = "a signal at the first write",
         .before = audio + old_block,
         .args = {"-t", "NewTitle", "-a", "NewArtist", "song.mp3"},
         .inject = {"write,pwrite64:signal=SIGTERM:when=1"},
         .signal = SIGTERM,
         .after = {audio + old_block, audio + both}},
        {.what = "the file grows before its block is appended",
         .before = audio,
         .args = {"-t", "NewTitle", "song.mp3"},
         .inject = {"write:delay_enter=1500000:when=1"},
         .neighbour = grow,
         .status = 1,
         .out = "song.mp3: (creating tag) file grew while it was tagged\n",
         .after = {audio + audio + id3v1_block({.title = "NewTitle"})}},
        // Where locks are refused, the update goes ahead unguarded.
        {.what = "every lock refused",
         .before = audio,
         .args = {"-t", "NewTitle", "-a", "NewArtist", "song.mp3"},
         .inject = {"flock:error=ENOLCK"},
         .out = "song.mp3: (creating tag) ok\n",
         .after = {audio + both}},
        // The file shrank between the look at its length and the read.
        {.what = "a short read of the last 128 bytes",
         .before = audio,
         .args = {"-t", "NewTitle", "song.mp3"},
         .inject = {"pread64:retval=0:when=1"},
         .status = 1,
         .out = "song.mp3: Resource temporarily unavailable\n",
         .after = {audio}},
        // Closing a file that failed to read must not replace the reason.
        {.what = "a failed read, then a failed close",
         .kerfsum = true,
         .before = "123456789",
         .args = {"c", "list.sfv", "digits.txt"},
         .inject = {"read:error=EIO:when=1", "close:error=ENOSPC:when=1"},
         .status = 1,
         .out = "Creating SFV file list.sfv\ndigits.txt             Input/output error\n"
                "0 files processed\n1 error encountered\n",
         .after_file = "digits.txt",
         .after = {"123456789"}},
        {.what = "the listing replaced by another file before the signal",
         .kerfsum = true,
         .before = "123456789",
         .args = {"c", "list.sfv", "digits.txt"},
         .inject = {"read:delay_enter=1500000:when=1", "close:signal=SIGTERM:when=1"},
         .neighbour = replace_listing,
         .signal = SIGTERM,
         .after_file = unfinished_listing,
         .after = {"another file"}},
        // As under nohup: the hang-up is not for this run.
        {.what = "a signal ignored from the start",
         .kerfsum = true,
         .before = "123456789",
         .args = {"c", "list.sfv", "digits.txt"},
         .inject = {"read:signal=SIGHUP:when=1"},
         .ignored_signals = {SIGHUP},
         .after_file = "list.sfv"},
        // The listing is closed and complete; the summary is still to reach
        // standard output.
        {.what = "a signal after the listing is closed",
         .kerfsum = true,
         .before = "123456789",
         .args = {"c", "list.sfv", "digits.txt"},
         .inject = {"write:signal=SIGHUP:when=2"},
         .signal = SIGHUP,
         .after_file = "list.sfv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const scratch_dir dir;
        const std::string file = c.kerfsum ? "digits.txt" : "song.mp3";
        write_file(dir / file, c.before);
        set_mtime(dir / file, 0);
        run_options options{.ignored_signals = c.ignored_signals,
                            .out_file = dir / "out.txt",
                            .deadline = std::chrono::seconds(20)};
        std::vector<std::string> words = {"-f", "-qq", "-o", "/dev/null"};
        for (const std::string& name : {file, std::string("out.txt")}) {
            words.insert(words.end(), {"-P", name, "-P", (dir / name).string()});
        }
        for (const std::string& inject : c.inject) {
            words.insert(words.end(), {"-e", "inject=" + inject});
        }
        run_result traced;
        std::thread run([&] {
            traced = run_traced(words, c.kerfsum ? tool_path("kerfsum") : tool_path("tagwhit"), c.args, dir.path(),
                                options);
        });
        if (c.neighbour) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            c.neighbour(dir.path());
        }
        run.join();
        traced.out = read_file(options.out_file);
        EXPECT_EQ(traced.signal, c.signal) << how_it_ended(traced) << "\n" << traced.out << traced.err;
        EXPECT_EQ(traced.status, c.signal != 0 ? -1 : c.status) << traced.out << traced.err;
        if (!c.out.empty()) {
            EXPECT_EQ(traced.out, c.out);
        }
        const std::string after = fs::exists(dir / c.after_file) ? read_file(dir / c.after_file) : "(none)";
        if (c.kerfsum && c.after_file == "list.sfv" && c.after.empty()) {
            EXPECT_TRUE(after.ends_with(listing_end)) << "the listing is not complete: " << after;
        } else {
            EXPECT_TRUE(std::ranges::find(c.after, after) != c.after.end()) << "size " << after.size();
        }
    }
}

} // namespace
