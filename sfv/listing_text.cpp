// The text of an SFV listing: formatting what create mode writes into it,
// and the rules by which verify mode reads it back.
#include "listing_text.hpp"

#include "common.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

void format_local_time(std::time_t when, const char* format, const char* fallback,
                       char (&buffer)[time_text_size])
{
    // Not localtime: glibc's looks at the time zone again on every call,
    // one stat of /etc/localtime per listed file. localtime_r keeps the zone
    // that main's tzset() read once. A time it cannot convert is shown as
    // the epoch.
    std::tm broken_down{};
    if (::localtime_r(&when, &broken_down) == nullptr) {
        const std::time_t epoch = 0;
        broken_down = std::tm{};
        (void)::localtime_r(&epoch, &broken_down);
    }
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &broken_down);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (length == 0) {
        (void)std::snprintf(buffer, sizeof buffer, "%s", fallback);
    }
}

void format_modification_time(std::time_t when, char (&buffer)[time_text_size])
{
    // strftime costs more per file than reading a small file does, so the
    // common case, a four-digit year, is formatted here; any other year takes
    // the general path, whose output this matches digit for digit.
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr || local.tm_year < 1000 - 1900 ||
        local.tm_year > 9999 - 1900) {
        format_local_time(when, "%H:%M.%S %Y-%m-%d", "                   ", buffer);
        return;
    }
    const struct {
        std::size_t end; // one past the field's last digit
        int value;
    } fields[] = {
        {2, local.tm_hour},         {5, local.tm_min},      {8, local.tm_sec},
        {13, local.tm_year + 1900}, {16, local.tm_mon + 1}, {19, local.tm_mday},
    };
    static_assert(sizeof "HH:MM.SS YYYY-MM-DD" <= time_text_size);
    std::memcpy(buffer, "00:00.00 0000-00-00", sizeof "HH:MM.SS YYYY-MM-DD");
    for (const auto& field : fields) {
        int value = field.value;
        for (std::size_t at = field.end; value > 0; value /= 10) {
            buffer[--at] = static_cast<char>('0' + value % 10);
        }
    }
}

void format_crc(std::uint32_t crc, char (&text)[crc_text_size])
{
    // By hand, because printf's conversions cost more per file than reading
    // a small file does.
    constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = crc_text_size - 1; i-- > 0; crc >>= 4U) {
        text[i] = digits[crc & 0xFU];
    }
    text[crc_text_size - 1] = '\0';
}

std::string_view format_size(std::uint64_t size, char (&text)[size_text_size])
{
    constexpr std::size_t width = 13;
    std::size_t at = sizeof text;
    do {
        text[--at] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    while (sizeof text - at < width) {
        text[--at] = ' ';
    }
    return {text + at, sizeof text - at};
}

bool write_listing_line(std::FILE* listing, std::initializer_list<std::string_view> pieces)
{
    // No printf format: parsing one costs more per file than reading a
    // small file's data does.
    bool written = true;
    int first_errno = 0;
    const auto put = [&](std::string_view piece) {
        if (std::fwrite(piece.data(), 1, piece.size(), listing) != piece.size() && written) {
            written = false;
            first_errno = errno;
        }
    };
    for (const std::string_view piece : pieces) {
        put(piece);
    }
    put("\r\n");
    if (!written) {
        errno = first_errno;
    }
    return written;
}

bool name_reads_back(std::string_view name)
{
    // The reader trims white space at both ends of a line, takes a line
    // whose first non-blank byte is ';' for a comment, and ends a line at a
    // line feed, which would also let a name plant a line of its own.
    if (name.empty()) {
        return true;
    }
    const auto front = static_cast<unsigned char>(name.front());
    const auto back = static_cast<unsigned char>(name.back());
    return !is_white_space(front) && !is_white_space(back) && front != ';' &&
           name.find('\n') == std::string_view::npos;
}

bool split_listing_line(char* line, const char** name, std::uint32_t* expected)
{
    std::size_t end = std::strlen(line);
    while (end > 0 && is_white_space(static_cast<unsigned char>(line[end - 1]))) {
        --end;
    }
    line[end] = '\0';

    std::size_t crc_start = end;
    while (crc_start > 0 && !is_white_space(static_cast<unsigned char>(line[crc_start - 1]))) {
        --crc_start;
    }
    std::size_t name_end = crc_start;
    while (name_end > 0 && is_white_space(static_cast<unsigned char>(line[name_end - 1]))) {
        --name_end;
    }
    if (crc_start == 0 || name_end == 0) {
        return false; // a single word, or nothing at all: not a file line
    }
    line[name_end] = '\0';
    const unsigned long long value = std::strtoull(line + crc_start, nullptr, 16);
    *expected = static_cast<std::uint32_t>(value & 0xFFFFFFFFu);
    *name = line;
    return true;
}

listing_head listing_head_kind(std::span<const unsigned char> head)
{
    const auto starts_with = [&head](std::initializer_list<unsigned char> mark) {
        return head.size() >= mark.size() && std::equal(mark.begin(), mark.end(), head.begin());
    };
    if (starts_with({0xFF, 0xFE}) || starts_with({0xFE, 0xFF})) {
        return listing_head::not_text;
    }
    head = head.first(std::min(head.size(), listing_head_size));
    std::array<std::size_t, 2> nuls{};
    for (std::size_t i = 0; i < head.size(); ++i) {
        nuls[i % 2] += head[i] == 0 ? 1 : 0;
    }
    if (!head.empty() && nuls[0] + nuls[1] == head.size()) {
        return listing_head::not_text;
    }
    for (std::size_t parity = 0; parity < 2; ++parity) {
        const std::size_t places = (head.size() + 1 - parity) / 2;
        if (nuls[parity] >= 2 && nuls[parity] * 8 >= places) {
            return listing_head::not_text;
        }
    }
    return starts_with({0xEF, 0xBB, 0xBF}) ? listing_head::utf8_marked : listing_head::text;
}
