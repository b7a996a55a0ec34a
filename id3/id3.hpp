// ID3v1 tags: the 128-byte block at the end of an MP3 file, the pending
// edit that the command line builds, titles derived from file names, and
// the update of each named file (tagwhit).
//
// The block starts with "TAG"; its fields follow as tag_fields lists them.
// A text is zero-padded, with no terminator when it fills its field; the
// comment's field ends at -3, the ID3v1.1 zero byte; a number is stored as
// its low 8 bits; a new block's genre is 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

inline constexpr std::size_t tag_size = 128;
inline constexpr std::size_t title_width = 30;
inline constexpr std::size_t artist_width = 30;
inline constexpr std::size_t album_width = 30;
inline constexpr std::size_t year_width = 4;
inline constexpr std::size_t comment_width = 29;

// Where the title written to each file comes from.
enum class title_source {
    none,      // leave the file's title alone
    text,      // write tag_edit::title
    file_name, // derive it from each file's name, then write it
};

// The pending edit for one run. Each text field holds its text, zero bytes
// up to its width and one more zero byte beyond it, so that the full width
// can be written to the file as it stands.
struct tag_edit {
    std::array<char, title_width + 1> title{};
    std::array<char, artist_width + 1> artist{};
    std::array<char, album_width + 1> album{};
    std::array<char, year_width + 1> year{};
    std::array<char, comment_width + 1> comment{};
    std::int32_t track = 0; // for the next file updated
    std::int32_t genre = 0;
    ::title_source title_source = ::title_source::none;
    bool write_artist = false;
    bool write_album = false;
    bool write_year = false;
    bool write_comment = false;
    bool write_track = false;
    bool write_genre = false;
};

// One field of the block, as the command line selects it and the block
// holds it. "-L VALUE" sets it and "-L-" clears it, L being `letter`. It
// lies `width` bytes from `offset`, counted from the end of the file.
// `written` is its write flag; the title has none, as title_source selects
// it. Its pending value is a text member of tag_edit (`text`) or a number
// member (`number`, written as its low 8 bits).
struct tag_field {
    char letter = '\0';
    int offset = 0;
    std::size_t width = 0;
    bool tag_edit::*written = nullptr;
    std::span<char> (*text)(tag_edit& edit) = nullptr;
    std::int32_t tag_edit::*number = nullptr;
    std::int32_t cleared = 0; // a number's value after "-L-"
};

// The text member `member` of an edit, for tag_field::text.
template <auto member>
std::span<char> text_of(tag_edit& edit)
{
    return edit.*member;
}

// Every field, in block order. The offset from the block's first byte is
// 128 more: title 3, artist 33, album 63, year 93, comment 97, track 126,
// genre 127.
inline constexpr tag_field tag_fields[] = {
    // letter, offset, width, write flag, text; or number, value after "-L-"
    {'t', -125, title_width, nullptr, text_of<&tag_edit::title>},
    {'a', -95, artist_width, &tag_edit::write_artist, text_of<&tag_edit::artist>},
    {'m', -65, album_width, &tag_edit::write_album, text_of<&tag_edit::album>},
    {'y', -35, year_width, &tag_edit::write_year, text_of<&tag_edit::year>},
    {'c', -31, comment_width, &tag_edit::write_comment, text_of<&tag_edit::comment>},
    {'k', -2, 1, &tag_edit::write_track, nullptr, &tag_edit::track, 0},
    {'g', -1, 1, &tag_edit::write_genre, nullptr, &tag_edit::genre, 255},
};

// Whether `edit` writes `field`: its write flag, or for the title a
// title_source other than none. Pure.
[[nodiscard]] constexpr bool writes_field(const tag_edit& edit, const tag_field& field)
{
    return field.written != nullptr ? edit.*field.written : edit.title_source != title_source::none;
}

// Overwrites the whole of `title` with the title derived from `file_name`:
// the text after the name's last '-', without leading blanks and track
// number, cut to 30 bytes and at its first '.', with '_' turned into spaces
// and trailing spaces dropped; zero bytes fill the rest. Cannot fail.
void title_from_file_name(const char* file_name, std::span<char, title_width + 1> title);

