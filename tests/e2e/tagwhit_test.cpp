// tagwhit run on small synthetic files: only their last 128 bytes matter,
// and every byte before the block must survive untouched.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

run_result tagwhit(const std::vector<std::string>& args, const scratch_dir& dir)
{
    return run_tool(tool_path("tagwhit"), args, dir.path());
}

TEST(tagwhit, usage_when_the_command_line_is_unusable)
{
    const std::vector<std::vector<std::string>> cases = {
        {},     {"-t", "song.mp3"}, // the only name is taken as the title
        {"-a"}, {"-tf", "-k-", "--"}, {"-x", "-"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        scratch_dir dir;
        write_file(dir / "song.mp3", audio_bytes(300));
        const run_result r = tagwhit(args, dir);
        EXPECT_EQ(r.out, usage_screen("tagwhit", "tagwhit"));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(read_file(dir / "song.mp3"), audio_bytes(300));
    }
}

TEST(tagwhit, usage_shows_the_normalised_program_name)
{
    const struct {
        std::string argv0;
        std::string shown;
    } cases[] = {
        {"bin/TAGWHIT.EXE", "tagwhit"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv0);
        scratch_dir dir;
        run_options options;
        options.argv0 = c.argv0;
        const run_result r = run_tool(tool_path("tagwhit"), {}, dir.path(), options);
        EXPECT_EQ(r.out, usage_screen("tagwhit", c.shown));
        EXPECT_EQ(r.status, 1);
    }
}

TEST(tagwhit, usage_with_an_empty_argument_vector)
{
    if (tools_run_emulated()) {
        GTEST_SKIP() << "an emulator cannot start a program with an empty argument vector";
    }
    scratch_dir dir;
    run_options options;
    options.no_arguments_at_all = true;
    const run_result r = run_tool(tool_path("tagwhit"), {}, dir.path(), options);
    EXPECT_EQ(r.out, usage_screen("tagwhit", ""));
    EXPECT_EQ(r.status, 1);
}

TEST(tagwhit, finds_or_appends_the_block)
{
    const std::string tagged_128 = id3v1_block({.fill = 'z'});
    const std::string untagged_128 = audio_bytes(128);
    const std::string ta_then_x = audio_bytes(500) + "TAx" + std::string(125, 'q');
    const std::string tag_by_chance = audio_bytes(72) + id3v1_block({.fill = 'q'});
    const struct {
        const char* name;
        std::string before;
        std::string line;
        int status;
        std::string after;
    } cases[] = {
        {"empty", "", "file is too short", 1, ""},
        {"127 bytes", audio_bytes(127), "file is too short", 1, audio_bytes(127)},
        {"128 bytes tagged", tagged_128, "ok", 0, id3v1_block({.artist = "Who", .fill = 'z'})},
        {"128 bytes untagged", untagged_128, "(creating tag) ok", 0, untagged_128 + id3v1_block({.artist = "Who"})},
        {"TA and another byte", ta_then_x, "(creating tag) ok", 0, ta_then_x + id3v1_block({.artist = "Who"})},
        {"TAG by chance", tag_by_chance, "ok", 0, audio_bytes(72) + id3v1_block({.artist = "Who", .fill = 'q'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        write_file(dir / "f.mp3", c.before);
        const run_result r = tagwhit({"-a", "Who", "f.mp3"}, dir);
        EXPECT_EQ(r.out, "f.mp3: " + c.line + "\n");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(read_file(dir / "f.mp3"), c.after);
    }
}

// A file without a block that is plainly no MPEG audio (an album folder's
// cover, listing or playlist) is refused and left alone; audio of any shape,
// and any file that already has a block, is tagged as ever.
// Only MPEG audio gains a block: an album folder also holds covers, logs,
// cue sheets and archives, and `tagwhit -a X *` must leave them as they
// were, times included.
TEST(tagwhit, tags_mpeg_audio_only)
{
    using namespace std::string_literals;
    const std::string binary = audio_bytes(300);
    const std::string text = "Any plain text\tof a listing,\r\na playlist or notes.\f" + std::string(300, 'x');
    const struct {
        const char* name;
        std::string before;
        const char* line; // null: tagged
    } cases[] = {
        {"JPEG", "\xFF\xD8\xFF\xE0" + binary, "not MP3 audio (JPEG image)"},
        {"PNG", "\x89PNG\r\n\x1A\n" + binary, "not MP3 audio (PNG image)"},
        {"GIF", "GIF89a" + binary, "not MP3 audio (GIF image)"},
        {"FLAC", "fLaC" + binary, "not MP3 audio (FLAC audio)"},
        {"Ogg", "OggS" + binary, "not MP3 audio (Ogg media)"},
        {"MP4",
         "\0\0\0\x20"
         "ftypM4A "s +
             binary,
         "not MP3 audio (MP4 media)"},
        {"PDF", "%PDF-1.7" + binary, "not MP3 audio (PDF document)"},
        {"ZIP", "PK\x03\x04" + binary, "not MP3 audio (ZIP archive)"},
        {"WAVE", "RIFF\x24\x00\x00\x00WAVEfmt "s + binary, "not MP3 audio (WAVE audio)"},
        {"Thumbs.db", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"s + binary, "not MP3 audio (OLE document)"},
        {"text", text, "not MP3 audio (text)"},
        {"short text comes out too short", "notes", "file is too short"},
        {"UTF-8 text", "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.mp3 CBF43926\r\n" + text, "not MP3 audio (text)"},
        {"a cue sheet in UTF-16",
         "\xFF\xFE"
         "F\0I\0L\0E\0 \0\"\0a\0.\0w\0a\0v\0\"\0\r\0\n\0"s +
             std::string(300, '\0'),
         "not MP3 audio (UTF-16 text)"},
        {"art of control bytes", "\x0E\x10\x11 art " + text, "not MP3 audio"},
        {"ESC", "\x1B" + text, "not MP3 audio"},
        {"a control byte past the first 512", std::string(512, 't') + "\x01" + text, "not MP3 audio (text)"},
        {"a frame sync that no second header confirms", "\xFF\xFB" + text, "not MP3 audio (text)"},
        {"MPEG program stream", "\0\0\x01\xBA\x44"s + binary, "not MP3 audio (MPEG video)"},
        {"Video CD",
         "RIFF\x24\x00\x00\x00"
         "CDXAfmt "s +
             binary,
         "not MP3 audio (MPEG video)"},
        {"FLAC behind ID3v2", "ID3\x03\0\0\0\0\0\x02\0\0fLaC"s + binary, "not MP3 audio (FLAC audio)"},
        // Past the first look at the file, behind a tag that has a footer.
        {"Ogg behind a large ID3v2.4 tag", "ID3\x04\0\x10\0\0\x28\0"s + std::string(5120 + 10, '\0') + "OggS" + binary,
         "not MP3 audio (Ogg media)"},
        {"MPEG audio", binary, nullptr},
        {"ID3v2 header", "ID3\x04" + text, nullptr},
        {"zero padding first", std::string(5000, '\0') + binary, nullptr},
        // The first header at the last place it may start: the frame that
        // confirms it lies past the 64 KiB searched, but is read too.
        {"audio from the last byte of the search", std::string(65'535, '\0') + binary, nullptr},
        {"a stream server's text header first", "ICY 200 OK\r\nicy-name:" + std::string(550, 'r') + "\r\n\r\n" + binary,
         nullptr},
        {"text with a block", text + id3v1_block({.fill = 't'}), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        write_file(dir / "f", c.before);
        const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
        std::filesystem::last_write_time(dir / "f", old_time);
        const run_result r = tagwhit({"-k", "3", "f"}, dir);
        if (c.line != nullptr) {
            EXPECT_EQ(r.out, std::string("f: ") + c.line + "\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(read_file(dir / "f"), c.before);
            EXPECT_EQ(std::filesystem::last_write_time(dir / "f"), old_time);
        } else {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(read_file(dir / "f").substr(0, c.before.size() - 3), c.before.substr(0, c.before.size() - 3));
        }
    }
}

TEST(tagwhit, writes_every_field_at_its_offset)
{
    scratch_dir dir;
    const std::string old_block = id3v1_block({.fill = 'z'});
    write_file(dir / "tagged.mp3", audio_bytes(1000) + old_block);
    write_file(dir / "new.mp3", audio_bytes(1000));
    const run_result r = tagwhit({"-t", "Title", "-a", "Artist", "-m", "Album", "-y", "2026", "-c", "Comment", "-k",
                                  "9", "-g", "17", "tagged.mp3", "new.mp3"},
                                 dir);
    EXPECT_EQ(r.out, "tagged.mp3: ok\nnew.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 0);
    const id3v1_fields fields = {.title = "Title",
                                 .artist = "Artist",
                                 .album = "Album",
                                 .year = "2026",
                                 .comment = "Comment",
                                 .track = '\x09',
                                 .genre = '\x11'};
    EXPECT_EQ(read_file(dir / "tagged.mp3"), audio_bytes(1000) + id3v1_block(fields));
    EXPECT_EQ(read_file(dir / "new.mp3"), audio_bytes(1000) + id3v1_block({.title = "Title",
                                                                           .artist = "Artist",
                                                                           .album = "Album",
                                                                           .year = "2026",
                                                                           .comment = "Comment",
                                                                           .track = '\x0A',
                                                                           .genre = '\x11'}));
}

TEST(tagwhit, leaves_fields_that_were_not_asked_for)
{
    const struct {
        std::vector<std::string> options;
        std::string block_after;
    } cases[] = {
        {{"--"}, id3v1_block({.fill = 'z'})},
        {{"-t-"}, id3v1_block({.title = "", .fill = 'z'})},
        {{"-m", "Album"}, id3v1_block({.album = "Album", .fill = 'z'})},
        {{"-y-", "-k-"}, id3v1_block({.year = "", .track = '\0', .fill = 'z'})},
        {{"-g-"}, id3v1_block({.genre = '\xFF', .fill = 'z'})},
        {{"-g", "x7", "-k", "7x"}, id3v1_block({.track = '\x07', .genre = '\0', .fill = 'z'})},
        {{"-c", std::string(29, 'c')}, id3v1_block({.comment = std::string(29, 'c'), .fill = 'z'})},
        {{"-c", std::string(28, 'c')}, id3v1_block({.comment = std::string(28, 'c'), .fill = 'z'})},
        {{"-a", "Long artist name", "-a-"}, id3v1_block({.artist = "", .fill = 'z'})},
        {{"-t", "-a", "-x", "-"}, id3v1_block({.title = "-a", .fill = 'z'})},
        {{"-k", "300", "-g", "-1"}, id3v1_block({.track = '\x2C', .genre = '\xFF', .fill = 'z'})},
        {{"-k", "99999999999", "-g", "-99999999999"}, id3v1_block({.track = '\xFF', .genre = '\0', .fill = 'z'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        scratch_dir dir;
        write_file(dir / "f.mp3", audio_bytes(200) + id3v1_block({.fill = 'z'}));
        std::vector<std::string> args = c.options;
        args.emplace_back("f.mp3");
        const run_result r = tagwhit(args, dir);
        EXPECT_EQ(r.out, "f.mp3: ok\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(200) + c.block_after);
    }
}

// With no field chosen, a file without a block gains an empty one, and a
// file with one is not written at all: its time stays too.
TEST(tagwhit, no_field_gives_an_empty_block_or_leaves_the_file)
{
    scratch_dir dir;
    write_file(dir / "f.mp3", audio_bytes(130));
    const std::string tagged = audio_bytes(130) + id3v1_block({.fill = 'z'});
    write_file(dir / "t.mp3", tagged);
    const auto old_time = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    std::filesystem::last_write_time(dir / "t.mp3", old_time);
    const run_result r = tagwhit({"-x", "f.mp3", "t.mp3"}, dir);
    EXPECT_EQ(r.out, "f.mp3: (creating tag) ok\nt.mp3: ok\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(130) + id3v1_block({}));
    EXPECT_EQ(read_file(dir / "t.mp3"), tagged);
    EXPECT_EQ(std::filesystem::last_write_time(dir / "t.mp3"), old_time);
}

TEST(tagwhit, numbers_tracks_over_the_files_that_were_updated)
{
    scratch_dir dir;
    for (const char* name : {"a.mp3", "b.mp3", "-c.mp3"}) {
        write_file(dir / name, audio_bytes(150));
    }
    write_file(dir / "short.mp3", audio_bytes(20));
    std::filesystem::create_directory(dir / "folder");
    const run_result r = tagwhit({"-k", "254", "--", "-c.mp3", "missing.mp3", "a.mp3", "folder", "short.mp3", "b.mp3",
                                  "a.mp3"},
                                 dir);
    EXPECT_EQ(r.out, "-c.mp3: (creating tag) ok\n"
                     "missing.mp3: No such file or directory\n"
                     "a.mp3: (creating tag) ok\n"
                     "folder: Is a directory\n"
                     "short.mp3: file is too short\n"
                     "b.mp3: (creating tag) ok\n"
                     "a.mp3: ok\n");
    EXPECT_EQ(r.status, 1);
    // 254, 255, 256 and 257 in turn; the failures use up no number.
    EXPECT_EQ(read_file(dir / "-c.mp3"), audio_bytes(150) + id3v1_block({.track = '\xFE'}));
    EXPECT_EQ(read_file(dir / "b.mp3"), audio_bytes(150) + id3v1_block({.track = '\0'}));
    EXPECT_EQ(read_file(dir / "a.mp3"), audio_bytes(150) + id3v1_block({.track = '\x01'}));
    EXPECT_EQ(read_file(dir / "short.mp3"), audio_bytes(20));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.mp3"));
}

TEST(tagwhit, track_numbers_that_reach_zero_stay_there)
{
    const struct {
        const char* start;
        std::string bytes; // track byte of each of the three files
    } cases[] = {
        {"-1", std::string("\xFF\0\0", 3)},
        {"0", std::string("\0\0\0", 3)},
        {"2147483647", std::string("\xFF\0\x01", 3)}, // wraps to INT32_MIN, whose low byte is 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        scratch_dir dir;
        for (const char* name : {"1.mp3", "2.mp3", "3.mp3"}) {
            write_file(dir / name, audio_bytes(128) + id3v1_block({}));
        }
        const run_result r = tagwhit({"-k", c.start, "1.mp3", "2.mp3", "3.mp3"}, dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "1.mp3: ok\n2.mp3: ok\n3.mp3: ok\n");
        EXPECT_EQ(read_file(dir / "1.mp3").substr(254, 1), c.bytes.substr(0, 1));
        EXPECT_EQ(read_file(dir / "2.mp3").substr(254, 1), c.bytes.substr(1, 1));
        EXPECT_EQ(read_file(dir / "3.mp3").substr(254, 1), c.bytes.substr(2, 1));
    }
}

TEST(tagwhit, derives_titles_from_each_file_name)
{
    scratch_dir dir;
    std::filesystem::create_directory(dir / "my-music");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"Artist - 01 - Title.mp3", "Title"},
        {"Band_-_02_-_Other_Song_.mp3", "Other Song"},
        {"my-music/Song.mp3", "music/Song"},
        {"Band - 1999.mp3", ""},
    };
    std::vector<std::string> args = {"-t", "Ignored", "-tf", "-k", "1"};
    for (const auto& [name, title] : files) {
        write_file(dir / name, audio_bytes(140));
        args.push_back(name);
    }
    const run_result r = tagwhit(args, dir);
    EXPECT_EQ(r.status, 0);
    char track = 1;
    for (const auto& [name, title] : files) {
        SCOPED_TRACE(name);
        EXPECT_NE(r.out.find(name + ": (creating tag) ok\n"), std::string::npos);
        EXPECT_EQ(read_file(dir / name), audio_bytes(140) + id3v1_block({.title = title, .track = track}));
        ++track;
    }
}

TEST(tagwhit, options_after_the_first_file_are_file_names)
{
    scratch_dir dir;
    write_file(dir / "f.mp3", audio_bytes(128) + id3v1_block({}));
    const run_result r = tagwhit({"f.mp3", "-t", "Title"}, dir);
    EXPECT_EQ(r.out, "f.mp3: ok\n-t: No such file or directory\nTitle: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(128) + id3v1_block({}));
}

// The README's recipe for Latin-1 titles, word for word. It must stop at a
// name iconv cannot convert: an empty -t value would clear the title, and
// tagwhit would still say ok.
const std::string latin1_recipe = R"(for f in *.mp3; do
    if title=$(printf %s "${f%.mp3}" | iconv -f UTF-8 -t LATIN1); then
        tagwhit -t "$title" -- "$f"
    else
        echo "$f: not converted, left alone" >&2
    fi
done)";

TEST(tagwhit, readme_latin1_recipe_skips_what_iconv_cannot_convert)
{
    if (!std::filesystem::exists("/usr/bin/iconv")) {
        GTEST_SKIP() << "iconv is not installed (Debian package libc-bin)";
    }
    EXPECT_NE(read_file(README_PATH).find(latin1_recipe), std::string::npos)
        << "README.md no longer holds this recipe: test the one it holds";

    scratch_dir dir;
    std::filesystem::create_directory(dir / "bin");
    if (const std::vector<std::string> start = start_words(tool_path("tagwhit")); start.size() == 1) {
        std::filesystem::create_symlink(tool_path("tagwhit"), dir / "bin" / "tagwhit");
    } else {
        // The shell cannot start an emulated program: a script does.
        std::string script = "#!/bin/sh\nexec";
        for (const std::string& word : start) {
            script += " '" + word + "'";
        }
        write_file(dir / "bin" / "tagwhit", script + " \"$@\"\n");
        std::filesystem::permissions(dir / "bin" / "tagwhit", std::filesystem::perms::owner_all);
    }
    const std::string old_tag = id3v1_block({.title = "Old"});
    write_file(dir / "Caf\xC3\xA9 Noir.mp3", audio_bytes(200) + old_tag);
    write_file(dir / "\xE6\x97\xA5\xE6\x9C\xAC.mp3", audio_bytes(200) + old_tag); // no Latin-1 form
    run_options options;
    options.extra_environment = {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin"};
    const run_result r = run_tool("/bin/sh", {"-c", latin1_recipe}, dir.path(), options);
    EXPECT_EQ(r.out, "Caf\xC3\xA9 Noir.mp3: ok\n");
    EXPECT_NE(r.err.find("\xE6\x97\xA5\xE6\x9C\xAC.mp3: not converted, left alone\n"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "Caf\xC3\xA9 Noir.mp3"), audio_bytes(200) + id3v1_block({.title = "Caf\xE9 Noir"}));
    EXPECT_EQ(read_file(dir / "\xE6\x97\xA5\xE6\x9C\xAC.mp3"), audio_bytes(200) + old_tag);
}

TEST(tagwhit, never_copies_the_audio_of_a_large_file)
{
    scratch_dir dir;
    const std::filesystem::path big = dir / "big.mp3";
    constexpr off_t gigabyte = off_t{1} << 30;
    write_file(big, audio_bytes(4096));
    if (::truncate(big.c_str(), gigabyte) != 0) {
        GTEST_SKIP() << "cannot make a 1 GiB sparse file here";
    }
    struct stat before {};
    ASSERT_EQ(::stat(big.c_str(), &before), 0);
    if (before.st_blocks * 512 > (off_t{1} << 20)) {
        GTEST_SKIP() << "this file system does not keep the test file sparse";
    }
    const run_result r = tagwhit({"-t", "Big", "big.mp3", "big.mp3"}, dir);
    EXPECT_EQ(r.out, "big.mp3: (creating tag) ok\nbig.mp3: ok\n");
    EXPECT_EQ(r.status, 0);
    struct stat after {};
    ASSERT_EQ(::stat(big.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, gigabyte + 128);
    // Reading or rewriting the audio would have filled in the holes.
    EXPECT_LT(after.st_blocks * 512, off_t{1} << 20);
}

} // namespace
