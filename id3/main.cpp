// tagwhit: write ID3v1 tags into the files named on the command line.
#include "common.hpp"
#include "id3.hpp"

#include <cstdio>
#include <optional>
#include <span>

const banner_text tool_banner = {
    "tagwhit - Whitless ID3v1 Tagger",
    "tagwhit is Copyright (C) 2026 the Toolcrate developers; MIT licence.",
};

int main(int argc, char** argv)
{
    char* const program = start_tool(argc, argv);
    if (program == nullptr) {
        return 1;
    }

    const std::span<const char* const> arguments(argv, argc > 0 ? static_cast<std::size_t>(argc) : 0);
    tag_edit edit;
    const std::optional<std::size_t> first_file = parse_tag_options(arguments, edit);
    if (first_file) {
        // Every file is updated even when the results cannot be shown; the
        // lost output still makes the run a failure.
        const int status = tag_files(arguments.subspan(*first_file), edit);
        return finish_standard_output() ? status : 1;
    }

    print_banner();
    std::printf("Usage: %s [options] mp3file(s)\n"
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
                "    be sure to check the titles by hand in case it gets confused.\n",
                program);
    return 1;
}
