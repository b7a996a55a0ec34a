// Fuzz target: parse_integer against strtoll. The first input byte picks
// the base (-2 to 38, so some are invalid), the rest up to a NUL byte is
// the text. Where the two are meant to differ, the documented result is
// checked instead.
#include "fuzz_support.hpp"

#include "common.hpp"

#include <cerrno>
#include <cstring>
#include <string>

namespace {

// Any value parse_integer has no reason to store, so a stray write shows.
constexpr int errno_sentinel = EDOM;

// Past the blanks and sign that both parsers skip.
const char* past_blanks_and_sign(const char* text)
{
    text += std::strspn(text, " \t\n\v\f\r");
    return text + ((*text == '+' || *text == '-') ? 1 : 0);
}

bool is_hex_digit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const int base = static_cast<int>(data[0] % 41) - 2;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* text = input.c_str();

    const char* end = nullptr;
    errno = errno_sentinel;
    const std::int64_t value = parse_integer(text, &end, base);
    const int parse_errno = errno;
    errno = errno_sentinel;
    require(parse_integer(text, nullptr, base) == value && errno == parse_errno,
            "the same result and errno without a place for the end");
    require(end >= text && end <= text + std::strlen(text), "the end lies within the text");

    if (base != 0 && (base < 2 || base > 36)) {
        require(value == 0 && end == text && parse_errno == EINVAL, "an invalid base gives 0, no digit and EINVAL");
        return 0;
    }
    require(parse_errno == errno_sentinel || parse_errno == ERANGE, "errno is ERANGE or untouched");

    const char* p = past_blanks_and_sign(text);
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && !is_hex_digit(p[2])) {
        // strtoll reads the '0'; here the prefix counts as no digit.
        require(value == 0 && end == text && parse_errno == errno_sentinel, "\"0x\" without a hex digit reads nothing");
        return 0;
    }
    if ((base == 0 || base == 2) && p[0] == '0' && (p[1] == 'b' || p[1] == 'B')) {
        // Some C libraries take "0b" as a prefix; here the '0' is a digit.
        require(value == 0 && end == p + 1 && parse_errno == errno_sentinel, "\"0b\" is a zero and a stop");
        return 0;
    }

    char* strtoll_end = nullptr;
    errno = 0;
    const long long strtoll_value = std::strtoll(text, &strtoll_end, base);
    const bool range_error = errno == ERANGE;
    require(value == strtoll_value, "the value agrees with strtoll");
    require(end == strtoll_end, "the end agrees with strtoll");
    require(parse_errno == (range_error ? ERANGE : errno_sentinel), "ERANGE exactly when strtoll gives it");
    return 0;
}
