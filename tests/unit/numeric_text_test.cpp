// The hexadecimal and decimal writers, the integer parser and the
// configuration-error exit.
#include "common.hpp"
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Any value the code under test has no reason to store, so that a stray
// write to errno shows.
constexpr int errno_sentinel = EDOM;

// What `write` put on a fresh temporary stream.
template <typename F>
std::string written(F write)
{
    std::FILE* stream = std::tmpfile();
    if (stream == nullptr) {
        ADD_FAILURE() << "tmpfile failed";
        return {};
    }
    write(stream);
    std::string text = read_stream(stream);
    EXPECT_EQ(std::ferror(stream), 0);
    std::fclose(stream);
    return text;
}

TEST(write_hex, writes_upper_case_digits_padded_to_the_minimum)
{
    const struct {
        std::int64_t value;
        std::int32_t min_digits;
        const char* out;
    } cases[] = {
        {0x1F, 4, "001F"},
        {0x1F, 1, "1F"},
        {0x1F, 0, "1F"},
        {0x1F, -3, "1F"},
        {0, 1, "0"},
        {0, 0, ""},
        {0, -1, ""},
        {0, INT32_MIN, ""},
        {0, 16, "0000000000000000"},
        {0, 17, "0000000000000000"},
        {0x1F, 20, "000000000000001F"},
        {0x1F, INT32_MAX, "000000000000001F"},
        {0x100, 2, "100"}, // inner zeros stay
        {0xABCDEF, 0, "ABCDEF"},
        {0x123456789ABCDEF0, 0, "123456789ABCDEF0"},
        {-1, 0, "FFFFFFFFFFFFFFFF"},
        {INT64_MIN, 0, "8000000000000000"},
        {INT64_MAX, 20, "7FFFFFFFFFFFFFFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "value " << c.value << ", min_digits " << c.min_digits);
        EXPECT_EQ(written([&](std::FILE* s) { write_hex(s, c.value, c.min_digits); }), c.out);
    }
}

TEST(write_decimal, writes_sign_and_every_digit)
{
    const struct {
        std::int64_t value;
        const char* out;
    } cases[] = {
        {0, "0"},
        {7, "7"},
        {-7, "-7"},
        {10, "10"},
        {-10, "-10"},
        {1000000, "1000000"},
        {-1, "-1"},
        {INT64_MAX, "9223372036854775807"},
        {INT64_MIN + 1, "-9223372036854775807"},
        {INT64_MIN, "-9223372036854775808"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(written([&](std::FILE* s) { write_decimal(s, c.value); }), c.out);
    }
}

TEST(write_decimal_digits, writes_the_whole_unsigned_range)
{
    const struct {
        std::uint64_t magnitude;
        const char* out;
    } cases[] = {
        {0, "0"},
        {9, "9"},
        {10, "10"},
        {90, "90"},
        {9223372036854775808U, "9223372036854775808"},
        {UINT64_MAX, "18446744073709551615"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        EXPECT_EQ(written([&](std::FILE* s) { write_decimal_digits(s, c.magnitude); }), c.out);
    }
}

TEST(numeric_writers, append_to_the_stream_without_flushing_it)
{
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::setvbuf(stream, nullptr, _IOFBF, BUFSIZ), 0);
    ASSERT_GE(std::fputs("[", stream), 0);
    write_hex(stream, 0xAB, 4);
    write_decimal(stream, INT64_MIN);
    write_decimal_digits(stream, 5);

    struct stat status {};
    ASSERT_EQ(fstat(fileno(stream), &status), 0);
    EXPECT_EQ(status.st_size, 0) << "the writers flushed the stream";

    const std::string expected = "[00AB-92233720368547758085";
    ASSERT_EQ(std::fflush(stream), 0);
    ASSERT_EQ(fstat(fileno(stream), &status), 0);
    EXPECT_EQ(status.st_size, static_cast<off_t>(expected.size()));
    const std::string text = read_stream(stream);
    std::fclose(stream);
    EXPECT_EQ(text, expected);
}

// One parse: the text, the base, and what should come of it. `end` is the
// offset of the end position from the start of the text.
struct parse_case {
    const char* text;
    int base;
    std::int64_t value;
    std::ptrdiff_t end;
    int errno_after; // errno_sentinel when errno must stay untouched
};

void check_parse(const parse_case& c)
{
    SCOPED_TRACE(testing::Message() << '"' << c.text << "\" base " << c.base);
    const char* end = nullptr;
    errno = errno_sentinel;
    EXPECT_EQ(parse_integer(c.text, &end, c.base), c.value);
    EXPECT_EQ(errno, c.errno_after);
    EXPECT_EQ(end - c.text, c.end);

    // Without a place for the end the result and errno are the same.
    errno = errno_sentinel;
    EXPECT_EQ(parse_integer(c.text, nullptr, c.base), c.value);
    EXPECT_EQ(errno, c.errno_after);
}

TEST(parse_integer, chooses_the_base_from_the_prefix)
{
    const parse_case cases[] = {
        {"  -0x1F", 0, -31, 7, errno_sentinel},
        {"0X1f", 0, 31, 4, errno_sentinel},
        {"0x1F", 16, 31, 4, errno_sentinel},
        {"1F", 16, 31, 2, errno_sentinel},
        {"017", 0, 15, 3, errno_sentinel},
        {"017", 16, 23, 3, errno_sentinel}, // a leading 0 keeps base 16
        {"08", 0, 0, 1, errno_sentinel},
        {"08", 16, 8, 2, errno_sentinel},
        {"0", 0, 0, 1, errno_sentinel},
        {"00x5", 0, 0, 2, errno_sentinel},
        {"0x0x", 0, 0, 3, errno_sentinel},
        {"19", 0, 19, 2, errno_sentinel},
        {"0x1A", 10, 0, 1, errno_sentinel},
        {"0x1A", 36, 42814, 4, errno_sentinel}, // 'x' is a digit in base 36
        // A "0x" without a hex digit after it reads no digit at all.
        {"0xZ", 16, 0, 0, errno_sentinel},
        {"0xZ", 0, 0, 0, errno_sentinel},
        {" -0x", 0, 0, 0, errno_sentinel},
        {"0x", 16, 0, 0, errno_sentinel},
    };
    for (const auto& c : cases) {
        check_parse(c);
    }
}

TEST(parse_integer, reads_white_space_sign_and_digits_by_fixed_rules)
{
    const parse_case cases[] = {
        {" \t\n\v\f\r42", 10, 42, 8, errno_sentinel},
        {"+7", 10, 7, 2, errno_sentinel},
        {"-0", 10, 0, 2, errno_sentinel},
        {"12 34", 10, 12, 2, errno_sentinel},
        {"zz", 36, 1295, 2, errno_sentinel},
        {"ZZ", 36, 1295, 2, errno_sentinel},
        {"y", 35, 34, 1, errno_sentinel},
        {"102", 2, 2, 2, errno_sentinel},
        {"9:", 10, 9, 1, errno_sentinel},
        // Text without a digit gives 0 and ends at the very start.
        {"+ 5", 10, 0, 0, errno_sentinel},
        {"- 5", 10, 0, 0, errno_sentinel},
        {"--5", 10, 0, 0, errno_sentinel},
        {"+-5", 10, 0, 0, errno_sentinel},
        {"   ", 10, 0, 0, errno_sentinel},
        {"", 10, 0, 0, errno_sentinel},
        {"-", 0, 0, 0, errno_sentinel},
        {"z", 35, 0, 0, errno_sentinel},
        {"8", 8, 0, 0, errno_sentinel},
        {"/", 36, 0, 0, errno_sentinel},
        {"@", 36, 0, 0, errno_sentinel},
        {"[", 36, 0, 0, errno_sentinel},
        {"`", 36, 0, 0, errno_sentinel},
        {"{", 36, 0, 0, errno_sentinel},
        {"\x1F"
         "5",
         10, 0, 0, errno_sentinel}, // bytes around the white space
        {"\x0E"
         "5",
         10, 0, 0, errno_sentinel},
        {"\x85"
         "5",
         10, 0, 0, errno_sentinel},
        {"\xA0"
         "5",
         10, 0, 0, errno_sentinel},
    };
    for (const auto& c : cases) {
        check_parse(c);
    }
}

TEST(parse_integer, saturates_on_overflow_and_reads_every_digit)
{
    const parse_case cases[] = {
        {"9223372036854775807", 10, INT64_MAX, 19, errno_sentinel},
        {"9223372036854775808", 10, INT64_MAX, 19, ERANGE},
        {"92233720368547758070", 10, INT64_MAX, 20, ERANGE},
        {"+99999999999999999999999abc", 10, INT64_MAX, 24, ERANGE},
        {"-9223372036854775808", 10, INT64_MIN, 20, errno_sentinel},
        {"-9223372036854775809", 10, INT64_MIN, 20, ERANGE},
        {"-99999999999999999999999 ", 10, INT64_MIN, 24, ERANGE},
        {"0000000000000000000000009223372036854775807", 10, INT64_MAX, 43, errno_sentinel},
        {"7fffffffffffffff", 16, INT64_MAX, 16, errno_sentinel},
        {"8000000000000000", 16, INT64_MAX, 16, ERANGE},
        {"-8000000000000000", 16, INT64_MIN, 17, errno_sentinel},
        {"-0x8000000000000001", 0, INT64_MIN, 19, ERANGE},
        {"0777777777777777777777", 0, INT64_MAX, 22, errno_sentinel},
        {"01000000000000000000000", 0, INT64_MAX, 23, ERANGE},
        {"-1000000000000000000000000000000000000000000000000000000000000000", 2, INT64_MIN, 65, errno_sentinel},
        {"1000000000000000000000000000000000000000000000000000000000000000", 2, INT64_MAX, 64, ERANGE},
        {"1y2p0ij32e8e7", 36, INT64_MAX, 13, errno_sentinel},
        {"1y2p0ij32e8e8", 36, INT64_MAX, 13, ERANGE},
        {"-1y2p0ij32e8e8", 36, INT64_MIN, 14, errno_sentinel},
        {"-1y2p0ij32e8e9", 36, INT64_MIN, 14, ERANGE},
    };
    for (const auto& c : cases) {
        check_parse(c);
    }
}

TEST(parse_integer, rejects_a_base_outside_the_supported_range)
{
    const parse_case cases[] = {
        {"123", 1, 0, 0, EINVAL},      {"123", 37, 0, 0, EINVAL},      {"123", -1, 0, 0, EINVAL},
        {"  0x10", -16, 0, 0, EINVAL}, {"0", INT32_MIN, 0, 0, EINVAL}, {"9", INT32_MAX, 0, 0, EINVAL},
        {"", 99, 0, 0, EINVAL},
    };
    for (const auto& c : cases) {
        check_parse(c);
    }
}

// Runs both parsers on `text` and checks that they agree; returns false,
// comparing nothing, for text on which they are meant to differ.
bool compare_with_strtoll(const std::string& text, int base)
{
    const char* p = text.c_str();
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    if (*p == '+' || *p == '-') {
        ++p;
    }
    // A "0x" with no hex digit after it: strtoll reads the '0', parse_integer
    // reads nothing. Some C libraries also take a "0b" prefix in base 0 and 2.
    const bool hex_base = base == 0 || base == 16;
    const bool binary_base = base == 0 || base == 2;
    if (p[0] == '0' &&
        ((hex_base && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])) == 0) ||
         (binary_base && (p[1] == 'b' || p[1] == 'B')))) {
        return false;
    }

    SCOPED_TRACE(testing::Message() << '"' << text << "\" base " << base);
    char* expected_end = nullptr;
    errno = 0;
    const long long expected = std::strtoll(text.c_str(), &expected_end, base);
    const bool expected_range_error = errno == ERANGE; // EINVAL may come for "no digits"

    const char* end = nullptr;
    errno = 0;
    const std::int64_t value = parse_integer(text.c_str(), &end, base);
    const int parse_errno = errno;

    EXPECT_EQ(value, expected);
    EXPECT_EQ(end - text.c_str(), expected_end - text.c_str());
    EXPECT_EQ(parse_errno, expected_range_error ? ERANGE : 0);
    return true;
}

