// peak_rss: runs one command and reports the peak resident memory of that
// process alone.
//
//     peak_rss REPORT COMMAND [ARG...]
//
// Why not measure from the script's interpreter: a forked child counts as
// resident the pages it was handed by its parent, and the kernel keeps that
// mark over the exec, so a one-MiB tool started from an interpreter shows the
// interpreter's tens of MiB. This launcher holds only a few hundred KiB when
// it forks, less than the tools measured with it need on their own.
//
// REPORT receives one line: the peak resident size in KiB. The exit status
// is the command's own, 128 + N when signal N ended it, 127 when it could not
// be started and 125 when the launcher itself failed. Standard input, output
// and error pass through untouched.

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr int launcher_failed = 125;
constexpr int not_started = 127;

void complain(const char* what)
{
    std::fprintf(stderr, "peak_rss: %s: %s\n", what, std::strerror(errno));
}

// Writes "PEAK\n" to the report file; false when any step failed.
[[nodiscard]] bool write_report(const char* path, long peak_kib)
{
    std::FILE* report = std::fopen(path, "w");
    if (report == nullptr) {
        complain(path);
        return false;
    }
    if (std::fprintf(report, "%ld\n", peak_kib) < 0) {
        complain(path);
        static_cast<void>(std::fclose(report)); // already failed; nothing to add
        return false;
    }
    if (std::fclose(report) != 0) {
        complain(path);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fputs("usage: peak_rss REPORT COMMAND [ARG...]\n", stderr);
        return launcher_failed;
    }

    const pid_t child = fork();
    if (child < 0) {
        complain("fork");
        return launcher_failed;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        complain(argv[2]);
        _exit(not_started);
    }

    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR) {
            complain("waitpid");
            return launcher_failed;
        }
    }

    // With a single child, the children's figure is that child's own.
    rusage children{};
    if (getrusage(RUSAGE_CHILDREN, &children) != 0) {
        complain("getrusage");
        return launcher_failed;
    }
    if (!write_report(argv[1], children.ru_maxrss)) {
        return launcher_failed;
    }

    if (WIFEXITED(wait_status)) {
        return WEXITSTATUS(wait_status);
    }
    if (WIFSIGNALED(wait_status)) {
        return 128 + WTERMSIG(wait_status);
    }
    return launcher_failed;
}
