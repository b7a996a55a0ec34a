// Numeric text routines that work without the formatted-print machinery:
// hexadecimal and decimal writers, and an integer parser.
#include "common.hpp"

#include <cerrno>
#include <cstdlib>

namespace {

// Upper case only: these digits end up in listings and screens that are
// compared byte for byte.
constexpr char digit_set[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

constexpr int hex_digit_count = 16; // 4-bit digits in a 64-bit value

// Largest magnitudes a signed 64-bit result can take, by sign.
constexpr std::uint64_t positive_limit = static_cast<std::uint64_t>(INT64_MAX);
constexpr std::uint64_t negative_limit = positive_limit + 1;

// Value of `c` as a digit in bases up to 36, or 36 (never a digit) when it
// is none.
[[nodiscard]] unsigned digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned>(c - 'A') + 10;
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned>(c - 'a') + 10;
    }
    return 36;
}

void put_char(std::FILE* stream, char c)
{
    // Write errors are the caller's to notice (ferror); these helpers report none.
    static_cast<void>(std::fputc(static_cast<unsigned char>(c), stream));
}

// Where a number's digits begin, after blanks, one sign and a base prefix.
struct number_start {
    const char* digits;
    bool negative;
    std::uint64_t radix;
};

// Reads the blanks, the sign and the "0x" prefix at the front of `text` and
// settles the base (0 becomes 8, 10 or 16 by the prefix).
number_start read_number_start(const char* text, int base)
{
    const char* p = text;
    while (is_white_space(static_cast<unsigned char>(*p))) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    // The "0x" is taken without looking for a hex digit after it; if none
    // follows, no digit is read and the end falls back to the start of the
    // text.
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    return {p, negative, static_cast<std::uint64_t>(base)};
}

// The digits of a number, accumulated up to a magnitude limit.
struct digit_run {
    const char* end;         // the first byte that is no digit of the base
    std::uint64_t magnitude; // valid unless `overflow`
    bool overflow;
};

// Reads every digit of base `radix` from `p`. A magnitude that would pass
// `limit` overflows, but the digits are still consumed, so that the end
// lands after the last one.
digit_run read_digits(const char* p, std::uint64_t radix, std::uint64_t limit)
{
    const std::uint64_t cutoff = limit / radix;
    const std::uint64_t cutoff_digit = limit % radix;
    digit_run run{p, 0, false};
    for (;; ++run.end) {
        const std::uint64_t digit = digit_value(static_cast<unsigned char>(*run.end));
        if (digit >= radix) {
            return run;
        }
        if (run.overflow || run.magnitude > cutoff || (run.magnitude == cutoff && digit > cutoff_digit)) {
            run.overflow = true;
        } else {
            run.magnitude = run.magnitude * radix + digit;
        }
    }
}

} // namespace

void write_hex(std::FILE* stream, std::int64_t value, std::int32_t min_digits)
{
    const auto pattern = static_cast<std::uint64_t>(value);
    bool significant = false;
    for (int position = hex_digit_count - 1; position >= 0; --position) {
        const auto digit = static_cast<unsigned>((pattern >> (4 * position)) & 15U);
        significant = significant || digit != 0;
        if (significant || position < min_digits) {
            put_char(stream, digit_set[digit]);
        }
    }
}

void write_decimal(std::FILE* stream, std::int64_t value)
{
    if (value < 0) {
        put_char(stream, '-');
        // Negating in unsigned arithmetic keeps INT64_MIN representable.
        write_decimal_digits(stream, 0 - static_cast<std::uint64_t>(value));
    } else {
        write_decimal_digits(stream, static_cast<std::uint64_t>(value));
    }
}

void write_decimal_digits(std::FILE* stream, std::uint64_t magnitude)
{
    // Digits come out least significant first; UINT64_MAX has 20 of them.
    char digits[20];
    std::size_t count = 0;
    do {
        digits[count++] = digit_set[magnitude % 10];
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) {
        put_char(stream, digits[--count]);
    }
}

std::int64_t parse_integer(const char* text, const char** end, int base)
{
    if (base != 0 && (base < 2 || base > 36)) {
        if (end != nullptr) {
            *end = text;
        }
        errno = EINVAL;
        return 0;
    }
    const number_start start = read_number_start(text, base);
    const digit_run run = read_digits(start.digits, start.radix,
                                      start.negative ? negative_limit : positive_limit);
    if (end != nullptr) {
        *end = run.end == start.digits ? text : run.end;
    }
    if (run.overflow) {
        errno = ERANGE;
        return start.negative ? INT64_MIN : INT64_MAX;
    }
    if (!start.negative) {
        return static_cast<std::int64_t>(run.magnitude);
    }
    // The magnitude may be 2^63 here, which has no positive int64 form:
    // negate one less than it, then step down by one.
    return run.magnitude == 0 ? 0 : -static_cast<std::int64_t>(run.magnitude - 1) - 1;
}
