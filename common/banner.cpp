// The banner shown above every usage screen. Kept apart from the rest of
// the module: it is the only routine that needs the tool's own texts.
#include "common.hpp"

#include <cstdio>

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
