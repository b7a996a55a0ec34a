// Fuzz target: tagwhit's option parser on an argument vector made of the
// input (the program name, then the input split at its NUL bytes), against
// the option rules read one argument at a time, and the promises of the
// record it fills.
#include "fuzz_support.hpp"

#include "id3.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

// A number value as atoi reads it, held within 32 bits.
std::int32_t tag_number(const char* text)
{
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

template <std::size_t N>
void copy_value(std::array<char, N>& field, const char* value)
{
    std::strncpy(field.data(), value, N - 1);
}

template <std::size_t N>
void zero_after_text(std::array<char, N>& field)
{
    const std::size_t length = strnlen(field.data(), N);
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(length), field.end(), '\0');
}

// Applies the option `option`, whose value (if it takes one) is `value`.
// Returns false when `option` is none of the table's.
bool apply_option(const char* option, const char* value, tag_edit& edit)
{
    const auto is = [option](const char* name) { return std::strcmp(option, name) == 0; };
    if (value != nullptr) {
        if (is("-t")) {
            copy_value(edit.title, value);
            edit.title_source = title_source::text;
        } else if (is("-a")) {
            copy_value(edit.artist, value);
            edit.write_artist = true;
        } else if (is("-m")) {
            copy_value(edit.album, value);
            edit.write_album = true;
        } else if (is("-y")) {
            copy_value(edit.year, value);
            edit.write_year = true;
        } else if (is("-c")) {
            copy_value(edit.comment, value);
            edit.write_comment = true;
        } else if (is("-k")) {
            edit.track = tag_number(value);
            edit.write_track = true;
        } else if (is("-g")) {
            edit.genre = tag_number(value);
            edit.write_genre = true;
        } else {
            return false;
        }
        return true;
    }
    if (is("-t-")) {
        edit.title[0] = '\0';
        edit.title_source = title_source::text;
    } else if (is("-a-")) {
        edit.artist[0] = '\0';
        edit.write_artist = true;
    } else if (is("-m-")) {
        edit.album[0] = '\0';
        edit.write_album = true;
    } else if (is("-y-")) {
        edit.year[0] = '\0';
        edit.write_year = true;
    } else if (is("-c-")) {
        edit.comment[0] = '\0';
        edit.write_comment = true;
    } else if (is("-k-")) {
        edit.track = 0;
        edit.write_track = true;
    } else if (is("-g-")) {
        edit.genre = 255;
        edit.write_genre = true;
    } else if (is("-tf")) {
        edit.title_source = title_source::file_name;
    } else {
        return false;
    }
    return true;
}

bool takes_value(const char* option)
{
    static constexpr const char* value_options[] = {"-t", "-a", "-m", "-y", "-c", "-k", "-g"};
    return std::any_of(std::begin(value_options), std::end(value_options),
                       [option](const char* name) { return std::strcmp(option, name) == 0; });
}

// The index of the first file name and the record, by the option rules.
std::optional<std::size_t> expected_options(std::span<const char* const> arguments, tag_edit& edit)
{
    std::size_t index = 1;
    while (index < arguments.size() && arguments[index][0] == '-') {
        const char* option = arguments[index++];
        if (std::strcmp(option, "--") == 0) {
            break;
        }
        if (takes_value(option)) {
            if (index == arguments.size()) {
                return std::nullopt;
            }
            apply_option(option, arguments[index++], edit);
        } else {
            apply_option(option, nullptr, edit); // unknown ones change nothing
        }
    }
    if (index >= arguments.size()) {
        return std::nullopt;
    }
    zero_after_text(edit.title);
    zero_after_text(edit.artist);
    zero_after_text(edit.album);
    zero_after_text(edit.year);
    zero_after_text(edit.comment);
    return index;
}

template <std::size_t N>
bool zero_filled(const std::array<char, N>& field)
{
    const std::size_t length = strnlen(field.data(), N);
    return length < N && std::all_of(field.begin() + static_cast<std::ptrdiff_t>(length), field.end(),
                                     [](char c) { return c == '\0'; });
}

bool same_edit(const tag_edit& a, const tag_edit& b)
{
    return a.title == b.title && a.artist == b.artist && a.album == b.album && a.year == b.year &&
           a.comment == b.comment && a.track == b.track && a.genre == b.genre && a.title_source == b.title_source &&
           a.write_artist == b.write_artist && a.write_album == b.write_album && a.write_year == b.write_year &&
           a.write_comment == b.write_comment && a.write_track == b.write_track && a.write_genre == b.write_genre;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input's bytes and a NUL after the last one: each NUL then ends an
    // argument.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    std::vector<const char*> arguments{"tagwhit"};
    if (size > 0) {
        for (std::size_t start = 0; start < text.size(); start += std::strlen(&text[start]) + 1) {
            arguments.push_back(&text[start]);
        }
    }
    const std::vector<char> text_before = text;

    tag_edit edit;
    const std::optional<std::size_t> first_file = parse_tag_options(arguments, edit);
    require(text == text_before, "the arguments are left unchanged");

    tag_edit want;
    const std::optional<std::size_t> want_first_file = expected_options(arguments, want);
    require(first_file == want_first_file, "the first file name is where the option rules put it");
    if (!first_file) {
        return 0;
    }
    require(*first_file >= 1 && *first_file < arguments.size(), "the first file name is within the arguments");
    require(zero_filled(edit.title) && zero_filled(edit.artist) && zero_filled(edit.album) && zero_filled(edit.year) &&
                zero_filled(edit.comment),
            "every text field is zero-filled to one byte beyond its width");
    require(same_edit(edit, want), "the record holds what the options set, the later option winning");
    return 0;
}
