// kerfsum v: checking the files named in an SFV listing.
#include "sfv.hpp"

#include "common.hpp"
#include "crc32.hpp"
#include "progress.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// Lines are collected in a buffer grown in 100-byte steps; one that would
// need more than 30,100 bytes marks the listing as corrupt.
constexpr std::size_t line_growth = 100;
constexpr std::size_t line_size_limit = 30000;

enum class store_result { stored, corrupt, out_of_memory };

struct line_buffer {
    char* data = nullptr;
    std::size_t size = 0;
};

store_result store_byte(line_buffer& line, std::size_t index, char byte)
{
    if (line.size <= index + 1) {
        if (line.size > line_size_limit) {
            return store_result::corrupt;
        }
        void* grown = std::realloc(line.data, line.size + line_growth);
        if (grown == nullptr) {
            return store_result::out_of_memory;
        }
        line.data = static_cast<char*>(grown);
        line.size += line_growth;
    }
    line.data[index] = byte;
    return store_result::stored;
}

struct verify_counts {
    std::uint64_t checked = 0;
    std::uint64_t ok = 0;
    std::uint64_t bad = 0;
    std::uint64_t errors = 0;
};

// Prints the file's result line. Returns false, without reading the file,
// once standard output has failed: nobody will see the results, and nothing
// is lost by stopping, as verifying changes no file.
bool check_file(const char* name, std::uint32_t expected, verify_counts& counts, progress_indicator& progress)
{
    print_name(name, 22, " ");
    // Flushed to show the name while a large file is read.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return false;
    }
    std::uint32_t crc = 0;
    const int read_status = crc32_file(name, &crc, progress_begin_file(progress, name));
    progress_end_file(progress);
    if (read_status != 0) {
        std::puts(std::strerror(errno));
        ++counts.errors;
        return true;
    }
    ++counts.checked;
    if (crc == expected) {
        ++counts.ok;
        std::puts("ok");
        return true;
    }
    ++counts.bad;
    std::printf("*** BAD *** (%02X%02X%02X%02X, should be %02X%02X%02X%02X)\n",
                (crc >> 24) & 0xFFu, (crc >> 16) & 0xFFu, (crc >> 8) & 0xFFu, crc & 0xFFu,
                (expected >> 24) & 0xFFu, (expected >> 16) & 0xFFu, (expected >> 8) & 0xFFu,
                expected & 0xFFu);
    return true;
}

enum class listing_outcome { complete, corrupt, out_of_memory, read_error, output_failed };

// The listing stream with its first bytes read ahead, to look for a
// byte-order mark or UTF-16 text, and handed out again before the rest of
// the stream.
struct listing_reader {
    std::FILE* stream = nullptr;
    unsigned char head[4] = {};
    std::size_t head_size = 0;
    std::size_t head_next = 0;
};

int next_byte(listing_reader& in)
{
    if (in.head_next < in.head_size) {
        return in.head[in.head_next++];
    }
    return std::fgetc(in.stream);
}

// Reads the listing's first bytes and steps over a UTF-8 byte-order mark,
// which some editors put at the start of every text file. UTF-16 text is
// refused as corrupt: its NUL bytes would split every line into fragments
// that name no file, and the listing would pass while checking nothing. It
// begins with its byte-order mark, either way round, or, written without
// one, with NUL and other bytes taking turns.
listing_outcome read_byte_order_mark(listing_reader& in)
{
    while (in.head_size < sizeof in.head) {
        const int c = std::fgetc(in.stream);
        if (c == EOF) {
            if (std::ferror(in.stream) != 0) {
                return listing_outcome::read_error;
            }
            break;
        }
        in.head[in.head_size++] = static_cast<unsigned char>(c);
    }
    const auto starts_with = [&in](std::initializer_list<unsigned char> mark) {
        return in.head_size >= mark.size() && std::equal(mark.begin(), mark.end(), in.head);
    };
    const auto alternates_with_nul = [&in](std::size_t first_nul) {
        if (in.head_size < sizeof in.head) {
            return false;
        }
        for (std::size_t i = 0; i < sizeof in.head; ++i) {
            if ((in.head[i] == 0) != (i % 2 == first_nul)) {
                return false;
            }
        }
        return true;
    };
    if (starts_with({0xFF, 0xFE}) || starts_with({0xFE, 0xFF}) || alternates_with_nul(0) ||
        alternates_with_nul(1)) {
        return listing_outcome::corrupt;
    }
    if (starts_with({0xEF, 0xBB, 0xBF})) {
        in.head_next = 3;
    }
    return listing_outcome::complete;
}

