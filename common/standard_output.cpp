// What the tools do when standard output goes away: a reader that closes
// its end of a pipe, or a full disk behind a redirection.
#include "common.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Why the last failed flush_standard_output failed, or 0: the one reason
// for lost output that is known for certain once the run ends.
int flush_error = 0;

} // namespace

bool flush_standard_output()
{
    if (std::fflush(stdout) != 0) {
        flush_error = error_or_eio(errno);
        return false;
    }
    return std::ferror(stdout) == 0;
}

bool finish_standard_output()
{
    const int earlier_error = errno;
    if (flush_standard_output()) {
        errno = earlier_error;
        return true;
    }
    // Nowhere is left to report a failing write to stderr. A write that
    // failed inside printf left no reason behind: errno has been set by
    // other calls since, so it is not passed off as the reason.
    if (flush_error != 0) {
        (void)std::fprintf(stderr, "Error: standard output: %s\n", std::strerror(flush_error));
    } else {
        (void)std::fputs("Error: standard output: write error\n", stderr);
    }
    return false;
}
