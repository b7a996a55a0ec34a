// What the tools do when standard output goes away: a reader that closes
// its end of a pipe, or a full disk behind a redirection.
#include "common.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool finish_standard_output()
{
    // A failed flush leaves the buffer empty, so when the failure was the
    // last thing a tool did, errno on entry still tells why.
    const int earlier_error = errno;
    const bool failed_before = std::ferror(stdout) != 0;
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !failed_before) {
        errno = earlier_error;
        return true;
    }
    const int error = error_or_eio(flushed ? earlier_error : errno);
    // Nowhere is left to report a failing write to stderr.
    (void)std::fprintf(stderr, "Error: standard output: %s\n", std::strerror(error));
    return false;
}
