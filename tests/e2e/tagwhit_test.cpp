// tagwhit run on small synthetic files: only their last 128 bytes matter,
// and every byte before the block must survive untouched.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string banner = "tagwhit - Whitless ID3v1 Tagger\n"
                           "  tagwhit is Copyright (C) 2026 the Toolcrate developers; MIT licence.\n"
                           "  from Toolcrate v" TOOLCRATE_VERSION " (64-bit Android)\n"
                           "  https://toolcrate.example/\n"
                           "\n";

std::string usage(const std::string& program)
{
    return "Usage: " + program + " [options] mp3file(s)\n"
           "\n"
           "Options:\n"
           "  -t title     Set ID3 title       -t-   Clear ID3 title\n"
           "  -a artist    Set ID3 artist      -a-   Clear ID3 artist\n"
           "  -m album     Set ID3 album       -m-   Clear ID3 album\n"
           "  -y year      Set ID3 year        -y-   Clear ID3 year\n"
           "  -c comment   Set ID3 comment     -c-   Clear ID3 comment\n"
           "  -k track#    Set ID3 track #     -k-   Clear ID3 track #\n"
           "  -g genre#    Set ID3 genre #     -g-   Clear ID3 genre #\n"
           "  -tf          Set ID3 title based on the filename\n"
           "\n"
           "Notes:\n"
           "  - Only ID3v1 tags are supported.\n"
           "  - The track number increments automatically for each additional file.\n"
           "  - The -tf option will turn \"Artist - Title.mp3\" into \"Title\", but\n"
           "    be sure to check the titles by hand in case it gets confused.\n";
}


// A 128-byte block, built field by field at offsets from the end.
struct block {
    std::string bytes = "TAG" + std::string(124, '\0') + "\xFF";

    block& at(int from_end, const std::string& value)
    {
        bytes.replace(bytes.size() - static_cast<std::size_t>(-from_end), value.size(), value);
        return *this;
    }
    block& fill(char byte)
    {
        bytes = "TAG" + std::string(125, byte);
        return *this;
    }
};

std::string padded(const std::string& text, std::size_t width)
{
    return text + std::string(width - text.size(), '\0');
}

run_result tagwhit(const std::vector<std::string>& args, const scratch_dir& dir)
{
    return run_tool(tagwhit_path(), args, dir.path());
}

TEST(tagwhit, usage_when_the_command_line_is_unusable)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-t", "song.mp3"}, // the only name is taken as the title
        {"-a"},
        {"-tf", "-k-", "--"},
        {"-x", "-"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        scratch_dir dir;
        write_file(dir / "song.mp3", audio_bytes(300));
        const run_result r = tagwhit(args, dir);
        EXPECT_EQ(r.out, banner + usage("tagwhit"));
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
        const run_result r = run_tool(tagwhit_path(), {}, dir.path(), options);
        EXPECT_EQ(r.out, banner + usage(c.shown));
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
    const run_result r = run_tool(tagwhit_path(), {}, dir.path(), options);
    EXPECT_EQ(r.out, banner + usage(""));
    EXPECT_EQ(r.status, 1);
}

