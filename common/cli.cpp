// A tool's program name and the banner above its usage screen.
#include "common.hpp"

#include <cstddef>
#include <cstdio>

void normalize_program_name(char* name)
{
    std::size_t start = 0;
    for (std::size_t i = 0; name[i] != '\0'; ++i) {
        // Both separators count everywhere, so a name typed on another
        // platform ("C:\Tools\X.EXE") reduces the same way.
        if (name[i] == '/' || name[i] == '\\') {
            start = i + 1;
        }
    }

    // A forward copy is safe: the source never lies behind the destination.
    std::size_t out = 0;
    for (std::size_t in = start; name[in] != '\0' && name[in] != '.'; ++in) {
        char c = name[in];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        name[out++] = c;
    }
    name[out] = '\0';
}

void print_banner()
{
    // Line 3 keeps its two printf arguments (word size and platform suffix)
    // so that the text stays one format for every build of the family; the
    // build defines TOOLCRATE_VERSION from the project's version.
    std::printf("%s\n"
                "  %s\n"
                "  from Toolcrate v" TOOLCRATE_VERSION " (%d-bit Android%s)\n"
                "  %s\n"
                "\n",
                tool_banner.title, tool_banner.rights, 64, "", family_home_page);
}
