// The banner shown above every usage screen. Kept apart from the rest of
// the module: it is the only routine that needs the tool's own texts.
#include "common.hpp"

#include <cstdio>

void print_banner()
{
    // Line 3 keeps its two printf arguments (word size and platform suffix)
    // so that the text stays one format for every build of the family.
    std::printf("%s\n"
                "  %s\n"
                "  from Toolcrate v1.03 (%d-bit Android%s)\n"
                "  %s\n"
                "\n",
                tool_banner.title, tool_banner.rights, 64, "", family_home_page);
}
