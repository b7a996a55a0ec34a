// Numeric text routines that work without the formatted-print machinery.
#include "common.hpp"

#include <cerrno>
#include <cstdlib>

// Placeholders until the numeric helpers land; see their header contracts.
void write_hex(std::FILE*, std::int64_t, std::int32_t) {}
void write_decimal(std::FILE*, std::int64_t) {}
void write_decimal_digits(std::FILE*, std::uint64_t) {}
std::int64_t parse_integer(const char* text, const char** end, int)
{
    if (end != nullptr) {
        *end = text;
    }
    return 0;
}
void exit_configuration_error()
{
    std::puts("Configuration error");
    std::exit(1);
}
