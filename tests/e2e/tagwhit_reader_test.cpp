// Tags written by tagwhit, read back by an independent ID3 implementation
// (python3-mutagen).
#include "harness.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string python = "/usr/bin/python3";

// Prints, for each file, its ID3v1 fields as mutagen reads them, one line
// per file: title|artist|album|year|comment|track|genre. Genres of the
// standard list come out by name (0 Blues, 17 Rock), others as numbers.
const std::string reader_script = R"(
import sys
from mutagen.id3 import ID3
for name in sys.argv[1:]:
    tag = ID3(name)
    def text(key):
        frames = tag.getall(key)
        return frames[0].text[0] if frames else ''
    print('|'.join([text('TIT2'), text('TPE1'), text('TALB'), str(text('TDRC')),
                    text('COMM'), text('TRCK'), text('TCON')]))
)";

TEST(tagwhit_reader, mutagen_reads_what_tagwhit_wrote)
{
    scratch_dir dir;
    const run_result probe = run_tool(python, {"-c", "import mutagen.id3"}, dir.path());
    if (probe.status != 0) {
        GTEST_SKIP() << python << " with mutagen is not available (install python3-mutagen)";
    }

    const std::string long30(30, 'L');
    const std::string long29(29, 'C');
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> files;
        std::string read_back;
    } cases[] = {
        {{"-t", "Title", "-a", "Artist", "-m", "Album", "-y", "2026", "-c", "A comment", "-k", "3", "-g", "17"},
         {"one.mp3", "two.mp3"},
         "Title|Artist|Album|2026|A comment|3|Rock\n"
         "Title|Artist|Album|2026|A comment|4|Rock\n"},
        {{"-t", long30, "-a", long30, "-m", long30 + "xyz", "-y", "19999", "-c", long29, "-k", "258", "-g", "-239"},
         {"full.mp3"},
         long30 + "|" + long30 + "|" + long30 + "|1999|" + long29 + "|2|Rock\n"},
        {{"-tf", "-a", "Band", "-k", "1", "-g", "0"},
         {"Band - 01 - First_Song.mp3", "Band - 02 - Second.mp3"},
         "First Song|Band||||1|Blues\n"
         "Second|Band||||2|Blues\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        scratch_dir files;
        std::vector<std::string> args = c.args;
        std::string expected_lines;
        for (const std::string& name : c.files) {
            write_file(files / name, audio_bytes(2000));
            args.push_back(name);
            expected_lines += name + ": (creating tag) ok\n";
        }
        const run_result tagged = run_tool(tool_path("tagwhit"), args, files.path());
        ASSERT_EQ(tagged.status, 0);
        EXPECT_EQ(tagged.out, expected_lines);

        std::vector<std::string> reader_args = {"-c", reader_script};
        reader_args.insert(reader_args.end(), c.files.begin(), c.files.end());
        const run_result read = run_tool(python, reader_args, files.path());
        EXPECT_EQ(read.err, "");
        EXPECT_EQ(read.status, 0);
        EXPECT_EQ(read.out, c.read_back);
    }
}

} // namespace
