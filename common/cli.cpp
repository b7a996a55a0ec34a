// Program name and banner shared by the Toolcrate tools.
#include "common.hpp"

#include <cstddef>

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
