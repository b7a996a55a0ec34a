// The pure parts of the listing tools: splitting a listing line, the time
// stamps of a new listing and the exit status of a run.
#include "listing_text.hpp"
#include "sfv.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace {

TEST(split_listing_line, finds_name_and_crc)
{
    const struct {
        std::string line;
        std::optional<std::string> name; // none: the line names no file
        std::uint32_t crc;
    } cases[] = {
        {"digits.txt CBF43926", "digits.txt", 0xCBF43926u},
        {"digits.txt CBF43926\r", "digits.txt", 0xCBF43926u},
        {"my file.txt\t1234abcd\r", "my file.txt", 0x1234ABCDu},
        {"my file.txt   0x1234ABCD  \r", "my file.txt", 0x1234ABCDu},
        {"f\v\f0X0000abcd", "f", 0x0000ABCDu},
        // The last field decides, whatever stands before it.
        {"a.txt 1234ABCD ; note", "a.txt 1234ABCD ;", 0x00000000u},
        // Only the low 32 bits count; overflow reads as all ones.
        {"f 1CBF43926", "f", 0xCBF43926u},
        {"f FFFFFFFFFFFFFFFFFFFFFFFF", "f", 0xFFFFFFFFu},
        // A sign is accepted and a minus negates modulo 2^64.
        {"f -1", "f", 0xFFFFFFFFu},
        {"f -340BC6DA", "f", 0xCBF43926u},
        {"f +12", "f", 0x12u},
        // Reading stops at the first byte that is no hexadecimal digit.
        {"f 12zz34", "f", 0x12u},
        {"f xyz", "f", 0u},
        {"f 0x", "f", 0u},
        // Bytes from 0x80 up are no whitespace.
        {"a\xA0"
         "b 1",
         "a\xA0"
         "b",
         1u},
        {"a\xA0"
         "1",
         std::nullopt, 0u},
        {"digits.txt", std::nullopt, 0u},
        {"digits.txt \r", std::nullopt, 0u},
        {"", std::nullopt, 0u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line \"" + c.line + "\"");
        std::string line = c.line;
        const char* name = nullptr;
        std::uint32_t crc = 0x5A5A5A5Au;
        const bool split = split_listing_line(line.data(), &name, &crc);
        ASSERT_EQ(split, c.name.has_value());
        if (split) {
            EXPECT_EQ(std::string(name), *c.name);
            EXPECT_EQ(crc, c.crc) << std::hex << std::uppercase << "got " << crc << ", want " << c.crc;
        }
    }
}