// Zeroes every byte of `field` after its text (the bytes before the first
// zero byte), so that a field of width N holds N + 1 bytes with a zero at
// index N at least. `field` is the whole field, width plus one. Cannot fail.
void zero_fill_field(std::span<char> field);

// Converts `text` like atoi (blanks, one sign, decimal digits up to the
// first other byte; no digits give 0), saturating at INT32_MIN/INT32_MAX
// instead of overflowing. Never fails; errno may be set to ERANGE.
[[nodiscard]] std::int32_t parse_tag_number(const char* text);

// Reads the options at the front of `arguments` (the whole argument vector,
// program name first) into `edit`, which should start default-initialised,
// and zero-fills its text fields. Returns the index of the first file name,
// or nullopt when the command line is unusable: no arguments, a value
// option without its value, or no file name after the options.
[[nodiscard]] std::optional<std::size_t> parse_tag_options(std::span<const char* const> arguments,
                                                           tag_edit& edit);

// Updates the tag block of one file as `edit` says and prints its result
// line ("NAME: ok", "NAME: (creating tag) ok", "NAME: file is too short",
// "NAME: not MP3 audio[ (KIND)]" or "NAME: " and strerror text). A file
// that cannot seek (ESPIPE) counts as too short; any other failed seek is
// reported with its text. A block is appended only to MPEG audio (see
// judge_file_head); a file that already has one is updated whatever it
// holds, and is not written at all when no field is selected.
// The block is written at once, under an exclusive flock, so the file is
// either as it was or fully updated, and one that gains no complete block
// is left at its original length. Returns true when the file was updated.
[[nodiscard]] bool update_file_tag(const char* file_name, const tag_edit& edit);

// How far into a file without a block MPEG audio is looked for: a first
// frame header must start in the first 64 KiB, and the header after it may
// lie one longest frame (an ADTS frame of 8191 bytes) further on.
inline constexpr std::size_t audio_search_start_limit = std::size_t{64} * 1024;
inline constexpr std::size_t audio_search_size = audio_search_start_limit + std::size_t{8} * 1024 + 8;
// The first look, which holds the first two frames of nearly every stream
// that starts with audio.
inline constexpr std::size_t audio_first_look = 4096;

enum class head_verdict { audio, not_audio, look_further };

// Tells from `head`, the first bytes of a file without a block, whether it
// holds MPEG audio: an ID3v2 header at the start ("ID3", major version 2
// to 4, four size bytes below 0x80), or an MPEG-1, 2 or 2.5 Layer I, II or
// III frame header or an ADTS (AAC) header starting in the first 64 KiB and
// followed, where the frame's length says the next one starts, by another
// header of the same stream. `complete` says that `head` holds the whole
// file or audio_search_size bytes of it; otherwise the answer may be
// look_further, to call again with more. For not_audio, `*kind` names what
// the file plainly is ("JPEG image", "text", ...) or is null. Pure.
[[nodiscard]] head_verdict judge_file_head(std::span<const unsigned char> head, bool complete,
                                           const char** kind);

// The length of the ID3v2 tag that `head` starts with, header, body and
// any footer, as its header says (see judge_file_head); 0 when `head` does
// not start with one. Pure.
[[nodiscard]] std::size_t id3v2_tag_length(std::span<const unsigned char> head);

// The kind of file ("FLAC audio", "MPEG video", ...) that `head` plainly
// is by its first bytes, for a format that is never an MPEG audio stream:
// images, other audio and video formats, documents and archives. Null when
// it is none of them. Pure.
[[nodiscard]] const char* known_other_format(std::span<const unsigned char> head);

// Runs update_file_tag on every name in order, advancing a non-zero
// edit.track (wrapping at 32 bits) after each file updated and after no
// other. Returns the exit status: 0 when every file was updated, else 1.
[[nodiscard]] int tag_files(std::span<const char* const> file_names, tag_edit& edit);
