// tagwhit on files that open but cannot be tagged, and on files it may not
// open: the error text completes the line, no track number is used up, and
// the run goes on.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string untagged = audio_bytes(300);

// The block appended to `untagged` with only the track number set.
std::string with_track(char track)
{
    return untagged + id3v1_block({.track = track});
}

// A file that cannot seek has no end to look at: too short, like a file
// whose size is below 128 bytes.
TEST(tagwhit_failures, a_file_that_cannot_seek_is_too_short)
{
    scratch_dir dir;
    if (::mkfifo((dir / "pipe").c_str(), 0644) != 0) {
        GTEST_SKIP() << "cannot make a named pipe here: " << std::strerror(errno);
    }
    write_file(dir / "a.mp3", untagged);

    const run_result r = run_tool(tool_path("tagwhit"), {"-k", "4", "pipe", "a.mp3"}, dir.path());
    EXPECT_EQ(r.out, "pipe: file is too short\na.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "a.mp3"), with_track(4));
}

// Device nodes named like songs, as an archive unpacked by root recreates
// them: a block device (a loop device over an image that ends in a block,
// which an update would write into) and a character device are refused
// before anything is written, and the run goes on.
TEST(tagwhit_failures, a_device_is_not_a_regular_file)
{
    scratch_dir dir;
    const std::string image = audio_bytes(4096 - 128) + id3v1_block({.title = "Old"});
    write_file(dir / "image", image);
    write_file(dir / "a.mp3", untagged);
    const run_result loop = run_tool("/usr/sbin/losetup", {"--find", "--show", (dir / "image").string()}, dir.path());
    struct stat device {};
    if (loop.status != 0 || ::stat(loop.out.substr(0, loop.out.find('\n')).c_str(), &device) != 0 ||
        ::mknod((dir / "01.mp3").c_str(), S_IFBLK | 0600, device.st_rdev) != 0 ||
        ::mknod((dir / "02.mp3").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) != 0) {
        GTEST_SKIP() << "needs root and a loop device to make device nodes";
    }
    const run_result r = run_tool(tool_path("tagwhit"), {"-k", "4", "01.mp3", "02.mp3", "a.mp3"}, dir.path());
    (void)run_tool("/usr/sbin/losetup", {"-d", loop.out.substr(0, loop.out.find('\n'))}, dir.path());
    EXPECT_EQ(r.out, "01.mp3: not a regular file\n02.mp3: not a regular file\na.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "image"), image);
    EXPECT_EQ(read_file(dir / "a.mp3"), with_track(4));
}

TEST(tagwhit_failures, a_read_only_file_is_reported_and_left_alone)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write to a read-only file; run as another user to check this";
    }
    scratch_dir dir;
    write_file(dir / "ro.mp3", untagged);
    write_file(dir / "a.mp3", untagged);
    ASSERT_EQ(::chmod((dir / "ro.mp3").c_str(), 0444), 0) << std::strerror(errno);

    const run_result r = run_tool(tool_path("tagwhit"), {"-k", "4", "ro.mp3", "a.mp3"}, dir.path());
    EXPECT_EQ(r.out, "ro.mp3: " + error_text(EACCES) + "\na.mp3: (creating tag) ok\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "ro.mp3"), untagged);
    EXPECT_EQ(read_file(dir / "a.mp3"), with_track(4));
}

// A reader that goes away, or a full device behind stdout, must not stop a
// run halfway: every file is still tagged, and the lost output makes the
// run a failure, reported on stderr.
TEST(tagwhit_failures, lost_output_still_tags_every_file)
{
    for (const lost_output_case& c : lost_output_cases) {
        SCOPED_TRACE(c.error);
        scratch_dir dir;
        std::vector<std::string> args = {"-k", "1"};
        for (int i = 0; i < 300; ++i) { // results beyond any stdio buffer
            args.push_back("f" + std::to_string(i) + ".mp3");
            write_file(dir / args.back(), untagged);
        }
        run_options options;
        options.out = c.sink;
        const run_result r = run_tool(tool_path("tagwhit"), args, dir.path(), options);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(read_file(dir / "f0.mp3"), with_track(1));
        EXPECT_EQ(read_file(dir / "f299.mp3"), with_track(static_cast<char>(300 % 256)));
    }
}

} // namespace
