// kerfsum reading inputs that are not regular files: a FIFO, whose data
// arrives in pieces that each read only part of the buffer, and a device.
#include "harness.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// Writes patterned_bytes(300'000) (more than one 262,144-byte read buffer;
// CRC-32 C289763C) into the FIFO at `fifo` in three pieces, with pauses,
// once a reader has opened it. Before the second piece it waits a moment
// for `name` to show in `out_file`: the tool is then still reading. Stops
// waiting for a reader once `run_over` is set.
void feed(const std::filesystem::path& fifo, const std::filesystem::path& out_file, const std::string& name,
          const std::atomic<bool>& run_over, bool& name_shown_while_writing)
{
    const std::string data = patterned_bytes(300'000);
    const std::size_t piece = data.size() / 3;
    const auto after_piece = [&](std::size_t i) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (i == 0 && !name_shown_while_writing && std::chrono::steady_clock::now() < deadline) {
            name_shown_while_writing = read_file(out_file).find(name) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(i == 1 ? 20 : 0));
    };
    feed_fifo(fifo, {data.substr(0, piece), data.substr(piece, piece), data.substr(2 * piece)}, after_piece, &run_over);
}

// Both modes read a FIFO to its end through short reads, and show its name
// before they wait for its data; create mode lists a device and a FIFO as
// it would a regular file (only directories are left out).
TEST(kerfsum_fifo, read_in_pieces_to_the_end_and_named_first)
{
    // A reader that stops early must not kill this process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const std::string fifo_line = "fifo                   ";
    const struct {
        std::vector<std::string> args;
        std::string out;
        std::string listing_end; // create only
    } cases[] = {
        {{"c", "list.sfv", "/dev/null", "fifo"},
         "Creating SFV file list.sfv\n/dev/null              00000000\n" + fifo_line +
             "C289763C\n2 files processed\n0 errors encountered\n",
         "\r\n/dev/null 00000000\r\nfifo C289763C\r\n"},
        {{"v", "given.sfv"},
         "Verifying SFV file given.sfv\n/dev/null              ok\n" + fifo_line +
             "ok\n2 files checked (2 ok, 0 bad)\n0 errors encountered\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        scratch_dir dir;
        ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
        write_file(dir / "given.sfv", "/dev/null 00000000\r\nfifo C289763C\r\n");
        run_options options;
        options.out_file = dir / "out.txt";
        std::atomic<bool> run_over = false;
        bool name_shown = false;
        std::thread writer(feed, dir / "fifo", options.out_file, fifo_line, std::cref(run_over), std::ref(name_shown));
        const run_result run = run_tool(tool_path("kerfsum"), c.args, dir.path(), options);
        run_over = true;
        writer.join();
        EXPECT_TRUE(name_shown) << "the FIFO's name did not show while its data was awaited";
        EXPECT_EQ(read_file(options.out_file), c.out);
        EXPECT_EQ(run.status, 0);
        if (!c.listing_end.empty()) {
            const std::string listing = read_file(dir / "list.sfv");
            EXPECT_TRUE(listing.ends_with(c.listing_end)) << listing;
        }
    }
}

} // namespace
