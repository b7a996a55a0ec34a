// Drops files from the page cache, so that the next command to read them
// reads from the device: compare.sh runs it before each command of its
// cold-cache case. posix_fadvise(POSIX_FADV_DONTNEED) drops clean pages
// only, so the files must have been written back first (sync).
// Exits 1 at the first file that cannot be opened or advised.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        (void)std::fprintf(stderr, "usage: evict FILE...\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            (void)std::fprintf(stderr, "evict: %s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        // posix_fadvise returns the error number rather than setting errno.
        const int error = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        if (error != 0) {
            (void)std::fprintf(stderr, "evict: %s: %s\n", argv[i], std::strerror(error));
            return 1;
        }
    }
    return 0;
}
