// What a run that said success leaves on a real disk: after a power cut (an
// ext4 file system shut down without flushing its journal, then mounted
// again), and on FAT, which has neither hard links nor, seen through the
// fallbacks, an exclusive rename. And what SIGKILL, which no handler sees,
// leaves behind.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The ext4 shutdown ioctl (EXT4_IOC_SHUTDOWN) with EXT4_GOING_FLAGS_NOLOGFLUSH:
// what is not yet in the journal on disk is lost, as in a power cut.
const std::string power_cut = "python3 -c 'import fcntl, os, struct; "
                              "fcntl.ioctl(os.open(\".\", os.O_RDONLY), 0x8004587D, struct.pack(\"I\", 2))' || exit 97";

TEST(durability, success_survives_a_power_cut_and_fat)
{
    if (::geteuid() != 0 || !fs::exists("/usr/bin/unshare")) {
        GTEST_SKIP() << "needs root and unshare(1) to mount a loop image";
    }
    const std::string audio = audio_bytes(4000);
    const disk_image ext4 = {.mkfs = "mkfs.ext4 -q -F", .mount = "mount -o loop", .after_run = power_cut};
    // FAT through FUSE where the kernel lacks it: no hard links there, and
    // no exclusive rename either, so every fallback is taken.
    const disk_image fat = {.mkfs = "mkfs.vfat", .mount = "mount -t vfat -o loop image disk || fusefat -o rw+"};
    const struct {
        const char* what;
        disk_image image;
        std::string tool;
        std::vector<std::string> args;
    } cases[] = {
        {.what = "kerfsum c, then a power cut",
         .image = ext4,
         .tool = tool_path("kerfsum"),
         .args = {"c", "list.sfv", "digits.txt", "song.mp3"}},
        {.what = "tagwhit, then a power cut",
         .image = ext4,
         .tool = tool_path("tagwhit"),
         .args = {"-a", "Artist", "song.mp3"}},
        {.what = "kerfsum c on FAT",
         .image = fat,
         .tool = tool_path("kerfsum"),
         .args = {"c", "list.sfv", "digits.txt", "song.mp3"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        fs::create_directory(dir / "seed");
        write_file(dir / "seed" / "digits.txt", "123456789");
        write_file(dir / "seed" / "song.mp3", audio);
        const std::optional<run_result> run = run_on_image(dir, c.image, c.tool, c.args);
        if (!run) {
            GTEST_SKIP() << "cannot make, mount and use a file system with " << c.image.mkfs
                         << " here (needs a loop device or FUSE, e2fsprogs, dosfstools, fusefat and python3)";
        }
        ASSERT_EQ(run->status, 0) << run->out << run->err;
        if (c.tool == tool_path("tagwhit")) {
            EXPECT_EQ(read_file(dir / "after" / "song.mp3"), audio + id3v1_block({.artist = "Artist"}));
            continue;
        }
        const run_result verified = run_tool(tool_path("kerfsum"), {"v", "list.sfv"}, dir / "after");
        EXPECT_EQ(verified.out, "Verifying SFV file list.sfv\ndigits.txt             ok\nsong.mp3               ok\n"
                                "2 files checked (2 ok, 0 bad)\n0 errors encountered\n");
        EXPECT_FALSE(fs::exists(dir / "after" / ".list.sfv.unfinished"));
    }
}

// SIGKILL halfway (the run waits on a FIFO that nobody writes) leaves the
// listing's temporary file, and nothing at its name that would verify.
TEST(durability, sigkill_leaves_no_listing)
{
    scratch_dir dir;
    write_file(dir / "digits.txt", "123456789");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const run_result run = run_tool(tool_path("kerfsum"), {"c", "list.sfv", "digits.txt", "fifo"}, dir.path(),
                                    {.deadline = std::chrono::seconds(2)});
    EXPECT_TRUE(run.timed_out) << how_it_ended(run);
    EXPECT_FALSE(fs::exists(dir / "list.sfv"));
    EXPECT_TRUE(fs::exists(dir / ".list.sfv.unfinished"));
}

} // namespace
