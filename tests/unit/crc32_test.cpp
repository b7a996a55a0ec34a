// The CRC-32 engine through its public face: known answers, zlib as an
// independent oracle where it is installed, and whole files. The kernels
// themselves are checked against the byte-wise loop in crc32_kernels_test.
#include "crc32.hpp"
#include "crc32_kernels.hpp"
#include "harness.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(TOOLCRATE_HAVE_ZLIB)
#include <zlib.h>
#endif

namespace {

std::span<const unsigned char> bytes_of(std::string_view text)
{
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// CRCs are compared as text, so that a failure shows both in hexadecimal.
std::string hex(std::uint32_t crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(crc));
    return text;
}

// The file tests run in a scratch directory of the end-to-end harness.
class crc32_file_test : public ::testing::Test {
protected:
    std::string make_file(const std::string& name, std::span<const unsigned char> data)
    {
        std::string path = (scratch_ / name).string();
        write_file(path, std::string(data.begin(), data.end()));
        return path;
    }
    scratch_dir scratch_;
    const std::string dir_ = scratch_.path().string();
};

TEST(crc32, known_answers)
{
    const struct {
        std::string_view input;
        std::uint32_t expected;
    } cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string_view("\0", 1), 0xD202EF8Du},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "input \"" << c.input << "\" (" << c.input.size() << " bytes)");
        EXPECT_EQ(hex(crc32_update(0, bytes_of(c.input))), hex(c.expected));
        EXPECT_EQ(hex(crc32_bytewise(0, bytes_of(c.input))), hex(c.expected));
    }
}

TEST(crc32, matches_zlib_on_random_data)
{
#if !defined(TOOLCRATE_HAVE_ZLIB)
    GTEST_SKIP() << "built without zlib, the independent oracle (Debian package zlib1g-dev)";
#else
    std::mt19937 lengths(3);
    for (int round = 0; round < 300; ++round) {
        const std::size_t length = round < 100 ? static_cast<std::size_t>(round) : lengths() % 100000;
        const std::vector<unsigned char> data = random_bytes(length, static_cast<std::uint32_t>(round));
        const auto expected = static_cast<std::uint32_t>(::crc32(0, data.data(), static_cast<uInt>(data.size())));
        ASSERT_EQ(hex(crc32_update(0, data)), hex(expected)) << "length " << length;
    }
#endif
}

TEST_F(crc32_file_test, reads_whole_files)
{
    constexpr std::size_t buffer = crc32_read_buffer_size;
    const std::vector<unsigned char> data = random_bytes(3 * buffer + 5, 4);
    const std::span<const unsigned char> all(data);
    // Sizes around the read buffer and the kernel's page size.
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{9}, std::size_t{4095}, std::size_t{4096},
                                   std::size_t{65537}, buffer - 1, buffer, buffer + 1, 2 * buffer, data.size()}) {
        SCOPED_TRACE(::testing::Message() << "file of " << size << " bytes");
        const std::string path = make_file("f" + std::to_string(size), all.first(size));
        std::uint32_t crc = 0xDEADBEEFu;
        ASSERT_EQ(crc32_file(path.c_str(), &crc), 0);
        EXPECT_EQ(hex(crc), hex(crc32_bytewise(0, all.first(size))));
    }
    const std::string digits = make_file("digits.txt", bytes_of("123456789"));
    std::uint32_t crc = 0;
    ASSERT_EQ(crc32_file(digits.c_str(), &crc), 0);
    EXPECT_EQ(hex(crc), "CBF43926");
}

// Failing to open, and failing to read after a successful open, both give -1
// with the system's reason and leave the caller's value alone.
TEST_F(crc32_file_test, failures_set_errno_and_leave_the_result_alone)
{
    const struct {
        std::string path;
        int expected_errno;
    } cases[] = {
        {dir_ + "/missing", ENOENT},
        {dir_, EISDIR},
        {"/proc/self/mem", EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::uint32_t crc = 0x5A5A5A5Au;
        errno = 0;
        EXPECT_EQ(crc32_file(c.path.c_str(), &crc), -1);
        EXPECT_EQ(errno, c.expected_errno);
        EXPECT_EQ(hex(crc), "5A5A5A5A");
    }
}

} // namespace