TEST(parse_integer, agrees_with_strtoll_on_hand_picked_texts_in_every_base)
{
    // "\205" is the byte 0x85, which no C locale takes for white space.
    const char* const texts[] = {
        "",
        " ",
        "0",
        "-0",
        "+0",
        "00",
        "0x",
        "0X1",
        "0x1",
        "0xg",
        "0x7FFFFFFFFFFFFFFF",
        "-0x8000000000000000",
        "0x8000000000000000",
        "  \t-17",
        "+z",
        "-Zz",
        "123abc",
        "1y2p0ij32e8e7",
        "1y2p0ij32e8e8",
        "-1y2p0ij32e8e8",
        "-1y2p0ij32e8e9",
        "9223372036854775807",
        "9223372036854775808",
        "-9223372036854775808",
        "-9223372036854775809",
        "777777777777777777777",
        "1000000000000000000000",
        "18446744073709551615",
        "18446744073709551616",
        "-18446744073709551616",
        "ffffffffffffffff",
        "10000000000000000",
        "\2051",
        "1\205",
        "0b1",
        "--1",
        "+-1",
    };
    for (const char* text : texts) {
        for (int base = 0; base <= 36; base = base == 0 ? 2 : base + 1) {
            compare_with_strtoll(text, base);
        }
    }
}

