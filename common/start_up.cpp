// The start of every tool's run: its program name normalised, and what the
// process inherited (descriptors 0, 1 and 2, the dispositions of SIGPIPE
// and SIGXFSZ) made safe before any file is opened.
#include "common.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
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
    return std::ranges::all_of(std::array{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO},
                               take_closed_descriptor);
}

char* start_tool(int argc, char** argv)
{
    // A process may be started with no arguments at all, not even a name.
    static char no_name[] = "";
    char* program = argc > 0 && argv[0] != nullptr ? argv[0] : no_name;
    normalize_program_name(program);
    if (!guard_inherited_state()) {
        print_error(nullptr, nullptr);
        return nullptr;
    }
    return program;
}
