// Titles derived from file names.
#include "id3.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

// The whole 31-byte field, so that stray bytes after the text show up.
std::string derived_field(const char* file_name, char prefill)
{
    std::array<char, title_width + 1> title{};
    title.fill(prefill);
    title_from_file_name(file_name, title);
    return std::string(title.data(), title.size());
}

std::string padded(const std::string& text)
{
    return text + std::string(title_width + 1 - text.size(), '\0');
}

TEST(title_from_file_name, derives_titles_from_names)
{
    const struct {
        const char* file_name;
        const char* title;
    } cases[] = {
        {"Artist - Title.mp3", "Title"},
        {"Artist - 01 - Title.mp3", "Title"},
        {"Artist-Title.mp3", "Title"},
        {"Artist - 07 Title Words.mp3", "Title Words"},
        {"01_My_Song.mp3", "My Song"},
        {"Artist - __05__Song_Name_.mp3", "Song Name"},
        {"Artist - Title_ .mp3", "Title"},
        {"Artist - Mr. Jones.mp3", "Mr"},
        {"Artist - 12 Angry Men.mp3", "Angry Men"},
        {"Artist - A very long title that exceeds thirty bytes.mp3", "A very long title that exceeds"},
        {"Band - 1999.mp3", ""},
        {"music/Song.mp3", "music/Song"},
        {"my-music/Song.mp3", "music/Song"},
        {"./Song.mp3", ""},
        {"Song", "Song"},
        // A '-' in a directory only counts when the file name has none.
        {"a-dir/Artist - Title.mp3", "Title"},
        {"a.dir/Song.mp3", "a"},
        // A '.' past the 30-byte cut was never copied, so nothing is cut.
        {"X - A_long_name_with_underscores_and.dots.mp3", "A long name with underscores a"},
        {"X - abcdefghijklmnopqrstuvwxyz1234.mp3", "abcdefghijklmnopqrstuvwxyz1234"},
        {"X - abcdefghijklmnopqrstuvwxyz123.mp3", "abcdefghijklmnopqrstuvwxyz123"},
        // Spaces that the cut leaves at the end go; inner ones stay.
        {"X - abcdefghijklmnopqrstuvwxyz12  .mp3", "abcdefghijklmnopqrstuvwxyz12"},
        {"X - a__b.mp3", "a  b"},
        // Only the first run of digits goes, and only at the start.
        {"X - 1 2 Title.mp3", "2 Title"},
        {"X - Title 2.mp3", "Title 2"},
        {"X - _ _ 7_ _Seven.mp3", "Seven"},
        {"Trailing-", ""},
        {"", ""},
        {"-", ""},
        {"X - \xC3\x89t\xC3\xA9.mp3", "\xC3\x89t\xC3\xA9"}, // bytes, not characters
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file_name);
        EXPECT_EQ(derived_field(c.file_name, '\0'), padded(c.title));
        EXPECT_EQ(derived_field(c.file_name, '#'), padded(c.title));
    }
}

TEST(title_from_file_name, cuts_a_multibyte_character_at_thirty_bytes)
{
    // 29 ASCII bytes, then a two-byte character: only its first byte fits.
    const std::string name = "X - " + std::string(29, 'a') + "\xC3\x89.mp3";
    const std::string field = derived_field(name.c_str(), '#');
    EXPECT_EQ(field, std::string(29, 'a') + "\xC3" + '\0');
}

TEST(title_from_file_name, leaves_the_name_alone)
{
    char name[] = "Artist - 01_Some_Title_.mp3";
    const std::string before = name;
    const std::string first = derived_field(name, '\0');
    EXPECT_EQ(std::string(name), before);
    EXPECT_EQ(derived_field(name, '\0'), first);
}

} // namespace
