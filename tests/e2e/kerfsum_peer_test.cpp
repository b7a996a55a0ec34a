// kerfsum against an independent SFV implementation, RHash: each must accept
// the other's listings.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* const rhash = "/usr/bin/rhash";

class kerfsum_peer : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(rhash)) {
            GTEST_SKIP() << "needs rhash (Debian package rhash)";
        }
        write_file(dir_ / "digits.txt", "123456789");
        write_file(dir_ / "empty.bin", "");
        write_file(dir_ / "my file.txt", std::string(100000, 'x'));
        fs::create_directory(dir_ / "sub");
        write_file(dir_ / "sub" / "a.txt", "a");
    }
    scratch_dir dir_;
};

TEST_F(kerfsum_peer, verifies_a_listing_written_by_rhash)
{
    const run_result written = run_tool(
        rhash, {"--sfv", "-o", "peer.sfv", "digits.txt", "empty.bin", "my file.txt", "sub/a.txt"}, dir_.path());
    ASSERT_EQ(written.status, 0) << written.err;
    const run_result run = run_tool(tool_path("kerfsum"), {"v", "peer.sfv"}, dir_.path());
    EXPECT_EQ(run.out, "Verifying SFV file peer.sfv\n"
                       "digits.txt             ok\n"
                       "empty.bin              ok\n"
                       "my file.txt            ok\n"
                       "sub/a.txt              ok\n"
                       "4 files checked (4 ok, 0 bad)\n"
                       "0 errors encountered\n");
    EXPECT_EQ(run.status, 0);
}

TEST_F(kerfsum_peer, rhash_verifies_a_listing_written_by_kerfsum)
{
    const run_result created = run_tool(tool_path("kerfsum"),
                                        {"c", "list.sfv", "digits.txt", "empty.bin", "my file.txt", "sub/a.txt"},
                                        dir_.path());
    ASSERT_EQ(created.status, 0) << created.out;
    const run_result checked = run_tool(rhash, {"-c", "list.sfv"}, dir_.path());
    EXPECT_EQ(checked.status, 0) << checked.out << checked.err;
    EXPECT_NE(checked.out.find("Everything OK"), std::string::npos) << checked.out;

    // The peer really compares: a changed file makes it fail.
    write_file(dir_ / "digits.txt", "123456780");
    EXPECT_NE(run_tool(rhash, {"-c", "list.sfv"}, dir_.path()).status, 0);
}

} // namespace
