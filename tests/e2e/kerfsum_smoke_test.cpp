#include "harness.hpp"

#include <gtest/gtest.h>

TEST(kerfsum, creates_and_verifies_a_listing)
{
    scratch_dir dir;
    write_file(dir / "digits.txt", "123456789");
    const run_result created = run_tool(kerfsum_path(), {"c", "list.sfv", "digits.txt"}, dir.path());
    EXPECT_EQ(created.status, 0);
    EXPECT_EQ(created.out, "Creating SFV file list.sfv\n"
                           "digits.txt             CBF43926\n"
                           "1 file processed\n0 errors encountered\n");
    const run_result verified = run_tool(kerfsum_path(), {"v", "list.sfv"}, dir.path());
    EXPECT_EQ(verified.status, 0);
    EXPECT_EQ(verified.out, "Verifying SFV file list.sfv\n"
                            "digits.txt             ok\n"
                            "1 file checked (1 ok, 0 bad)\n0 errors encountered\n");
}
