// kerfsum v end to end: the looser listing text it accepts, its results and
// summaries, and the limit on the length of a line.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string summary(std::uint64_t ok, std::uint64_t bad, std::uint64_t errors)
{
    const std::uint64_t checked = ok + bad;
    return std::to_string(checked) + " file" + (checked == 1 ? "" : "s") + " checked (" + std::to_string(ok) + " ok, " +
           std::to_string(bad) + " bad)\n" + std::to_string(errors) + " error" + (errors == 1 ? "" : "s") +
           " encountered\n";
}

// Every case runs in a directory holding digits.txt and "my file.txt" (both
// the digits 1 to 9, CRC CBF43926) and the empty file empty.bin (00000000).
void fill_directory(const scratch_dir& dir)
{
    write_file(dir / "digits.txt", "123456789");
    write_file(dir / "my file.txt", "123456789");
    write_file(dir / "empty.bin", "");
}

struct verify_case {
    const char* what;
    std::string listing;
    std::string results; // console output between the first line and the summary
    std::string summary;
    int status;
};

void run_case(const verify_case& c)
{
    SCOPED_TRACE(c.what);
    scratch_dir dir;
    fill_directory(dir);
    write_file(dir / "list.sfv", c.listing);
    const run_result run = run_tool(tool_path("kerfsum"), {"v", "list.sfv"}, dir.path());
    EXPECT_EQ(run.out, "Verifying SFV file list.sfv\n" + c.results + c.summary);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, c.status);
}

const std::string my_file_ok = "my file.txt            ok\n";
const std::string digits_ok = "digits.txt             ok\n";
const std::string empty_ok = "empty.bin              ok\n";

TEST(kerfsum_verify, accepts_looser_listing_text)
{
    using namespace std::string_literals;
    const verify_case cases[] = {
        {"empty listing", "", "", summary(0, 0, 0), 0},
        {"only blank lines and comments", "\r\n\n  \t; a remark\r\n;\r\n   \r\n\f;x", "", summary(0, 0, 0), 0},
        {"space, tab, runs of blanks, 0x, lower case",
         "my file.txt CBF43926\r\nmy file.txt\tcbf43926\r\n  my file.txt   0xCBF43926  \r\n",
         my_file_ok + my_file_ok + my_file_ok, summary(3, 0, 0), 0},
        {"vertical tab and form feed, 0X, more than eight digits, no digits",
         "digits.txt\v\f0XCBF43926\r\ndigits.txt 1CBF43926\nempty.bin xyz\n", digits_ok + digits_ok + empty_ok,
         summary(3, 0, 0), 0},
        {"a minus sign negates", "digits.txt -340BC6DA\r\n", digits_ok, summary(1, 0, 0), 0},
        {"a line of one word is ignored",
         "digits.txt\r\ndigits.txt\xA0"
         "CBF43926\r\n  empty.bin  \r\n",
         "", summary(0, 0, 0), 0},
        {"comments after leading blanks, a name starting with a semicolon",
         "   ; digits.txt 00000000\r\n\t;x\r\n;digits.txt 00000000\r\n", "", summary(0, 0, 0), 0},
        {"a semicolon inside a line is part of the name", "digits.txt CBF43926 ; note\r\n",
         "digits.txt CBF43926 ;  No such file or directory\n", summary(0, 0, 1), 1},
        {"a NUL byte ends a line", "digits.txt CBF43926\0empty.bin 00000000\r\n"s, digits_ok + empty_ok,
         summary(2, 0, 0), 0},
        {"a NUL byte inside a name", "dig\0its.txt CBF43926\r\n"s, "its.txt                No such file or directory\n",
         summary(0, 0, 1), 1},
        {"a comment after a NUL byte", "digits.txt CBF43926\0; empty.bin 00000000\r\n"s, digits_ok, summary(1, 0, 0),
         0},
        {"NUL bytes alone, last line without a newline", "\0\0digits.txt CBF43926"s, digits_ok, summary(1, 0, 0), 0},
        {"a UTF-8 byte-order mark at the start is skipped",
         "\xEF\xBB\xBF"
         "digits.txt CBF43926\r\n",
         digits_ok, summary(1, 0, 0), 0},
        {"before a comment too", "\xEF\xBB\xBF; remark\r\ndigits.txt CBF43926\r\n", digits_ok, summary(1, 0, 0), 0},
        {"alone", "\xEF\xBB\xBF", "", summary(0, 0, 0), 0},
        {"but nowhere else",
         "digits.txt CBF43926\r\n\xEF\xBB\xBF"
         "empty.bin 00000000\r\n",
         digits_ok + "\xEF\xBB\xBF"
                     "empty.bin           No such file or directory\n",
         summary(1, 0, 1), 1},
        {"the start of a mark is part of the name",
         "\xEF\xBB"
         "digits.txt CBF43926\r\n",
         "\xEF\xBB"
         "digits.txt           No such file or directory\n",
         summary(0, 0, 1), 1},
        {"UTF-16, little-endian",
         "\xFF\xFE"
         "d\0i\0g\0 \0"
         "0\0\r\0\n\0"s,
         "Corrupt SFV file\n", "", 1},
        {"UTF-16, big-endian",
         "\xFE\xFF\0"
         "d\0i\0g\0 \0"
         "0\0\r\0\n"s,
         "Corrupt SFV file\n", "", 1},
        {"UTF-16 without a mark, little-endian",
         "d\0i\0g\0i\0t\0s\0.\0t\0x\0t\0 \0"
         "0\0\r\0\n\0"s,
         "Corrupt SFV file\n", "", 1},
        {"UTF-16 without a mark, big-endian",
         "\0;\0 \0x\0\r\0\n\0d\0i\0g\0 \0"
         "0\0\r\0\n"s,
         "Corrupt SFV file\n", "", 1},
        // "Песня.mp3 DEADBEEF" in UTF-16LE: no NUL among its first bytes.
        {"UTF-16 without a mark, Cyrillic first",
         "\x1F\x04\x35\x04\x41\x04\x3D\x04\x4F\x04.\0m\0p\0"
         "3\0 \0D\0E\0A\0D\0B\0E\0E\0F\0\r\0\n\0"s,
         "Corrupt SFV file\n", "", 1},
        {"nothing but NUL bytes", std::string(4096, '\0'), "Corrupt SFV file\n", "", 1},
        {"a stray NUL after the first byte", "x\0digits.txt CBF43926\r\n"s, digits_ok, summary(1, 0, 0), 0},
        {"one ok, one bad, one missing", "digits.txt CBF43926\r\nempty.bin 1234abcd\r\nmissing.txt 00000000\r\n",
         digits_ok + "empty.bin              *** BAD *** (00000000, should be 1234ABCD)\n"
                     "missing.txt            No such file or directory\n",
         summary(1, 1, 1), 2},
        {"two bad, one missing", "digits.txt 0\r\nmissing.txt 0\r\nempty.bin FFFFFFFFFFFFFFFFFFFF\r\n",
         "digits.txt             *** BAD *** (CBF43926, should be 00000000)\n"
         "missing.txt            No such file or directory\n"
         "empty.bin              *** BAD *** (00000000, should be FFFFFFFF)\n",
         summary(0, 2, 1), 3},
    };
    for (const verify_case& c : cases) {
        run_case(c);
    }
}

