// What kerfsum pays per file, counted in system calls with strace: counts,
// unlike times, are exact on a busy machine.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Runs kerfsum with `args` under strace -c, with TZ unset so that the time
// zone comes from /etc/localtime, as on most machines, and returns the
// number of calls among `which` made, or -1 when the run or the count failed.
long system_calls(const scratch_dir& dir, std::vector<std::string> args, const std::string& which = "all")
{
    args.insert(args.begin(), {"-u", "TZ", tool_path("kerfsum")});
    if (run_traced({"-c", "-o", "calls.txt", "-e", "trace=" + which}, "/usr/bin/env", args, dir.path()).status != 0) {
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
    if (const std::string why = why_no_fault_injection(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    scratch_dir dir;
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
    // Whether names are escaped is asked once per run (isatty is an ioctl),
    // which both modes would otherwise pay for every file alike.
    EXPECT_LE(system_calls(dir, {"v", "list.sfv"}, "ioctl"), 3);
}
