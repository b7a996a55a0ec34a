// tagwhit on a file system that fills up while a new block is appended.
// Needs root to mount a small tmpfs in a private mount namespace.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr std::size_t page = 4096;

// Unmounts the tmpfs before the scratch directory around it is removed.
class tmpfs_mount {
public:
    explicit tmpfs_mount(std::filesystem::path where) : where_(std::move(where))
    {
        std::filesystem::create_directory(where_);
        // Set here, not in the initialiser list: the directory comes first.
        // NOLINTNEXTLINE(cppcoreguidelines-prefer-member-initializer)
        mounted_ = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) {
            error_ = std::strerror(errno);
        }
    }
    ~tmpfs_mount()
    {
        if (mounted_) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
    }
    tmpfs_mount(const tmpfs_mount&) = delete;
    tmpfs_mount& operator=(const tmpfs_mount&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
    std::string error_;
};

// Takes a private mount namespace, so that nothing mounted here shows
// outside this test process. Returns an empty string or the reason it failed.
std::string enter_private_mount_namespace()
{
    if (::geteuid() != 0) {
        return "not running as root";
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("unshare: ") + std::strerror(errno);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("making mounts private: ") + std::strerror(errno);
    }
    return "";
}

// Writes into a new file until the file system refuses another byte.
void fill_up(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A failed assertion here returns with no descriptor open.
    // cppcheck-suppress resourceLeak
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const std::string chunk(page, 'f');
    while (::write(fd, chunk.data(), chunk.size()) > 0) {
    }
    while (::write(fd, chunk.data(), 1) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
}


TEST(tagwhit_full_disk, failed_append_leaves_the_file_as_it_was)
{
    const std::string why = enter_private_mount_namespace();
    if (!why.empty()) {
        GTEST_SKIP() << "cannot mount a small tmpfs for this test (" << why << ")";
    }
    scratch_dir dir;
    tmpfs_mount disk(dir / "disk");
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs for this test (" << disk.error() << ")";
    }
    const std::filesystem::path base = dir / "disk";

    // 64 bytes of the block still fit in the page that holds the end of
    // part.mp3, so its append fails part-way; whole.mp3 fills its last page.
    const std::string part = audio_bytes(page - 64);
    const std::string whole = audio_bytes(page);
    const std::string tagged = audio_bytes(300) + "TAG" + std::string(125, '\0');
    write_file(base / "part.mp3", part);
    write_file(base / "whole.mp3", whole);
    write_file(base / "tagged.mp3", tagged);
    fill_up(base / "filler");

    const run_result r =
        run_tool(tagwhit_path(), {"-a", "Who", "-k", "5", "part.mp3", "whole.mp3", "tagged.mp3"}, base);
    const std::string full = std::strerror(ENOSPC);
    EXPECT_EQ(r.out, "part.mp3: (creating tag) " + full + "\n" +
                         "whole.mp3: (creating tag) " + full + "\n" +
                         "tagged.mp3: ok\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(base / "part.mp3"), part);
    EXPECT_EQ(read_file(base / "whole.mp3"), whole);
    // A block that is already there needs no new space; the failures before
    // it used up no track number.
    std::string expected = tagged;
    expected.replace(300 + 33, 3, "Who");
    expected[300 + 126] = 5;
    EXPECT_EQ(read_file(base / "tagged.mp3"), expected);
}

} // namespace
