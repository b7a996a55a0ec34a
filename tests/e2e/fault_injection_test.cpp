// Every system call either tool makes on the files it was given, failed in
// turn with strace's fault injection: each call at each of its occurrences
// in a normal run, in every scenario below. Whatever fails, a tagged file
// keeps its audio and gains whole blocks only, and an exit status of 0
// always means that everything asked for was done.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The calls failed, each with the errors it can give on a local file. The
// C library's fstat is newfstatat with an empty path; both are listed.
const struct {
    std::string call;
    std::vector<std::string> errors;
} injected_calls[] = {
    {"openat", {"EACCES", "EMFILE"}},
    {"read", {"EIO"}},
    {"lseek", {"EOVERFLOW"}},
    {"write", {"EIO", "ENOSPC"}},
    {"close", {"EIO"}},
    {"ftruncate", {"EIO"}},
    {"fstat", {"EIO"}},
    {"newfstatat", {"EACCES"}},
};

enum class mode { tag, create, verify };

struct input_file {
    std::string name;
    std::string before;
    std::string asked = {}; // tag mode: the file as the command asks it to be
};

struct scenario {
    const char* what;
    mode kind;
    std::vector<std::string> args;
    std::vector<input_file> files;
    std::string expected = {}; // create: the listing's checksum lines; verify: standard output
    // Injected into every run, the counting run too: a run that cannot
    // succeed, whose failure path is then swept.
    std::string base_fault = {};
};

// Stand-in audio: bytes from 0x80 up, so "TAG" never turns up by chance.
std::string audio(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(0x80 + (i * 7) % 0x7F);
    }
    return bytes;
}

std::string padded(const std::string& text, std::size_t width)
{
    return text + std::string(width - text.size(), '\0');
}

std::vector<scenario> scenarios()
{
    // Every field is written, so that every field write is failed once.
    const std::vector<std::string> tag_args = {"-t", "Title", "-a", "Artist", "-m",  "Album", "-y", "2026",
                                               "-c", "Comment", "-k", "7",    "-g",  "17",    "song.mp3"};
    const std::string block = "TAG" + padded("Title", 30) + padded("Artist", 30) + padded("Album", 30) + "2026" +
                              padded("Comment", 29) + "\x07\x11";
    const std::string old_block = "TAG" + std::string(125, 'x');
    // 600,000 bytes: two full read buffers and a part; CRC-32 D92FDC1D.
    std::string big(600'000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 251);
    }
    const std::vector<input_file> inputs = {{"digits.txt", "123456789"}, {"big.bin", big}, {"empty.bin", ""}};
    const std::string listing = "digits.txt CBF43926\r\nbig.bin D92FDC1D\r\nempty.bin 00000000\r\n";
    std::vector<input_file> listed = inputs;
    listed.push_back({"list.sfv", listing});
    return {
        {"tagwhit, untagged file", mode::tag, tag_args, {{"song.mp3", audio(1000), audio(1000) + block}}},
        {"tagwhit, tagged file", mode::tag, tag_args, {{"song.mp3", audio(500) + old_block, audio(500) + block}}},
        {"tagwhit, untagged file on a full disk", mode::tag, tag_args, {{"song.mp3", audio(1000)}}, "",
         "write:error=ENOSPC:when=1"},
        {"kerfsum create", mode::create, {"c", "list.sfv", "digits.txt", "big.bin", "empty.bin"}, inputs,
         listing},
        {"kerfsum verify", mode::verify, {"v", "list.sfv"}, listed,
         "Verifying SFV file list.sfv\n"
         "digits.txt             ok\n"
         "big.bin                ok\n"
         "empty.bin              ok\n"
         "3 files checked (3 ok, 0 bad)\n"
         "0 errors encountered\n"},
    };
}

