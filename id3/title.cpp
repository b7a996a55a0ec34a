// Titles from file names, for names shaped like "Artist - 01 - Title.mp3".
#include "id3.hpp"

#include <algorithm>
#include <cstring>

namespace {

constexpr bool is_space_or_underscore(char c)
{
    return c == ' ' || c == '_';
}

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

const char* skip_spaces_and_underscores(const char* p)
{
    while (is_space_or_underscore(*p)) {
        ++p;
    }
    return p;
}

} // namespace

void title_from_file_name(const char* file_name, std::span<char, title_width + 1> title)
{
    // A '-' in a directory part counts too: the heuristic looks at bytes,
    // not at path components.
    const char* dash = std::strrchr(file_name, '-');
    const char* start = skip_spaces_and_underscores(dash != nullptr ? dash + 1 : file_name);
    while (is_digit(*start)) {
        ++start;
    }
    start = skip_spaces_and_underscores(start);

    // The 30-byte cut comes first, so a '.' beyond it ends nothing; then
    // the first '.' ends the text, which drops the extension.
    std::size_t length = 0;
    while (length < title_width && start[length] != '\0' && start[length] != '.') {
        ++length;
    }
    std::fill(title.begin(), title.end(), '\0');
    std::copy_n(start, length, title.begin());

    // Underscores become spaces before trailing spaces go, so that
    // "Title_.mp3" leaves no space behind.
    std::replace(title.begin(), title.begin() + static_cast<std::ptrdiff_t>(length), '_', ' ');
    while (length > 0 && title[length - 1] == ' ') {
        title[--length] = '\0';
    }
}
