// tagwhit's command line: whole-word options before the file names, each
// applying to every file.
#include "id3.hpp"

#include "common.hpp"

#include <cstdint>
#include <limits>
#include <string_view>

namespace {

constexpr std::string_view title_from_name_option = "-tf";
constexpr std::string_view end_of_options = "--";

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

// The option of `field` that `argument` is: "-L", which sets the field to
// the next argument, or "-L-", which clears it.
enum class field_option { none, set, clear };

field_option option_for(std::string_view argument, const tag_field& field)
{
    if (argument.size() < 2 || argument[0] != '-' || argument[1] != field.letter) {
        return field_option::none;
    }
    if (argument.size() == 2) {
        return field_option::set;
    }
    return argument.size() == 3 && argument[2] == '-' ? field_option::clear : field_option::none;
}

void mark_written(tag_edit& edit, const tag_field& field)
{
    if (field.written != nullptr) {
        edit.*field.written = true;
    } else {
        edit.title_source = title_source::text;
    }
}

void set_field(tag_edit& edit, const tag_field& field, const char* value)
{
    if (field.number != nullptr) {
        edit.*field.number = parse_tag_number(value);
    } else {
        copy_text(field.text(edit), value);
    }
    mark_written(edit, field);
}

// Only the first byte is cleared here; the zero fill after parsing clears
// the rest of an earlier, longer value.
void clear_field(tag_edit& edit, const tag_field& field)
{
    if (field.number != nullptr) {
        edit.*field.number = field.cleared;
    } else {
        field.text(edit)[0] = '\0';
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
        for (const tag_field& field : tag_fields) {
            const field_option option = option_for(argument, field);
            if (option == field_option::set) {
                if (index + 1 >= arguments.size()) {
                    return std::nullopt;
                }
                // The value is taken whole, even when it looks like an option.
                set_field(edit, field, arguments[index + 1]);
                value_taken = true;
                break;
            }
            if (option == field_option::clear) {
                clear_field(edit, field);
                break;
            }
        }
        // Unknown options, the bare "-" included, are skipped silently.
        index += value_taken ? 2 : 1;
    }
    if (index >= arguments.size()) {
        return std::nullopt;
    }

    for (const tag_field& field : tag_fields) {
        if (field.text != nullptr) {
            zero_fill_field(field.text(edit));
        }
    }
    return index;
}