// Runs the scenario's tool under strace in `dir`, tracing `calls` (into
// `log`) and injecting `fault` (if any) as well as the scenario's base
// fault, on its files and on the listing only. A file that does not exist
// yet is matched by its absolute name once it is open.
run_result run_traced(const scratch_dir& dir, const scenario& s, const std::string& log, std::string calls,
                      const std::string& fault)
{
    std::vector<std::string> words = {"-f", "-qq"};
    std::vector<std::string> traced = {"list.sfv"};
    for (const input_file& f : s.files) {
        traced.push_back(f.name);
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
    words.emplace_back("--");
    words.push_back(s.kind == mode::tag ? tagwhit_path() : kerfsum_path());
    words.insert(words.end(), s.args.begin(), s.args.end());
    run_options options;
    // LeakSanitizer cannot work under a tracer and would fail every run.
    options.extra_environment = {"ASAN_OPTIONS=detect_leaks=0"};
    return run_tool(strace_path, words, dir.path(), options);
}

void set_up(const scratch_dir& dir, const scenario& s)
{
    for (const input_file& f : s.files) {
        write_file(dir / f.name, f.before);
    }
}

// The lines of a listing that are not comments, CR LF and all.
std::string checksum_lines(const fs::path& listing)
{
    std::istringstream in(fs::exists(listing) ? read_file(listing) : "");
    std::string lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(";")) {
            lines += line + "\n";
        }
    }
    return lines;
}

// The invariants every run must keep. `must_fail`: a failed read, or the
// scenario's base fault, leaves the tool nothing it could call a success.
void check_run(const scratch_dir& dir, const scenario& s, const run_result& run, bool must_fail)
{
    ASSERT_GE(run.status, 0) << "killed by a signal\n" << run.out << run.err;
    if (must_fail) {
        EXPECT_NE(run.status, 0) << run.out;
    }
    const bool success = run.status == 0;
    switch (s.kind) {
    case mode::tag:
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
        if (success) {
            EXPECT_EQ(checksum_lines(dir / "list.sfv"), s.expected) << "exit status 0 with an incomplete listing";
        }
        break;
    case mode::verify:
        if (success) {
            EXPECT_EQ(run.out, s.expected);
        }
        break;
    }
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
    const run_result run = run_traced(dir, s, log.string(), trace_set, "");
    check_run(dir, s, run, !s.base_fault.empty());
    EXPECT_EQ(run.status == 0, s.base_fault.empty()) << run.out << run.err;
    // Lines look like "1234 read(3, ...) = 9".
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

// True when a trace shows `call` failed on purpose.
bool fault_struck(const std::string& trace, const std::string& call)
{
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" " + call + "(") != std::string::npos && line.ends_with("(INJECTED)")) {
            return true;
        }
    }
    return false;
}

TEST(fault_injection, every_call_on_the_given_files_fails_safely)
{
    const std::string why = why_no_fault_injection();
    if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    const auto started = std::chrono::steady_clock::now();
    const scratch_dir log_dir;
    const fs::path log = log_dir / "trace";
    int runs = 0;
    for (const scenario& s : scenarios()) {
        SCOPED_TRACE(s.what);
        const std::map<std::string, int> counts = count_calls(s);
        for (const auto& c : injected_calls) {
            const auto found = counts.find(c.call);
            if (found == counts.end() || s.base_fault.starts_with(c.call + ":")) {
                continue;
            }
            for (const std::string& error : c.errors) {
                for (int n = 1; n <= found->second; ++n) {
                    const std::string fault = c.call + ":error=" + error + ":when=" + std::to_string(n);
                    SCOPED_TRACE("inject=" + fault);
                    const scratch_dir dir;
                    set_up(dir, s);
                    const run_result run = run_traced(dir, s, log.string(), c.call, fault);
                    check_run(dir, s, run, c.call == "read" || !s.base_fault.empty());
                    // A fault that never struck would make this run prove nothing.
                    EXPECT_TRUE(fault_struck(read_file(log), c.call));
                    ++runs;
                }
            }
        }
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault injection: %d runs with one failed call in %.1f s\n", runs, seconds);
}

} // namespace