// Every name that create mode lists is read back whole from the checksum
// line it writes; the names it refuses are those the reader would change.
TEST(name_reads_back, agrees_with_split_listing_line)
{
    const struct {
        std::string name;
        bool listed;
    } cases[] = {
        {"digits.txt", true}, {"my file.txt", true}, {"a\tb", true}, {"a;b", true},   {"x\xC2\x9B", true},
        {"", true}, // fails to open instead
        {" a", false},        {"\ta", false},        {"\ra", false}, {"\va", false},  {"\fa", false},
        {"a ", false},        {"a\r", false},        {";a", false},  {"a\nb", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("name \"" + c.name + "\"");
        ASSERT_EQ(name_reads_back(c.name), c.listed);
        if (c.listed && !c.name.empty()) {
            std::string line = c.name + " CBF43926\r";
            const char* name = nullptr;
            std::uint32_t crc = 0;
            ASSERT_TRUE(split_listing_line(line.data(), &name, &crc));
            EXPECT_EQ(std::string(name), c.name);
        }
    }
}

// UTF-16 (with or without a mark) and NUL-filled listings are not text; a
// stray NUL in text is.
TEST(listing_head_kind, tells_text_from_utf16)
{
    using namespace std::string_literals;
    const std::string ascii16 = "d\0i\0g\0i\0t\0s\0.\0t\0x\0t\0 \0"
                                "0\0\r\0\n\0"s;
    // "Песня.mp3 DEADBEEF\r\n" in UTF-16LE: no NUL among its first bytes.
    const std::string cyrillic16 = "\x1F\x04\x35\x04\x41\x04\x3D\x04\x4F\x04"
                                   ".\0m\0p\0"
                                   "3\0 \0D\0E\0A\0D\0B\0E\0E\0F\0\r\0\n\0"s;
    const std::string text = "digits.txt CBF43926\r\n";
    // 512 bytes with NULs at the first `count` even places: 32 is an eighth.
    const auto even_nuls = [](std::size_t count) {
        std::string head(listing_head_size, 'a');
        for (std::size_t i = 0; i < count; ++i) {
            head[2 * i] = '\0';
        }
        return head;
    };
    const struct {
        const char* what;
        std::string head;
        listing_head kind;
    } cases[] = {
        {"text", text, listing_head::text},
        {"empty", "", listing_head::text},
        {"UTF-8 mark", "\xEF\xBB\xBF" + text, listing_head::utf8_marked},
        {"UTF-16LE mark", "\xFF\xFE" + text, listing_head::not_text},
        {"UTF-16BE mark", "\xFE\xFF" + text, listing_head::not_text},
        {"UTF-16LE, ASCII", ascii16, listing_head::not_text},
        {"UTF-16BE, ASCII", "\0"s + ascii16.substr(0, ascii16.size() - 1), listing_head::not_text},
        {"UTF-16LE, Cyrillic first", cyrillic16, listing_head::not_text},
        {"one NUL", "\0"s, listing_head::not_text},
        {"NULs only", std::string(600, '\0'), listing_head::not_text},
        {"a stray NUL after the first byte", "x\0"s + text, listing_head::text},
        {"a stray NUL in a short listing", "e\0 00000000\r\n"s, listing_head::text},
        {"two NULs, one each place", "\0\0"s + text, listing_head::text},
        {"two NULs in one place, long text", "a\0b\0"s + text + text, listing_head::text},
        {"NULs at an eighth of the even places, less one", even_nuls(31), listing_head::text},
        {"NULs at an eighth of the even places", even_nuls(32), listing_head::not_text},
        {"NULs at an eighth of the even places, and one more", even_nuls(33), listing_head::not_text},
        // Only the first 512 bytes count.
        {"NULs past the head", std::string(512, 'a') + std::string(512, '\0'), listing_head::text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto* bytes = reinterpret_cast<const unsigned char*>(c.head.data());
        EXPECT_EQ(listing_head_kind({bytes, c.head.size()}), c.kind);
    }
}

// Sets TZ for the life of the object and puts the old value back.
class time_zone {
public:
    explicit time_zone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"); old != nullptr) {
            old_ = old;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~time_zone()
    {
        if (old_) {
            ::setenv("TZ", old_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    time_zone(const time_zone&) = delete;
    time_zone& operator=(const time_zone&) = delete;

private:
    std::optional<std::string> old_;
};

constexpr const char* header_format = "%Y-%m-%d at %H:%M.%S";
constexpr const char* header_fallback = "9999-99-99 at 99:99.99";
constexpr const char* comment_format = "%H:%M.%S %Y-%m-%d";
constexpr const char* comment_fallback = "                   ";

TEST(format_local_time, formats_or_falls_back)
{
    const time_zone utc("UTC0");
    const struct {
        std::time_t when;
        bool header;
        const char* expected;
    } cases[] = {
        {0, false, "00:00.00 1970-01-01"},
        {-1, false, "23:59.59 1969-12-31"},
        {1796112902, false, "08:15.02 2026-12-01"},
        {1796112902, true, "2026-12-01 at 08:15.02"},
        // A five-digit year still fits the comment's buffer; up to seven
        // digits do, eight do not.
        {253402300800, false, "00:00.00 10000-01-01"},
        {315507352780799, false, "23:59.59 9999999-12-31"},
        {315507352780800, false, comment_fallback},
        // The header is three characters wider: any year past 9999 is too long.
        {253402300799, true, "9999-12-31 at 23:59.59"},
        {253402300800, true, header_fallback},
        // A time that localtime cannot convert is shown as the epoch.
        {std::numeric_limits<std::time_t>::max(), false, "00:00.00 1970-01-01"},
        // format_modification_time formats four-digit years itself: the
        // first and last such second, and the years either side.
        {-30610224000, false, "00:00.00 1000-01-01"},
        {-30610224001, false, "23:59.59 999-12-31"},
        {253402300799, false, "23:59.59 9999-12-31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "time " << c.when << (c.header ? " in the header" : " in a comment"));
        char buffer[time_text_size];
        format_local_time(c.when, c.header ? header_format : comment_format,
                          c.header ? header_fallback : comment_fallback, buffer);
        EXPECT_STREQ(buffer, c.expected);
        if (!c.header) {
            char quick[time_text_size];
            format_modification_time(c.when, quick);
            EXPECT_STREQ(quick, c.expected) << "format_modification_time";
        }
    }
}

TEST(format_local_time, uses_the_local_time_zone)
{
    const time_zone tokyo("JST-9");
    char buffer[time_text_size];
    format_local_time(0, comment_format, comment_fallback, buffer);
    EXPECT_STREQ(buffer, "09:00.00 1970-01-01");
    format_modification_time(0, buffer);
    EXPECT_STREQ(buffer, "09:00.00 1970-01-01");
}

// A count that is a multiple of 256 must never read as success.
TEST(exit_status_for, saturates_at_255)
{
    const struct {
        std::uint64_t count;
        int status;
    } cases[] = {
        {0, 0},
        {1, 1},
        {254, 254},
        {255, 255},
        {256, 255},
        {300, 255},
        {std::uint64_t{1} << 32, 255},
        {std::numeric_limits<std::uint64_t>::max(), 255},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(exit_status_for(c.count), c.status) << "count " << c.count;
    }
}

} // namespace
