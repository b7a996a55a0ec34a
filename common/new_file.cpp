// The guard that removes a file being written when the run ends before the
// file is complete: see new_file.hpp.
#include "new_file.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The file being written, for the signal handler, which can reach nothing
// but globals. Set only while every guarded signal is blocked, so the
// handler never sees half of it.
struct unfinished_file {
    const char* path;
    dev_t device;
    ino_t inode;
};
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
volatile std::sig_atomic_t file_is_unfinished = 0;
unfinished_file file_being_written{};
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

// Signals whose default action ends the process, less SIGPIPE and SIGXFSZ,
// which the tools ignore, and SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
// SIGTRAP and SIGSYS, which report a fault in the program: after one of
// those, nothing it would do can be trusted. The real-time signals end the
// process too, and are added at run time.
constexpr int ending_signals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF,
#if defined(SIGIO)
    SIGIO,
#endif
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
};

sigset_t ending_signal_set()
{
    sigset_t set;
    (void)::sigemptyset(&set);
    for (const int signal_number : ending_signals) {
        (void)::sigaddset(&set, signal_number);
    }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
        (void)::sigaddset(&set, signal_number);
    }
#endif
    return set;
}

// Removes the file at the path if it is the one this run created. Safe in
// a signal handler: lstat and unlink are async-signal-safe.
void remove_if_unchanged()
{
    const unfinished_file& file = file_being_written;
    struct stat at_path {};
    if (::lstat(file.path, &at_path) == 0 && at_path.st_dev == file.device && at_path.st_ino == file.inode) {
        (void)::unlink(file.path);
    }
}

extern "C" void remove_unfinished_file(int signal_number)
{
    const int saved_errno = errno;
    if (file_is_unfinished != 0) {
        remove_if_unchanged();
    }
    errno = saved_errno;
    // SA_RESETHAND has put back the default action, so the run still ends
    // by the signal, with the status a shell expects of it.
    (void)std::raise(signal_number);
}

// Catches each guarded signal that the run does not ignore: a signal
// ignored at start (SIGHUP under nohup) stays ignored. One call a signal
// as a rule: the handler goes in, and the disposition found goes back only
// where it was SIG_IGN. The caller blocks the signals meanwhile.
void catch_ending_signals(const sigset_t& ending)
{
    struct sigaction action {};
    action.sa_handler = remove_unfinished_file;
    action.sa_mask = ending;
    action.sa_flags = static_cast<int>(SA_RESETHAND); // an unsigned constant in some C libraries
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        struct sigaction found {};
        if (::sigismember(&ending, signal_number) == 1 && ::sigaction(signal_number, &action, &found) == 0 &&
            found.sa_handler == SIG_IGN) {
            (void)::sigaction(signal_number, &found, nullptr);
        }
    }
}

} // namespace

int new_file_create(const char* path)
{
    const sigset_t ending = ending_signal_set();
    sigset_t previous;
    (void)::sigprocmask(SIG_BLOCK, &ending, &previous);
    catch_ending_signals(ending);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    const int saved_errno = errno;
    if (fd >= 0) {
        if (struct stat created {}; ::fstat(fd, &created) == 0) {
            file_being_written = {path, created.st_dev, created.st_ino};
            file_is_unfinished = 1;
        }
    }
    (void)::sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
    return fd;
}

void new_file_keep()
{
    file_is_unfinished = 0;
}

void new_file_discard()
{
    const int saved_errno = errno;
    if (file_is_unfinished != 0) {
        remove_if_unchanged();
    }
    file_is_unfinished = 0;
    errno = saved_errno;
}

std::span<const int> new_file_guarded_signals()
{
    return ending_signals;
}
