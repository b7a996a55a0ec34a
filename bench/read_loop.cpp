// The floor kerfsum is measured against: read a file to its end with
// read(2) into a buffer of the size crc32_file uses, and do nothing with
// the bytes. Prints the byte count; exits 1 on failure.
#include "crc32_kernels.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 2) {
        (void)std::fprintf(stderr, "usage: read_loop FILE\n");
        return 1;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        (void)std::fprintf(stderr, "read_loop: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    alignas(64) static unsigned char buffer[crc32_read_buffer_size];
    unsigned long long total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            (void)std::fprintf(stderr, "read_loop: %s: %s\n", argv[1], std::strerror(errno));
            return 1;
        }
        total += static_cast<unsigned long long>(got);
    }
    ::close(fd);
    std::printf("%llu\n", total);
    return 0;
}
