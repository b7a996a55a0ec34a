// What the tools do about the descriptors and signal dispositions they
// inherit, and when standard output goes away: a reader that closes its end
// of a pipe, or a full disk behind a redirection.
#include "common.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Gives a closed standard descriptor something to refer to. Filled in
// ascending order, the lowest free number is the one being filled, but a
// dup2 makes sure of it.
bool take_closed_descriptor(int fd)
{
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
        return true;
    }
    // Opened against its direction, so reads of 0 and writes to 1 and 2
    // still fail with EBADF, just as on the closed descriptor: lost output
    // is noticed and reported as before. "/" stands in for a missing /dev.
    const int flags = fd == STDIN_FILENO ? O_WRONLY : O_RDONLY;
    int taken = ::open("/dev/null", flags);
    if (taken < 0) {
        taken = ::open("/", O_RDONLY);
    }
    if (taken < 0) {
        return false;
    }
    if (taken == fd) {
        // Left open on purpose: it now is the standard descriptor.
        // cppcheck-suppress resourceLeak
        return true;
    }
    const bool moved = ::dup2(taken, fd) == fd;
    close_keeping_errno(taken);
    return moved;
}

} // namespace

bool guard_inherited_state()
{
    // A write to a closed pipe, or past RLIMIT_FSIZE, would otherwise kill
    // the process, perhaps between the writes of one file's update. Ignored,
    // the write fails like any other and the failure paths run. signal()
    // fails only for an invalid signal number, which these are not.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
    return std::ranges::all_of(std::array{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}, take_closed_descriptor);
}

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
