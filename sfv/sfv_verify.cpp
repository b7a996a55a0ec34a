// kerfsum v: checking the files named in an SFV listing.
#include "sfv.hpp"

#include "common.hpp"
#include "listing_text.hpp"
#include "progress.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

// Lines are collected in a buffer grown in 100-byte steps up to 30,100
// bytes, which holds a line of 30,098 bytes with its last byte and NUL in
// hand; a line that would need more marks the listing as corrupt.
constexpr std::size_t line_growth = 100;
constexpr std::size_t line_buffer_limit = 30100;

enum class store_result { stored, corrupt, out_of_memory };

struct line_buffer {
    char* data = nullptr;
    std::size_t size = 0;
};

store_result store_byte(line_buffer& line, std::size_t index, char byte)
{
    if (line.size <= index + 1) {
        if (line.size + line_growth > line_buffer_limit) {
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
    print_name(name, name_field_width, " ");
    // Flushed to show the name while a large file is read.
    if (!flush_standard_output()) {
        return false;
    }
    std::uint32_t crc = 0;
    if (!checksum_for_result_line(name, crc, progress)) {
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
    char found_text[crc_text_size];
    char expected_text[crc_text_size];
    format_crc(crc, found_text);
    format_crc(expected, expected_text);
    std::printf("*** BAD *** (%s, should be %s)\n", found_text, expected_text);
    return true;
}

// What reading and checking a listing meets next: a line to check, the
// listing's end, or a reason to stop early.
enum class listing_event { line, end, corrupt, out_of_memory, read_error, output_failed };

// The listing stream with its first bytes read ahead, to tell text from
// UTF-16, and handed out again before the rest of the stream.
struct listing_reader {
    std::FILE* stream = nullptr;
    unsigned char head[listing_head_size] = {};
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

// Reads the listing's first bytes and tells whether it is text that can be
// read (see listing_head_kind), stepping over a UTF-8 byte-order mark,
// which some editors put at the start of every text file. Returns `line`
// to go on, `corrupt` for UTF-16, or `read_error`.
listing_event read_head(listing_reader& in)
{
    while (in.head_size < sizeof in.head) {
        const int c = std::fgetc(in.stream);
        if (c == EOF) {
            if (std::ferror(in.stream) != 0) {
                return listing_event::read_error;
            }
            break;
        }
        in.head[in.head_size++] = static_cast<unsigned char>(c);
    }
    switch (listing_head_kind({in.head, in.head_size})) {
    case listing_head::not_text:
        return listing_event::corrupt;
    case listing_head::utf8_marked:
        in.head_next = 3;
        break;
    case listing_head::text:
        break;
    }
    return listing_event::line;
}

// Skips blank space and comment lines, then reads one line into `line`,
// NUL-terminated, from its first non-blank byte. A line feed or the end of
// the file ends a line; so does a NUL byte, after which the rest reads as a
// new line. A ';' makes a comment only as the first non-blank byte of a
// line. On read_error errno holds the reason.
listing_event next_listing_line(listing_reader& in, line_buffer& line)
{
    bool in_comment = false;
    int c = EOF;
    for (;;) {
        c = next_byte(in);
        if (c == EOF) {
            return std::ferror(in.stream) != 0 ? listing_event::read_error : listing_event::end;
        }
        if (in_comment) {
            in_comment = c != '\n';
        } else if (c == ';') {
            in_comment = true;
        } else if (!is_white_space(c)) {
            break;
        }
    }
    for (std::size_t i = 0;; ++i) {
        const store_result stored = store_byte(line, i, static_cast<char>(c));
        if (stored != store_result::stored) {
            return stored == store_result::corrupt ? listing_event::corrupt : listing_event::out_of_memory;
        }
        if (c == '\0') {
            return listing_event::line;
        }
        c = next_byte(in);
        if (c == EOF && std::ferror(in.stream) != 0) {
            return listing_event::read_error; // never mistaken for the end
        }
        if (c == EOF || c == '\n') {
            c = '\0';
        }
    }
}

// Checks the file of every line of the listing as soon as the line is
// read. Returns the event that ended the check: `end` when the whole
// listing was read. On read_error errno holds the reason.
listing_event check_listing(std::FILE* listing, line_buffer& line, verify_counts& counts,
                            progress_indicator& progress)
{
    listing_reader in{listing};
    listing_event event = read_head(in);
    while (event == listing_event::line) {
        event = next_listing_line(in, line);
        const char* name = nullptr;
        std::uint32_t expected = 0;
        if (event == listing_event::line && split_listing_line(line.data, &name, &expected) &&
            !check_file(name, expected, counts, progress)) {
            return listing_event::output_failed;
        }
    }
    return event;
}

} // namespace

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
    std::printf("Verifying SFV file ");
    print_name(listing_path, 0, "\n");

    verify_counts counts;
    line_buffer line;
    std::uint64_t result = 1;
    switch (check_listing(listing, line, counts, progress)) {
    case listing_event::line: // never the event that ends a check
    case listing_event::end:
        std::printf("%llu file%s checked (%llu ok, %llu bad)\n%llu error%s encountered\n",
                    static_cast<unsigned long long>(counts.checked), plural_suffix(counts.checked),
                    static_cast<unsigned long long>(counts.ok), static_cast<unsigned long long>(counts.bad),
                    static_cast<unsigned long long>(counts.errors), plural_suffix(counts.errors));
        result = counts.bad + counts.errors;
        break;
    case listing_event::corrupt:
        (void)std::fflush(stdout);
        std::puts("Corrupt SFV file");
        break;
    case listing_event::out_of_memory:
        std::puts("Out of memory");
        break;
    case listing_event::read_error:
        // The rest of the listing is unknown, so no summary that could pass
        // for a complete check; errno still holds the read's failure.
        print_error(nullptr, listing_path);
        result = 1 + counts.bad + counts.errors;
        break;
    case listing_event::output_failed:
        // The caller reports the output failure and counts it.
        result = counts.bad + counts.errors;
        break;
    }
    (void)std::fclose(listing); // opened for reading only
    std::free(line.data);
    return result;
}
