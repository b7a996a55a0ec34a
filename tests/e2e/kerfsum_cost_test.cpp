// What kerfsum pays per file, counted in system calls with strace: counts,
// unlike times, are exact on a busy machine.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const strace = "/usr/bin/strace";

// Runs kerfsum with `args` under strace -c, with TZ unset so that the time
// zone comes from /etc/localtime, as on most machines, and returns the
// total number of system calls, or -1 when the run or the count failed.
long system_calls(const scratch_dir& dir, std::vector<std::string> args)
{
    std::vector<std::string> words = {"-c", "-o", "calls.txt", "/usr/bin/env", "-u", "TZ", kerfsum_path()};
    words.insert(words.end(), args.begin(), args.end());
    // LeakSanitizer cannot work under ptrace; a sanitizer build would abort.
    run_options options;
    options.extra_environment = {"ASAN_OPTIONS=detect_leaks=0"};
    if (run_tool(strace, words, dir.path(), options).status != 0) {
        return -1;
    }
    // The summary ends with "100.00 SECONDS USECS/CALL CALLS [ERRORS] total".
    std::istringstream summary(read_file(dir / "calls.txt"));
    std::string line;
    std::string total;
    while (std::getline(summary, line)) {
        if (line.ends_with(" total")) {
            total = line;
        }
    }
    std::istringstream fields(total);
    std::string percent;
    std::string seconds;
    std::string per_call;
    long calls = -1;
    fields >> percent >> seconds >> per_call >> calls;
    return calls;
}

} // namespace

// Create mode must cost what verify mode costs plus the one stat that gives
// each file's comment line its size and time: nothing else per file, such
// as glibc's localtime() looking at /etc/localtime again for every file.
TEST(kerfsum_cost, create_costs_verify_plus_one_stat_per_file)
{
    if (tools_run_emulated() || !fs::exists(strace)) {
        GTEST_SKIP() << "needs strace (Debian package strace) and a natively running kerfsum";
    }
    scratch_dir dir;
    if (const run_result probe = run_tool(strace, {"-o", "/dev/null", "/bin/true"}, dir.path()); probe.status != 0) {
        GTEST_SKIP() << "strace cannot trace here (a container without ptrace?): " << probe.err;
    }
    constexpr long files = 500;
    std::vector<std::string> args = {"c", "list.sfv"};
    for (long i = 0; i < files; ++i) {
        args.push_back("f" + std::to_string(i));
        write_file(dir / args.back(), "4 KiB or 4 bytes: one read and the end");
    }
    const long create = system_calls(dir, args);
    const long verify = system_calls(dir, {"v", "list.sfv"});
    ASSERT_GT(create, 0);
    ASSERT_GT(verify, 0);
    // A few calls either way come from creating the listing, writing it in
    // blocks and reading it back, and one a signal from guarding the new
    // listing; none of them from the files.
    constexpr long guarded_signals = 64;
    EXPECT_LE(create - verify, files + files / 10 + guarded_signals) << "create " << create << ", verify " << verify;
}