// Reads the listing byte by byte, skipping blank space and comment lines,
// and checks the file of every other line as soon as the line is complete.
// On read_error errno holds the reason.
listing_outcome check_listing(std::FILE* listing, line_buffer& line, verify_counts& counts,
                              progress_indicator& progress)
{
    listing_reader in{listing};
    if (const listing_outcome head = read_byte_order_mark(in); head != listing_outcome::complete) {
        return head;
    }
    bool in_comment = false;
    for (;;) {
        int c = next_byte(in);
        if (c == EOF) {
            return std::ferror(listing) != 0 ? listing_outcome::read_error : listing_outcome::complete;
        }
        if (in_comment) {
            in_comment = c != '\n';
            continue;
        }
        if (is_white_space(c)) {
            continue;
        }
        if (c == ';') {
            in_comment = true; // only as the first non-blank byte of a line
            continue;
        }

        // Collect one line. A line feed or the end of the file ends it; so
        // does a NUL byte, after which the rest reads as a new line.
        for (std::size_t i = 0;; ++i) {
            const store_result stored = store_byte(line, i, static_cast<char>(c));
            if (stored == store_result::corrupt) {
                return listing_outcome::corrupt;
            }
            if (stored == store_result::out_of_memory) {
                return listing_outcome::out_of_memory;
            }
            if (c == '\0') {
                break;
            }
            c = next_byte(in);
            if (c == EOF && std::ferror(listing) != 0) {
                return listing_outcome::read_error; // never mistaken for the end
            }
            if (c == EOF || c == '\n') {
                c = '\0';
            }
        }

        const char* name = nullptr;
        std::uint32_t expected = 0;
        if (split_listing_line(line.data, &name, &expected)) {
            if (!check_file(name, expected, counts, progress)) {
                return listing_outcome::output_failed;
            }
        }
    }
}

} // namespace

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

std::uint64_t sfv_verify(const char* listing_path)
{
    // Decided before any file is opened: see progress_start.
    progress_indicator progress;
    progress_start(progress);
    std::FILE* listing = std::fopen(listing_path, "rb");
    if (listing == nullptr) {
        print_error(nullptr, listing_path);
        return 1;
    }
    std::printf("Verifying SFV file %s\n", listing_path);

    verify_counts counts;
    line_buffer line;
    std::uint64_t result = 1;
    switch (check_listing(listing, line, counts, progress)) {
    case listing_outcome::complete:
        std::printf("%llu file%s checked (%llu ok, %llu bad)\n%llu error%s encountered\n",
                    static_cast<unsigned long long>(counts.checked), plural_suffix(counts.checked),
                    static_cast<unsigned long long>(counts.ok), static_cast<unsigned long long>(counts.bad),
                    static_cast<unsigned long long>(counts.errors), plural_suffix(counts.errors));
        result = counts.bad + counts.errors;
        break;
    case listing_outcome::corrupt:
        (void)std::fflush(stdout);
        std::puts("Corrupt SFV file");
        break;
    case listing_outcome::out_of_memory:
        std::puts("Out of memory");
        break;
    case listing_outcome::read_error:
        // The rest of the listing is unknown, so no summary that could pass
        // for a complete check; errno still holds the read's failure.
        print_error(nullptr, listing_path);
        result = 1 + counts.bad + counts.errors;
        break;
    case listing_outcome::output_failed:
        // The caller reports the output failure and counts it.
        result = counts.bad + counts.errors;
        break;
    }
    (void)std::fclose(listing); // opened for reading only
    std::free(line.data);
    return result;
}
