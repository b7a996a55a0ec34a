// tagwhit's command line: whole-word options before the file names, each
// applying to every file.
#include "id3.hpp"

#include "common.hpp"

#include <cstdint>
#include <limits>
#include <string_view>

namespace {

enum class tag_field { title, artist, album, year, comment, track, genre };

// Every field has a setting option that takes the next argument as its
// value and a clearing option without one.
struct field_option {
    std::string_view set;
    std::string_view clear;
    tag_field field;
};

constexpr field_option field_options[] = {
    {"-t", "-t-", tag_field::title},   {"-a", "-a-", tag_field::artist},
    {"-m", "-m-", tag_field::album},   {"-y", "-y-", tag_field::year},
    {"-c", "-c-", tag_field::comment}, {"-k", "-k-", tag_field::track},
    {"-g", "-g-", tag_field::genre},
};

constexpr std::string_view title_from_name_option = "-tf";
constexpr std::string_view end_of_options = "--";
constexpr std::int32_t cleared_genre = 255;

// Copies `value` like strncpy with the field's width: at most that many
// bytes, zero bytes after them up to the width. Longer values are cut.
void copy_text(std::span<char> field, const char* value)
{
    const std::size_t width = field.size() - 1;
    std::size_t i = 0;
    for (; i < width && value[i] != '\0'; ++i) {
        field[i] = value[i];
    }
    for (; i < width; ++i) {
        field[i] = '\0';
    }
}

// The text field of `field` and its write flag; track and genre have none.
// The span it returns writes into `edit`, which therefore is not const.
// cppcheck-suppress constParameter
std::span<char> text_field(tag_edit& edit, tag_field field)
{
    switch (field) {
    case tag_field::title:
        return edit.title;
    case tag_field::artist:
        return edit.artist;
    case tag_field::album:
        return edit.album;
    case tag_field::year:
        return edit.year;
    case tag_field::comment:
        return edit.comment;
    case tag_field::track:
    case tag_field::genre:
        break;
    }
    return {};
}

void mark_written(tag_edit& edit, tag_field field)
{
    switch (field) {
    case tag_field::title:
        edit.title_source = title_source::text;
        break;
    case tag_field::artist:
        edit.write_artist = true;
        break;
    case tag_field::album:
        edit.write_album = true;
        break;
    case tag_field::year:
        edit.write_year = true;
        break;
    case tag_field::comment:
        edit.write_comment = true;
        break;
    case tag_field::track:
        edit.write_track = true;
        break;
    case tag_field::genre:
        edit.write_genre = true;
        break;
    }
}

void set_field(tag_edit& edit, tag_field field, const char* value)
{
    if (field == tag_field::track) {
        edit.track = parse_tag_number(value);
    } else if (field == tag_field::genre) {
        edit.genre = parse_tag_number(value);
    } else {
        copy_text(text_field(edit, field), value);
    }
    mark_written(edit, field);
}

// Only the first byte is cleared here; the zero fill after parsing clears
// the rest of an earlier, longer value.
void clear_field(tag_edit& edit, tag_field field)
{
    if (field == tag_field::track) {
        edit.track = 0;
    } else if (field == tag_field::genre) {
        edit.genre = cleared_genre;
    } else {
        text_field(edit, field)[0] = '\0';
    }
    mark_written(edit, field);
}

} // namespace

std::int32_t parse_tag_number(const char* text)
{
    // parse_integer reads what atoi reads and saturates at 64 bits.
    const std::int64_t value = parse_integer(text, nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

void zero_fill_field(std::span<char> field)
{
    std::size_t i = 0;
    while (i < field.size() && field[i] != '\0') {
        ++i;
    }
    for (; i < field.size(); ++i) {
        field[i] = '\0';
    }
}

std::optional<std::size_t> parse_tag_options(std::span<const char* const> arguments, tag_edit& edit)
{
    std::size_t index = 1;
    // Only arguments before the first file name are options; anything
    // after it, even "-t", is a file name.
    while (index < arguments.size()) {
        const std::string_view argument = arguments[index];
        if (!argument.starts_with('-')) {
            break;
        }
        if (argument == end_of_options) {
            ++index;
            break;
        }
        if (argument == title_from_name_option) {
            edit.title_source = title_source::file_name;
            ++index;
            continue;
        }
        bool value_taken = false;
        for (const field_option& option : field_options) {
            if (argument == option.set) {
                if (index + 1 >= arguments.size()) {
                    return std::nullopt;
                }
                // The value is taken whole, even when it looks like an option.
                set_field(edit, option.field, arguments[index + 1]);
                value_taken = true;
                break;
            }
            if (argument == option.clear) {
                clear_field(edit, option.field);
                break;
            }
        }
        // Unknown options, the bare "-" included, are skipped silently.
        index += value_taken ? 2 : 1;
    }
    if (index >= arguments.size()) {
        return std::nullopt;
    }

    zero_fill_field(edit.title);
    zero_fill_field(edit.artist);
    zero_fill_field(edit.album);
    zero_fill_field(edit.year);
    zero_fill_field(edit.comment);
    return index;
}
