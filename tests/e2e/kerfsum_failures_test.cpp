// kerfsum end to end when things go wrong: files that open but cannot be
// read, a listing that must not be overwritten, a full disk, and failure
// counts too large for an exit status.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string verify_summary_two_errors = "0 files checked (0 ok, 0 bad)\n2 errors encountered\n";

// A directory opens for reading but cannot be read; /proc/self/mem fails
// its first read with an I/O error. Both are errors, never "ok".
TEST(kerfsum_read_errors, unreadable_files_named_in_a_listing)
{
    scratch_dir dir;
    fs::create_directory(dir / "subdir");
    write_file(dir / "list.sfv", "subdir 00000000\r\n/proc/self/mem 00000000\r\n");
    const run_result run = run_tool(tool_path("kerfsum"), {"v", "list.sfv"}, dir.path());
    EXPECT_EQ(run.out, "Verifying SFV file list.sfv\n"
                       "subdir                 " +
                           error_text(EISDIR) +
                           "\n"
                           "/proc/self/mem         " +
                           error_text(EIO) + "\n" + verify_summary_two_errors);
    EXPECT_EQ(run.status, 2);
}

TEST(kerfsum_read_errors, unreadable_files_given_to_create)
{
    scratch_dir dir;
    write_file(dir / "digits.txt", "123456789");
    fs::create_directory(dir / "subdir");
    const run_result run = run_tool(tool_path("kerfsum"), {"c", "list.sfv", "/proc/self/mem", "subdir", "digits.txt"},
                                    dir.path());
    EXPECT_EQ(run.out, "Creating SFV file list.sfv\n"
                       "/proc/self/mem         " +
                           error_text(EIO) +
                           "\n"
                           "digits.txt             CBF43926\n"
                           "1 file processed\n1 error encountered\n");
    EXPECT_EQ(run.status, 1);
    // The file that stat saw keeps its comment line, but gets no checksum.
    const std::string listing = read_file(dir / "list.sfv");
    EXPECT_NE(listing.find(" /proc/self/mem\r\n;            9  "), std::string::npos) << listing;
    EXPECT_TRUE(listing.ends_with(" digits.txt\r\ndigits.txt CBF43926\r\n")) << listing;
}

TEST(kerfsum_read_errors, unreadable_listing)
{
    const struct {
        const char* listing;
        int error;
    } cases[] = {
        {"/proc/self/mem", EIO},
        {"subdir", EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.listing);
        scratch_dir dir;
        fs::create_directory(dir / "subdir");
        const run_result run = run_tool(tool_path("kerfsum"), {"v", c.listing}, dir.path());
        EXPECT_EQ(run.out, std::string("Verifying SFV file ") + c.listing + "\nError: " + c.listing + ": " +
                               error_text(c.error) + "\n");
        EXPECT_EQ(run.status, 1);
    }
}