TEST(parse_integer, agrees_with_strtoll_on_random_texts)
{
    // Fixed seed: a failure must repeat.
    std::mt19937_64 random(20240521);
    const auto pick = [&](std::uint64_t n) { return random() % n; };
    // Weighted toward digits and prefixes so that most texts hold a number.
    static constexpr char alphabet[] = " \t\n\v\f\r+-00000xX0123456789"
                                       "0123456789abcdefzZAF@[`{/:\x85\xA0";
    static constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

    int compared = 0;
    constexpr int rounds = 100000;
    for (int round = 0; round < rounds; ++round) {
        const int base = pick(5) == 0 ? 0 : static_cast<int>(2 + pick(35));
        std::string text;
        if (round % 2 == 0) {
            // Free text from the alphabet.
            const auto length = pick(24);
            for (std::uint64_t i = 0; i < length; ++i) {
                text += alphabet[pick(sizeof alphabet - 1)];
            }
        } else {
            // A well-formed number of a random size, often near the limits.
            const int radix = base == 0 ? (pick(2) == 0 ? 10 : 16) : base;
            std::uint64_t magnitude = random() >> pick(64);
            if (pick(3) == 0) {
                magnitude = (std::uint64_t{1} << 63) - 2 + pick(5);
            }
            text += " -+"[pick(3)];
            if (base == 0 && radix == 16) {
                text += "0x";
            }
            std::string number;
            do {
                number.insert(number.begin(), digits[magnitude % static_cast<std::uint64_t>(radix)]);
                magnitude /= static_cast<std::uint64_t>(radix);
            } while (magnitude != 0);
            text += number;
            if (pick(4) == 0) {
                text += digits[pick(36)]; // may overflow, or end the number
            }
        }
        if (compare_with_strtoll(text, base)) {
            ++compared;
        }
        if (testing::Test::HasFailure()) {
            break; // one reported text is enough
        }
    }
    // Guards against a generator that only makes texts the comparison skips.
    EXPECT_GT(compared, rounds * 9 / 10);
}

void report_exit_handler()
{
    std::fputs("exit handler ran\n", stdout);
}

TEST(exit_configuration_error, prints_its_line_and_exits_with_status_1)
{
    // The child must share this open file, so it has to be forked, not
    // started afresh.
    GTEST_FLAG_SET(death_test_style, "fast");
    std::FILE* capture = std::tmpfile();
    ASSERT_NE(capture, nullptr);

    // In the child, stdout goes to `capture`; the unflushed text and the exit
    // handler's line show that the process ends through exit().
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            if (dup2(fileno(capture), STDOUT_FILENO) == -1) {
                std::_Exit(2);
            }
            std::atexit(report_exit_handler);
            std::fputs("pending ", stdout);
            exit_configuration_error();
        },
        testing::ExitedWithCode(1), "");

    const std::string text = read_stream(capture);
    std::fclose(capture);
    EXPECT_EQ(text, "pending Configuration error\nexit handler ran\n");
}

} // namespace
