// tagwhit on a file system that fills up while a new block is appended: a
// small tmpfs in a private mount namespace.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

namespace {

constexpr std::size_t page = 4096;

TEST(tagwhit_full_disk, failed_append_leaves_the_file_as_it_was)
{
    if (!std::filesystem::exists("/usr/bin/unshare")) {
        GTEST_SKIP() << "needs unshare(1) (Debian package util-linux)";
    }
    scratch_dir dir;
    std::filesystem::create_directory(dir / "seed");
    // 64 bytes of the block still fit in the page that holds the end of
    // part.mp3, so its append fails part-way; whole.mp3 fills its last page.
    const std::string part = audio_bytes(page - 64);
    const std::string whole = audio_bytes(page);
    const std::string tagged = audio_bytes(300) + id3v1_block({.genre = '\0'});
    write_file(dir / "seed" / "part.mp3", part);
    write_file(dir / "seed" / "whole.mp3", whole);
    write_file(dir / "seed" / "tagged.mp3", tagged);

    // The filler takes every byte left.
    const std::optional<run_result> r = run_on_tiny_tmpfs(dir, 64, std::size_t{1} << 30, tool_path("tagwhit"),
                                                          {"-a", "Who", "-k", "5", "part.mp3", "whole.mp3",
                                                           "tagged.mp3"});
    if (!r) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root or user namespaces)";
    }
    const std::string full = error_text(ENOSPC);
    EXPECT_EQ(r->out, "part.mp3: (creating tag) " + full + "\n" + "whole.mp3: (creating tag) " + full + "\n" +
                          "tagged.mp3: ok\n");
    EXPECT_EQ(r->status, 1);
    EXPECT_EQ(read_file(dir / "after" / "part.mp3"), part);
    EXPECT_EQ(read_file(dir / "after" / "whole.mp3"), whole);
    // A block that is already there needs no new space; the failures before
    // it used up no track number.
    EXPECT_EQ(read_file(dir / "after" / "tagged.mp3"),
              audio_bytes(300) + id3v1_block({.artist = "Who", .track = '\x05', .genre = '\0'}));
}

} // namespace