// A line may hold 30,098 bytes, counted from its first non-blank byte to the
// byte before its line feed, carriage return included.
TEST(kerfsum_verify, longest_line)
{
    const auto line_of = [](std::size_t length) {
        const std::string name = "digits.txt";
        const std::string crc = "CBF43926\r";
        return "  " + name + std::string(length - name.size() - crc.size(), ' ') + crc + "\n";
    };
    run_case({"30,098 bytes", line_of(30098) + "empty.bin 00000000\r\n", digits_ok + empty_ok, summary(2, 0, 0), 0});
    run_case({"30,099 bytes", "empty.bin 00000000\r\n" + line_of(30099) + "digits.txt CBF43926\r\n",
              empty_ok + "Corrupt SFV file\n", "", 1});
}

TEST(kerfsum_verify, names_are_relative_to_the_working_directory)
{
    scratch_dir dir;
    fill_directory(dir);
    fs::create_directory(dir / "sub");
    write_file(dir / "sub" / "digits.txt", "not the digits");
    write_file(dir / "sub" / "list.sfv", "digits.txt CBF43926\r\n");
    const run_result run = run_tool(tool_path("kerfsum"), {"v", "sub/list.sfv"}, dir.path());
    EXPECT_EQ(run.out, "Verifying SFV file sub/list.sfv\n" + digits_ok + summary(1, 0, 0));
    EXPECT_EQ(run.status, 0);
}

TEST(kerfsum_verify, missing_listing)
{
    scratch_dir dir;
    const run_result run = run_tool(tool_path("kerfsum"), {"v", "missing.sfv"}, dir.path());
    EXPECT_EQ(run.out, "Error: missing.sfv: No such file or directory\n");
    EXPECT_EQ(run.status, 1);
}

} // namespace
