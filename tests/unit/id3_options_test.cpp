// The tagger's option parser: argument vectors in, pending edit and first
// file index out.
#include "id3.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

template <std::size_t n>
void set_text(std::array<char, n>& field, const std::string& text)
{
    field.fill('\0');
    text.copy(field.data(), text.size());
}

std::string field_text(std::span<const char> field)
{
    std::string text;
    for (const char c : field) {
        if (c >= ' ' && c <= '~') {
            text += c;
        } else {
            text += "\\" + std::to_string(static_cast<unsigned char>(c));
        }
    }
    return text;
}

// Every field of the record, whole widths included, one line a field, so
// that a failure shows exactly which part differs.
std::string describe(tag_edit e)
{
    const char* const sources[] = {"none", "text", "file_name"};
    std::string text = std::string("source=") + sources[static_cast<int>(e.title_source)];
    for (const tag_field& field : tag_fields) {
        text += std::string("\n-") + field.letter + " " +
                (field.number != nullptr ? std::to_string(e.*field.number) : field_text(field.text(e))) +
                (writes_field(e, field) ? " (write)" : "");
    }
    return text;
}

struct parsed_line {
    std::optional<std::size_t> first_file;
    tag_edit edit;
};

parsed_line parse(const std::vector<const char*>& after_name)
{
    std::vector<const char*> arguments = {"tagwhit"};
    arguments.insert(arguments.end(), after_name.begin(), after_name.end());
    parsed_line result;
    result.first_file = parse_tag_options(arguments, result.edit);
    return result;
}

TEST(parse_tag_options, asks_for_usage_when_the_command_line_is_unusable)
{
    const std::vector<std::vector<const char*>> cases = {
        {}, {"-t", "Title"}, {"-a"}, {"-tf", "-k"}, {"--"}, {"-x", "-"}, {"-t-", "-tf", "--"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args.size()) + " arguments, first " + (args.empty() ? "none" : args[0]));
        EXPECT_EQ(parse(args).first_file, std::nullopt);
    }
    tag_edit edit;
    EXPECT_EQ(parse_tag_options({}, edit), std::nullopt) << "an empty argument vector";
}

TEST(parse_tag_options, fills_the_edit_and_finds_the_first_file)
{
    const std::string forty(40, 'x');
    const struct {
        std::vector<const char*> args;
        std::size_t first_file;
        std::function<void(tag_edit&)> expect;
    } cases[] = {
        {{"f.mp3"}, 1, [](tag_edit&) {}},
        {{"f.mp3", "-t", "T"}, 1, [](tag_edit&) {}},
        {{"--", "-t.mp3"}, 2, [](tag_edit&) {}},
        {{"-tf", "--", "--", "f"}, 3, [](tag_edit& e) { e.title_source = title_source::file_name; }},
        {{"-x", "-", "-T", "-tt", "-t-x", "---", "f"}, 7, [](tag_edit&) {}},
        {{"-t", "-a", "f"},
         3,
         [](tag_edit& e) {
             set_text(e.title, "-a");
             e.title_source = title_source::text;
         }},
        {{"-a", "-m", "-m", "--", "f"},
         5,
         [](tag_edit& e) {
             set_text(e.artist, "-m");
             e.write_artist = true;
             set_text(e.album, "--");
             e.write_album = true;
         }},
        {{"-a", "One", "-a", "Two", "f"},
         5,
         [](tag_edit& e) {
             set_text(e.artist, "Two");
             e.write_artist = true;
         }},
        {{"-a", "Longer artist", "-a-", "f"}, 4, [](tag_edit& e) { e.write_artist = true; }},
        {{"-a-", "-a", "Back", "f"},
         4,
         [](tag_edit& e) {
             set_text(e.artist, "Back");
             e.write_artist = true;
         }},
        {{"-a", "", "f"}, 3, [](tag_edit& e) { e.write_artist = true; }},
        {{"-t", "T", "-tf", "f"},
         4,
         [](tag_edit& e) {
             set_text(e.title, "T");
             e.title_source = title_source::file_name;
         }},
        {{"-tf", "-t", "T", "f"},
         4,
         [](tag_edit& e) {
             set_text(e.title, "T");
             e.title_source = title_source::text;
         }},
        {{"-t", "A long title", "-t-", "f"}, 4, [](tag_edit& e) { e.title_source = title_source::text; }},
        {{"-t", forty.c_str(), "f"},
         3,
         [](tag_edit& e) {
             set_text(e.title, std::string(30, 'x'));
             e.title_source = title_source::text;
         }},
        {{"-y", "20261", "-m", "Album", "f"},
         5,
         [](tag_edit& e) {
             set_text(e.year, "2026");
             e.write_year = true;
             set_text(e.album, "Album");
             e.write_album = true;
         }},
        {{"-y", "1999", "-y-", "-c", "123456789012345678901234567890", "f"},
         6,
         [](tag_edit& e) {
             e.write_year = true;
             set_text(e.comment, "12345678901234567890123456789");
             e.write_comment = true;
         }},
        {{"-c", "Note", "-c-", "f", "g"}, 4, [](tag_edit& e) { e.write_comment = true; }},
        {{"-k", "7x", "-g", "x7", "f"},
         5,
         [](tag_edit& e) {
             e.track = 7;
             e.write_track = true;
             e.write_genre = true;
         }},
        {{"-k", "5", "-k-", "-g-", "f"},
         5,
         [](tag_edit& e) {
             e.write_track = true;
             e.genre = 255;
             e.write_genre = true;
         }},
        {{"-g-", "-g", "3", "f"},
         4,
         [](tag_edit& e) {
             e.genre = 3;
             e.write_genre = true;
         }},
        {{"-k", "-1", "-g", "300", "f"},
         5,
         [](tag_edit& e) {
             e.track = -1;
             e.write_track = true;
             e.genre = 300;
             e.write_genre = true;
         }},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const char* a : c.args) {
            line += std::string("[") + a + "]";
        }
        SCOPED_TRACE(line);
        tag_edit expected;
        c.expect(expected);
        const parsed_line got = parse(c.args);
        EXPECT_EQ(got.first_file, c.first_file);
        EXPECT_EQ(describe(got.edit), describe(expected));
    }
}

TEST(parse_tag_number, reads_like_atoi_and_saturates_at_32_bits)
{
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {
        {"7", 7},
        {"7x", 7},
        {"x7", 0},
        {"", 0},
        {" \t\n-12", -12},
        {"+5", 5},
        {"+ 5", 0},
        {"0x10", 0},
        {"010", 10},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999999999", INT32_MAX},
        {"-99999999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_tag_number(c.text), c.value);
    }
}

TEST(zero_fill_field, clears_everything_after_the_text)
{
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {std::string("ab\0cd\0", 6), std::string("ab\0\0\0\0", 6)},
        {std::string("\0bcde", 5), std::string(5, '\0')},
        {std::string("abcd\0", 5), std::string("abcd\0", 5)},
        {std::string("abcde", 5), std::string("abcde", 5)}, // no zero at all: nothing to clear
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.before));
        std::string field = c.before;
        zero_fill_field(field);
        EXPECT_EQ(field, c.after);
    }
}

} // namespace
