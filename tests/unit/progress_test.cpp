// The progress indicator's text: units, percent and the compact form.
#include "progress.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

TEST(format_progress, picks_units_and_rounds_percent_down)
{
    constexpr std::uint64_t gib = std::uint64_t{1} << 30;
    constexpr std::int64_t unknown = -1;
    const struct {
        std::uint64_t bytes;
        std::int64_t size;
        std::uint64_t rate;
        bool compact;
        const char* text;
    } cases[] = {
        // One byte short of a unit switches up rather than print "1024.0".
        {1048575, unknown, 91540000, false, "1.0 MiB  87.3 MiB/s"},
        {1717986918, unknown, 0, true, "1.6 GiB"},
        // 100% only once the last byte is read, also past a size that grew.
        {4 * gib - 1, 4 * gib, 0, false, " 99%  4.0 GiB / 4.0 GiB  0.0 KiB/s"},
        {4 * gib, 4 * gib, 0, false, "100%  4.0 GiB / 4.0 GiB  0.0 KiB/s"},
        {5 * gib, 4 * gib, 0, true, "100%"},
        {429, 1000, 0, true, " 42%"},
        // bytes * 100 would overflow 64 bits, and the ratio rounds to 1.0.
        {std::numeric_limits<std::int64_t>::max() - 1, std::numeric_limits<std::int64_t>::max(), 0, false,
         " 99%  8.0 EiB / 8.0 EiB  0.0 KiB/s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) + " of " + std::to_string(c.size));
        char text[progress_text_size];
        const std::size_t length = format_progress(text, c.bytes, c.size, c.rate, c.compact);
        EXPECT_EQ(std::string(text, length), c.text);
    }
}

} // namespace