void make_socket(const fs::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    // A failed assertion here returns with no descriptor open.
    // cppcheck-suppress resourceLeak
    ASSERT_GE(fd, 0);
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

// Whatever stands at the listing's path stays as it is, including things
// that cannot be opened for reading, and nothing is created through a link.
// `probe_failed`: the check for an existing listing is told there is none,
// as when the listing appears between that check and the end of the run,
// when the listing, written under a temporary name, is to take its name:
// that step must then refuse it itself, and leave nothing behind.
void check_never_overwrites(bool probe_failed)
{
    const struct {
        const char* what;
        void (*make)(const scratch_dir&);
    } cases[] = {
        {"empty file", [](const scratch_dir& dir) { write_file(dir / "list.sfv", ""); }},
        {"file without any permission",
         [](const scratch_dir& dir) {
             write_file(dir / "list.sfv", "old\r\n");
             fs::permissions(dir / "list.sfv", fs::perms::none);
         }},
        {"dangling symbolic link", [](const scratch_dir& dir) { fs::create_symlink("target.sfv", dir / "list.sfv"); }},
        {"symbolic link loop", [](const scratch_dir& dir) { fs::create_symlink("list.sfv", dir / "list.sfv"); }},
        {"socket", [](const scratch_dir& dir) { make_socket(dir / "list.sfv"); }},
        // Opening it for reading would wait for a writer forever.
        {"named pipe", [](const scratch_dir& dir) { ASSERT_EQ(::mkfifo((dir / "list.sfv").c_str(), 0600), 0); }},
        {"directory", [](const scratch_dir& dir) { fs::create_directory(dir / "list.sfv"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / "digits.txt", "123456789");
        c.make(dir);
        struct stat before {};
        ASSERT_EQ(::lstat((dir / "list.sfv").c_str(), &before), 0);
        const std::vector<std::string> args = {"c", "list.sfv", "digits.txt"};
        const scratch_dir log_dir;
        // The probe is an lstat, which the C library makes as newfstatat.
        const run_result run = probe_failed
                                   ? run_traced({"-qq", "-o", (log_dir / "trace").string(), "-P", "list.sfv", "-e",
                                                 "trace=newfstatat", "-e", "inject=newfstatat:error=ENOENT:when=1"},
                                                tool_path("kerfsum"), args, dir.path())
                                   : run_tool(tool_path("kerfsum"), args, dir.path());
        const std::string refused = "Error: list.sfv already exists; will not overwrite\n";
        EXPECT_EQ(run.out, probe_failed ? "Creating SFV file list.sfv\ndigits.txt             CBF43926\n"
                                          "1 file processed\n0 errors encountered\n" +
                                              refused
                                        : refused);
        EXPECT_EQ(run.status, 1);
        if (probe_failed) {
            EXPECT_NE(read_file(log_dir / "trace").find("(INJECTED)"), std::string::npos) << "the probe was not failed";
        }
        struct stat after {};
        ASSERT_EQ(::lstat((dir / "list.sfv").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_size, before.st_size);
        EXPECT_FALSE(fs::exists(dir / "target.sfv"));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2)
            << "something besides digits.txt and list.sfv was left";
    }
}

TEST(kerfsum_exclusive_creation, never_overwrites)
{
    check_never_overwrites(false);
}

TEST(kerfsum_exclusive_creation, never_overwrites_what_appears_after_the_probe)
{
    if (const std::string why = why_no_fault_injection(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    check_never_overwrites(true);
}

TEST(kerfsum_exclusive_creation, listing_that_cannot_be_created)
{
    scratch_dir dir;
    write_file(dir / "digits.txt", "123456789");
    const run_result run = run_tool(tool_path("kerfsum"), {"c", "nodir/list.sfv", "digits.txt"}, dir.path());
    EXPECT_EQ(run.out, "Error: nodir/list.sfv: No such file or directory\n");
    EXPECT_EQ(run.status, 1);
}

// A listing that does not reach the disk is reported after the summary, is
// never a success, and is removed: cut short, it would verify while naming
// only some of the files.
TEST(kerfsum_full_disk, failed_listing_write_is_an_error)
{
    if (!fs::exists("/usr/bin/unshare")) {
        GTEST_SKIP() << "needs unshare(1) (Debian package util-linux)";
    }
    // Many long names make a listing of about 15 KiB: the disk takes the
    // first 4 KiB buffer, and a line write fails on the second, while files
    // are still being processed, with the write's own error. A full disk
    // lets even the first buffer fail, when the listing is closed.
    std::vector<std::string> many = {"c", "list.sfv"};
    std::string many_console;
    for (int i = 0; i < 80; ++i) {
        const std::string name = "../files/" + std::string(60, 'f') + std::to_string(100 + i);
        many.push_back(name);
        many_console += name + " 00000000\n";
    }
    const struct {
        const char* what;
        std::size_t filler;
        std::vector<std::string> args;
        std::string console;
    } cases[] = {
        {"full from the start",
         4096,
         {"c", "list.sfv", "../files/digits.txt"},
         "../files/digits.txt    CBF43926\n1 file processed\n0 errors encountered\n"},
        {"filled up on the way", 0, many, many_console + "80 files processed\n0 errors encountered\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        fs::create_directory(dir / "files");
        for (std::size_t i = 2; i < c.args.size(); ++i) {
            write_file(dir / fs::path(c.args[i]).lexically_relative(".."), "");
        }
        write_file(dir / "files" / "digits.txt", "123456789");
        const std::optional<run_result> run = run_on_tiny_tmpfs(dir, 4, c.filler, tool_path("kerfsum"), c.args);
        if (!run) {
            GTEST_SKIP() << "cannot mount a small tmpfs here (needs root or user namespaces, and a root "
                            "directory that is a mount point, which a chroot may lack)";
        }
        EXPECT_EQ(run->out,
                  "Creating SFV file list.sfv\n" + c.console + "Error: list.sfv: " + error_text(ENOSPC) + "\n");
        EXPECT_EQ(run->status, 1);
        EXPECT_FALSE(fs::exists(dir / "after" / "list.sfv"));
        EXPECT_FALSE(fs::exists(dir / "after" / ".list.sfv.unfinished"));
    }
}

// Exit statuses stop at 255: 256 failures must not read as success.
TEST(kerfsum_exit_status, large_failure_counts_give_255)
{
    for (const int count : {254, 255, 256, 300}) {
        SCOPED_TRACE(::testing::Message() << count << " missing files");
        scratch_dir dir;
        std::string listing;
        std::vector<std::string> args = {"c", "list.sfv"};
        for (int i = 0; i < count; ++i) {
            listing += "m" + std::to_string(i) + " 00000000\r\n";
            args.push_back("m" + std::to_string(i));
        }
        write_file(dir / "missing.sfv", listing);
        const int expected = count < 255 ? count : 255;
        EXPECT_EQ(run_tool(tool_path("kerfsum"), {"v", "missing.sfv"}, dir.path()).status, expected);
        EXPECT_EQ(run_tool(tool_path("kerfsum"), args, dir.path()).status, expected);
    }
}

// When nobody can read the results: verify mode stops at the next file, as
// it changes nothing; create mode still writes the whole listing. Either
// way the lost output counts as one more failure and is reported on stderr.
TEST(kerfsum_lost_output, a_closed_pipe_or_a_full_device)
{
    for (const lost_output_case& c : lost_output_cases) {
        SCOPED_TRACE(c.error);
        scratch_dir dir;
        write_file(dir / "digits.txt", "123456789");
        write_file(dir / "list.sfv", "digits.txt CBF43926\r\ndigits.txt 00000000\r\nmissing 00000000\r\n");
        run_options options;
        options.out = c.sink;

        // Had it gone on, the bad and the missing file would make 3.
        const run_result verify = run_tool(tool_path("kerfsum"), {"v", "list.sfv"}, dir.path(), options);
        EXPECT_EQ(verify.err, c.error);
        EXPECT_EQ(verify.status, 1);

        const run_result create = run_tool(tool_path("kerfsum"),
                                           {"c", "new.sfv", "digits.txt", "missing", "digits.txt"}, dir.path(),
                                           options);
        EXPECT_EQ(create.err, c.error);
        EXPECT_EQ(create.status, 2); // the missing file and the output
        const std::string listing = read_file(dir / "new.sfv");
        EXPECT_TRUE(listing.ends_with("\r\ndigits.txt CBF43926\r\ndigits.txt CBF43926\r\n")) << listing;
    }
}

} // namespace