TEST(tagwhit, finds_or_appends_the_block)
{
    const std::string tagged_128 = block().fill('z').bytes;
    const std::string untagged_128 = audio_bytes(128);
    const std::string ta_then_x = audio_bytes(500) + "TAx" + std::string(125, 'q');
    const std::string tag_by_chance = audio_bytes(72) + "TAG" + std::string(125, 'q');
    const struct {
        const char* name;
        std::string before;
        std::string line;
        int status;
        std::string after;
    } cases[] = {
        {"empty", "", "file is too short", 1, ""},
        {"127 bytes", audio_bytes(127), "file is too short", 1, audio_bytes(127)},
        {"128 bytes tagged", tagged_128, "ok", 0, block().fill('z').at(-95, padded("Who", 30)).bytes},
        {"128 bytes untagged", untagged_128, "(creating tag) ok", 0,
         untagged_128 + block().at(-95, padded("Who", 30)).bytes},
        {"TA and another byte", ta_then_x, "(creating tag) ok", 0,
         ta_then_x + block().at(-95, padded("Who", 30)).bytes},
        {"TAG by chance", tag_by_chance, "ok", 0,
         audio_bytes(72) + "TAG" + std::string(30, 'q') + padded("Who", 30) + std::string(65, 'q')},
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
TEST(tagwhit, leaves_files_that_are_plainly_not_audio_alone)
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
        {"MP4", "\0\0\0\x20" "ftypM4A "s + binary, "not MP3 audio (MP4 media)"},
        {"PDF", "%PDF-1.7" + binary, "not MP3 audio (PDF document)"},
        {"ZIP", "PK\x03\x04" + binary, "not MP3 audio (ZIP archive)"},
        {"text", text, "not MP3 audio (text)"},
        {"short text comes out too short", "notes", "file is too short"},
        {"UTF-8 text", "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.mp3 CBF43926\r\n" + text, "not MP3 audio (text)"},
        {"ESC makes it binary", "\x1B" + text, nullptr},
        {"a control byte past the first 512", std::string(512, 't') + "\x01" + binary, "not MP3 audio (text)"},
        {"ID3v2 header", "ID3\x04" + text, nullptr},
        {"MPEG frame sync", "\xFF\xFB" + text, nullptr},
        {"text with a block", text + "TAG" + std::string(125, 't'), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        scratch_dir dir;
        write_file(dir / "f", c.before);
        const run_result r = tagwhit({"-k", "3", "f"}, dir);
        if (c.line != nullptr) {
            EXPECT_EQ(r.out, std::string("f: ") + c.line + "\n");
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(read_file(dir / "f"), c.before);
        } else {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(read_file(dir / "f").substr(0, c.before.size() - 3), c.before.substr(0, c.before.size() - 3));
        }
    }
}

TEST(tagwhit, writes_every_field_at_its_offset)
{
    scratch_dir dir;
    const std::string old_block = block().fill('z').bytes;
    write_file(dir / "tagged.mp3", audio_bytes(1000) + old_block);
    write_file(dir / "new.mp3", audio_bytes(1000));
    const run_result r = tagwhit({"-t", "Title", "-a", "Artist", "-m", "Album", "-y", "2026", "-c", "Comment",
                                  "-k", "9", "-g", "17", "tagged.mp3", "new.mp3"},
                                 dir);
    EXPECT_EQ(r.out, "tagged.mp3: ok\nnew.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 0);
    const std::string fields = "TAG" + padded("Title", 30) + padded("Artist", 30) + padded("Album", 30) + "2026" +
                               padded("Comment", 29) + "\x09\x11";
    EXPECT_EQ(read_file(dir / "tagged.mp3"), audio_bytes(1000) + fields);
    EXPECT_EQ(read_file(dir / "new.mp3"), audio_bytes(1000) + fields.substr(0, 126) + "\x0A\x11");
}

TEST(tagwhit, leaves_fields_that_were_not_asked_for)
{
    const struct {
        std::vector<std::string> options;
        std::string block_after;
    } cases[] = {
        {{"--"}, block().fill('z').bytes},
        {{"-t-"}, block().fill('z').at(-125, std::string(30, '\0')).bytes},
        {{"-m", "Album"}, block().fill('z').at(-65, padded("Album", 30)).bytes},
        {{"-y-", "-k-"}, block().fill('z').at(-35, std::string(4, '\0')).at(-2, std::string(1, '\0')).bytes},
        {{"-g-"}, block().fill('z').at(-1, "\xFF").bytes},
        {{"-g", "x7", "-k", "7x"}, block().fill('z').at(-2, "\x07").at(-1, std::string(1, '\0')).bytes},
        {{"-c", std::string(29, 'c')}, block().fill('z').at(-31, std::string(29, 'c')).bytes},
        {{"-c", std::string(28, 'c')}, block().fill('z').at(-31, padded(std::string(28, 'c'), 29)).bytes},
        {{"-a", "Long artist name", "-a-"}, block().fill('z').at(-95, std::string(30, '\0')).bytes},
        {{"-t", "-a", "-x", "-"}, block().fill('z').at(-125, padded("-a", 30)).bytes},
        {{"-k", "300", "-g", "-1"}, block().fill('z').at(-2, "\x2C\xFF").bytes},
        {{"-k", "99999999999", "-g", "-99999999999"}, block().fill('z').at(-2, std::string("\xFF\0", 2)).bytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.options));
        scratch_dir dir;
        write_file(dir / "f.mp3", audio_bytes(200) + block().fill('z').bytes);
        std::vector<std::string> args = c.options;
        args.emplace_back("f.mp3");
        const run_result r = tagwhit(args, dir);
        EXPECT_EQ(r.out, "f.mp3: ok\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(200) + c.block_after);
    }
}

TEST(tagwhit, new_block_without_fields_is_zero_with_genre_ff)
{
    scratch_dir dir;
    write_file(dir / "f.mp3", audio_bytes(130));
    const run_result r = tagwhit({"-x", "f.mp3"}, dir);
    EXPECT_EQ(r.out, "f.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(130) + block().bytes);
}

TEST(tagwhit, numbers_tracks_over_the_files_that_were_updated)
{
    scratch_dir dir;
    for (const char* name : {"a.mp3", "b.mp3", "-c.mp3"}) {
        write_file(dir / name, audio_bytes(150));
    }
    write_file(dir / "short.mp3", audio_bytes(20));
    std::filesystem::create_directory(dir / "folder");
    const run_result r =
        tagwhit({"-k", "254", "--", "-c.mp3", "missing.mp3", "a.mp3", "folder", "short.mp3", "b.mp3", "a.mp3"}, dir);
    EXPECT_EQ(r.out, "-c.mp3: (creating tag) ok\n"
                     "missing.mp3: No such file or directory\n"
                     "a.mp3: (creating tag) ok\n"
                     "folder: Is a directory\n"
                     "short.mp3: file is too short\n"
                     "b.mp3: (creating tag) ok\n"
                     "a.mp3: ok\n");
    EXPECT_EQ(r.status, 1);
    // 254, 255, 256 and 257 in turn; the failures use up no number.
    EXPECT_EQ(read_file(dir / "-c.mp3"), audio_bytes(150) + block().at(-2, "\xFE").bytes);
    EXPECT_EQ(read_file(dir / "b.mp3"), audio_bytes(150) + block().at(-2, std::string(1, '\0')).bytes);
    EXPECT_EQ(read_file(dir / "a.mp3"), audio_bytes(150) + block().at(-2, "\x01").bytes);
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
            write_file(dir / name, audio_bytes(128) + block().bytes);
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
        EXPECT_EQ(read_file(dir / name), audio_bytes(140) + block().at(-125, padded(title, 30)).at(-2, {track}).bytes);
        ++track;
    }
}

TEST(tagwhit, options_after_the_first_file_are_file_names)
{
    scratch_dir dir;
    write_file(dir / "f.mp3", audio_bytes(128) + block().bytes);
    const run_result r = tagwhit({"f.mp3", "-t", "Title"}, dir);
    EXPECT_EQ(r.out, "f.mp3: ok\n-t: No such file or directory\nTitle: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "f.mp3"), audio_bytes(128) + block().bytes);
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
    if (tools_run_emulated()) {
        GTEST_SKIP() << "the tools run under an emulator, which cannot start the host's /bin/sh";
    }
    if (!std::filesystem::exists("/usr/bin/iconv")) {
        GTEST_SKIP() << "iconv is not installed (Debian package libc-bin)";
    }
    EXPECT_NE(read_file(README_PATH).find(latin1_recipe), std::string::npos)
        << "README.md no longer holds this recipe: test the one it holds";

    scratch_dir dir;
    std::filesystem::create_directory(dir / "bin");
    std::filesystem::create_symlink(tagwhit_path(), dir / "bin" / "tagwhit");
    const std::string old_tag = block().at(-125, padded("Old", 30)).bytes;
    write_file(dir / "Caf\xC3\xA9 Noir.mp3", audio_bytes(200) + old_tag);
    write_file(dir / "\xE6\x97\xA5\xE6\x9C\xAC.mp3", audio_bytes(200) + old_tag); // no Latin-1 form
    run_options options;
    options.extra_environment = {"PATH=" + (dir / "bin").string() + ":/usr/bin:/bin"};
    const run_result r = run_tool("/bin/sh", {"-c", latin1_recipe}, dir.path(), options);
    EXPECT_EQ(r.out, "Caf\xC3\xA9 Noir.mp3: ok\n");
    EXPECT_NE(r.err.find("\xE6\x97\xA5\xE6\x9C\xAC.mp3: not converted, left alone\n"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir / "Caf\xC3\xA9 Noir.mp3"), audio_bytes(200) + block().at(-125, padded("Caf\xE9 Noir", 30)).bytes);
    EXPECT_EQ(read_file(dir / "\xE6\x97\xA5\xE6\x9C\xAC.mp3"), audio_bytes(200) + old_tag);
}

TEST(tagwhit, never_copies_the_audio_of_a_large_file)
{
    scratch_dir dir;
    const std::filesystem::path big = dir / "big.mp3";
    constexpr off_t gigabyte = off_t{1} << 30;
    write_file(big, "");
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
