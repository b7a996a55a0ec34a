// Program name normalisation, the banner layout and the error line.
#include "common.hpp"
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// Runs `print` with `stream` (stdout or stderr) redirected into a temporary
// file and returns what it wrote there.
template <typename F>
std::string capture(std::FILE* stream, F print)
{
    std::fflush(stream);
    std::FILE* capture = std::tmpfile();
    EXPECT_NE(capture, nullptr);
    const int saved = dup(fileno(stream));
    dup2(fileno(capture), fileno(stream));
    print();
    std::fflush(stream);
    dup2(saved, fileno(stream));
    close(saved);
    std::string text = read_stream(capture);
    std::fclose(capture);
    return text;
}

std::string normalized(std::string name)
{
    name.push_back('\0');
    normalize_program_name(name.data());
    // Up to the first NUL only, where the normalised name ends.
    return std::string(name.c_str()); // NOLINT(readability-redundant-string-cstr)
}

TEST(normalize_program_name, reduces_paths_to_lower_case_tool_names)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/system/bin/MyTool", "mytool"},
        {"C:\\Tools\\MYTOOL.EXE", "mytool"},
        {"./old.dir/Tool", "tool"},
        {"tool.v2.bin", "tool"},
        {"dir\\sub/Name", "name"},
        {"bin/", ""},
        {".profile", ""},
        {"kerfsum", "kerfsum"},
        {"", ""},
        {"/data/local/tmp/KERFSUM.BIN", "kerfsum"},
        {"A\xC3\x89Z", "a\xC3\x89z"}, // only ASCII capitals are lowered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(normalized(c.in), c.out);
    }
}

TEST(normalize_program_name, leaves_bytes_after_the_new_end_alone)
{
    char name[] = "/a/BC.x";
    normalize_program_name(name);
    EXPECT_EQ(std::string(name, sizeof name), std::string("bc\0BC.x\0", 8));
}

// The test programs' tool_banner is defined in tests/tool_banner.cpp.
TEST(print_banner, prints_five_lines_ending_in_an_empty_one)
{
    EXPECT_EQ(capture(stdout, [] { print_banner(); }), "test - Test title\n"
                                                       "  Test rights notice\n"
                                                       "  from Toolcrate v" TOOLCRATE_VERSION " (64-bit Android)\n"
                                                       "  https://toolcrate.example/\n"
                                                       "\n");
}

TEST(print_error, names_the_file_and_the_saved_error)
{
    EXPECT_EQ(capture(stdout,
                      [] {
                          errno = ENOENT;
                          print_error(nullptr, "list.sfv");
                      }),
              "Error: list.sfv: No such file or directory\n");
    EXPECT_EQ(capture(stdout,
                      [] {
                          errno = EACCES;
                          print_error(nullptr, nullptr);
                      }),
              "Error: Permission denied\n");
}

TEST(print_error, reports_end_of_file_only_for_a_stream_at_its_end)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(capture(stdout,
                      [&] {
                          errno = EIO;
                          print_error(stream, "x");
                      }),
              "Error: x: Input/output error\n");
    EXPECT_EQ(std::fgetc(stream), EOF);
    EXPECT_EQ(capture(stdout,
                      [&] {
                          errno = EIO;
                          print_error(stream, "x");
                      }),
              "Error: x: Unexpected end-of-file\n");
    std::fclose(stream);
}

// A write that failed before the final flush took its reason with it: errno
// has been set by other calls since, so the message claims no reason.
TEST(finish_standard_output, claims_no_reason_for_a_write_that_failed_earlier)
{
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (full < 0) {
        GTEST_SKIP() << "no /dev/full here, where every write fails";
    }
    std::fflush(stdout);
    const int saved = dup(fileno(stdout));
    dup2(full, fileno(stdout));
    close(full);
    std::fputs("lost", stdout);
    EXPECT_NE(std::fflush(stdout), 0) << "the write to /dev/full did not fail";
    bool finished = true;
    const std::string message = capture(stderr, [&] {
        errno = ENOENT;
        finished = finish_standard_output();
    });
    dup2(saved, fileno(stdout));
    close(saved);
    std::clearerr(stdout);
    EXPECT_FALSE(finished);
    EXPECT_EQ(message, "Error: standard output: write error\n");
}

} // namespace
