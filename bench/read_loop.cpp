// The floor kerfsum is measured against: for each file, stat it, open it,
// read it to its end with read(2) into a buffer of the size crc32_file
// uses, and close it, doing nothing with the bytes. That is the least any
// checksum tool must do per file, so with one large file it shows what
// reading costs and with many small files what each file costs.
// Prints the total byte count; exits 1 at the first failure.
#include "crc32_kernels.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool report_failure(const char* path)
{
    (void)std::fprintf(stderr, "read_loop: %s: %s\n", path, std::strerror(errno));
    return false;
}

// Adds the bytes read from the file at `path` to `total`. Returns false,
// with a message on stderr, when a call fails.
bool read_whole_file(const char* path, unsigned long long& total)
{
    alignas(64) static unsigned char buffer[crc32_read_buffer_size];
    struct stat info {};
    if (::stat(path, &info) != 0) {
        return report_failure(path);
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return report_failure(path);
    }
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const bool result = report_failure(path);
            ::close(fd);
            return result;
        }
        total += static_cast<unsigned long long>(got);
    }
    ::close(fd);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        (void)std::fprintf(stderr, "usage: read_loop FILE...\n");
        return 1;
    }
    unsigned long long total = 0;
    for (int i = 1; i < argc; ++i) {
        if (!read_whole_file(argv[i], total)) {
            return 1;
        }
    }
    std::printf("%llu\n", total);
    return 0;
}
