// The guard that keeps a file being written from its name until it is
// complete, and removes it when the run ends before then: see new_file.hpp.
#include "new_file.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The file being written, for the signal handler, which can reach nothing
// but globals. Set only while every guarded signal is blocked, so the
// handler never sees half of it.
struct unfinished_file {
    const char* path;       // the temporary name, in temporary_path
    const char* final_path; // the caller's
    dev_t device;
    ino_t inode;
};
// Room for any path the system takes, and the temporary name's suffix.
constexpr std::size_t temporary_path_size = PATH_MAX + 64;
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
volatile std::sig_atomic_t file_is_unfinished = 0;
unfinished_file file_being_written{};
char temporary_path[temporary_path_size];
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

// Signals whose default action ends the process, less SIGPIPE and SIGXFSZ,
// which the tools ignore, and SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT,
// SIGTRAP and SIGSYS, which report a fault in the program: after one of
// those, nothing it would do can be trusted. The real-time signals end the
// process too, and are added at run time.
constexpr int ending_signals[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF,
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

// Puts into temporary_path the temporary name for `path` with `attempt`
// (0 for the first): ".BASE.unfinished" beside it, or, when `short_form`,
// ".unfinished"; later attempts add "-N". The leading dot keeps it out of
// every glob a person or script would use for the real file or its
// neighbours (a second run's "*" among them). Returns false with errno set
// when there is no such name.
bool make_temporary_name(const char* path, bool short_form, int attempt)
{
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    const std::string_view directory = slash == std::string_view::npos ? "" : whole.substr(0, slash + 1);
    const std::string_view base = whole.substr(directory.size());
    if (base.empty()) {
        errno = whole.empty() ? ENOENT : EISDIR; // as open would say
        return false;
    }
    const std::string_view shown = short_form ? "" : base;
    const int length = std::snprintf(temporary_path, sizeof temporary_path, "%.*s.%.*s%sunfinished",
                                     static_cast<int>(directory.size()), directory.data(),
                                     static_cast<int>(shown.size()), shown.data(), short_form ? "" : ".");
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    if (attempt > 0) {
        const auto used = static_cast<std::size_t>(length);
        const int more = std::snprintf(temporary_path + used, sizeof temporary_path - used, "-%d", attempt);
        if (more < 0 || static_cast<std::size_t>(more) >= sizeof temporary_path - used) {
            errno = ENAMETOOLONG;
            return false;
        }
    }
    return true;
}

// Opens a new temporary file for `path`, trying the next name while one is
// taken: by a run on the same listing at the same time, or left over by a
// run that was killed outright.
int open_temporary_file(const char* path)
{
    constexpr int attempts = 100;
    bool short_form = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!make_temporary_name(path, short_form, attempt)) {
            return -1;
        }
        const int fd = ::open(temporary_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno != EEXIST && (errno != ENAMETOOLONG || short_form))) {
            return fd;
        }
        if (errno == ENAMETOOLONG) {
            short_form = true; // the last component is too long with the suffix
            attempt = -1;
        }
    }
    return -1; // EEXIST
}

// Gives the file at `from` the name `to` only if nothing is at `to`, as
// atomically as the file system allows: renameat2 with RENAME_NOREPLACE,
// made as a raw system call because not every C library wraps it; where the
// kernel, a filter or the file system does not take that (ENOSYS, EPERM,
// EINVAL), a hard link and the removal of the old name; where there are no
// hard links (EPERM from FAT and exFAT, as on Android's shared storage), a
// check and a plain rename, which leaves a moment in which a file put at
// `to` would be replaced. Returns false with errno set (EEXIST when
// something is at `to`).
bool rename_without_replacing(const char* from, const char* to)
{
    // Android before 11 (API 30) lets apps make only the system calls its C
    // library then made, and ends a process that makes another (SIGSYS):
    // renameat2 was not among them, so there the hard link is the first way.
#if defined(SYS_renameat2) && !(defined(__ANDROID__) && __ANDROID_API__ < 30)
    // RENAME_NOREPLACE, which the kernel has taken since Linux 3.15 and the
    // C libraries name only in some versions.
    constexpr unsigned rename_noreplace = 1U;
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, rename_noreplace) == 0) {
        return true;
    }
    // EPERM: a container's system-call filter that refuses what it does not know.
    if (errno != ENOSYS && errno != EINVAL && errno != EPERM) {
        return false;
    }
#endif
    if (::link(from, to) == 0) {
        (void)::unlink(from);
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) {
        return false; // EEXIST among them
    }
    if (struct stat existing{}; ::lstat(to, &existing) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from, to) == 0;
}

// Makes the latest change to the directory that holds `path` durable. A
// directory that cannot be opened for reading, or a file system that cannot
// sync one (EINVAL), leaves it to the system. Returns false with errno set.
bool sync_directory_of(const char* path)
{
    const std::string_view whole(path);
    const std::size_t slash = whole.rfind('/');
    char directory[temporary_path_size];
    if (slash == std::string_view::npos) {
        std::strcpy(directory, ".");
    } else {
        const std::size_t length = slash == 0 ? 1 : slash; // "/name" lives in "/"
        if (length >= sizeof directory) {
            return true;
        }
        std::memcpy(directory, path, length);
        directory[length] = '\0';
    }
    const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    const int saved_errno = errno;
    (void)::close(fd);
    errno = saved_errno;
    return synced;
}

} // namespace

int new_file_create(const char* path)
{
    const sigset_t ending = ending_signal_set();
    sigset_t previous;
    (void)::sigprocmask(SIG_BLOCK, &ending, &previous);
    catch_ending_signals(ending);
    const int fd = open_temporary_file(path);
    const int saved_errno = errno;
    if (fd >= 0) {
        file_being_written = {temporary_path, path, 0, 0};
        if (struct stat created{}; ::fstat(fd, &created) == 0) {
            file_being_written.device = created.st_dev;
            file_being_written.inode = created.st_ino;
            file_is_unfinished = 1;
        }
    }
    (void)::sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
    return fd;
}

bool new_file_keep()
{
    const unfinished_file& file = file_being_written;
    // A signal from here on finds the temporary name gone, or finds the
    // same complete file under both names and removes only the temporary.
    if (!rename_without_replacing(file.path, file.final_path)) {
        new_file_discard();
        return false;
    }
    file_is_unfinished = 0;
    return sync_directory_of(file.final_path);
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
