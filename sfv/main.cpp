// kerfsum: create and verify SFV listings.
#include "common.hpp"
#include "sfv.hpp"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>

const banner_text tool_banner = {
    "kerfsum - Kerf SFV create/verify utility",
    "kerfsum is Copyright (C) 2026 the Toolcrate developers; MIT licence.",
};

int main(int argc, char** argv)
{
    char* const program = start_tool(argc, argv);
    if (program == nullptr) {
        return 1;
    }

    if (argc >= 3 && argv[1][0] != '\0' && argv[1][1] == '\0') {
        const char mode = argv[1][0];
        if ((mode == 'c' && argc >= 4) || (mode == 'v' && argc == 3)) {
            std::uint64_t failures = 0;
            if (mode == 'c') {
                // Only new listings show local time. Verify mode and the
                // usage screen never read the zone, which TZ may name as a
                // file that hangs or fails.
                tzset();
                failures = sfv_create(argv[2], std::span(argv + 3, static_cast<std::size_t>(argc - 3)));
            } else {
                failures = sfv_verify(argv[2]);
            }
            // Results that could not be shown count as one more failure, so
            // a run whose output was lost never reports success.
            if (!finish_standard_output()) {
                ++failures;
            }
            return exit_status_for(failures);
        }
    }

    print_banner();
    std::printf("Usage:\nTo create a SFV file: %s c sfvfile filenames\nTo verify a SFV file: %s v sfvfile\n",
                program, program);
    return 1;
}
