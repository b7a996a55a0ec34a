// Fuzz target: the title derived from a file name (the input up to its
// first NUL byte), against the derivation rules taken one step at a time,
// and the promises any title keeps: at most 30 bytes, zero-filled after the
// text, never starting with a blank, never ending with a space.
#include "fuzz_support.hpp"

#include "id3.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace {

using title_field = std::array<char, title_width + 1>;

// The title of `name` by the rules in their order: after the last '-',
// blanks, a run of digits and blanks again skipped; 30 bytes copied; cut at
// the first '.'; '_' made ' '; trailing spaces dropped.
title_field expected_title(const char* name)
{
    const char* dash = std::strrchr(name, '-');
    const char* start = dash != nullptr ? dash + 1 : name;
    start += std::strspn(start, " _");
    start += std::strspn(start, "0123456789");
    start += std::strspn(start, " _");

    title_field title{};
    std::size_t length = std::min(std::strlen(start), title_width);
    std::memcpy(title.data(), start, length);
    if (const char* dot = std::strchr(title.data(), '.')) {
        length = static_cast<std::size_t>(dot - title.data());
    }
    std::replace(title.begin(), title.begin() + static_cast<std::ptrdiff_t>(length), '_', ' ');
    while (length > 0 && title[length - 1] == ' ') {
        --length;
    }
    std::fill(title.begin() + static_cast<std::ptrdiff_t>(length), title.end(), '\0');
    return title;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    // A copy on purpose: the check below is that the call leaves `name` alone.
    const std::string name_before = name; // NOLINT(performance-unnecessary-copy-initialization)

    // Two fields of different garbage must come out alike: the whole field
    // is overwritten, whatever it held.
    title_field title;
    title_field again;
    title.fill('\x55');
    again.fill('\xAA');
    title_from_file_name(name.c_str(), title);
    title_from_file_name(name.c_str(), again);
    // True unless the call wrote through c_str(), which is what it checks.
    // cppcheck-suppress knownConditionTrueFalse
    require(name == name_before, "the file name is left unchanged");
    require(title == again, "the same name gives the same title, whatever the field held");

    const std::size_t length = std::strlen(title.data());
    require(length <= title_width, "the title is at most 30 bytes");
    require(std::all_of(title.begin() + static_cast<std::ptrdiff_t>(length), title.end(),
                        [](char c) { return c == '\0'; }),
            "zero bytes fill the field after the title");
    require(title[0] != ' ' && title[0] != '_', "the title never starts with a space or an underscore");
    require(length == 0 || title[length - 1] != ' ', "the title never ends with a space");
    require(std::memchr(title.data(), '_', length) == nullptr, "underscores become spaces");
    require(std::memchr(title.data(), '.', length) == nullptr, "the title ends before the first '.'");
    require(title == expected_title(name.c_str()), "the title follows the derivation rules");
    return 0;
}
