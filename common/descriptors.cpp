// Descriptor helpers: positional reads and writes that resume after short
// transfers and EINTR, and closing a descriptor while another failure is
// being reported.
#include "common.hpp"

#include <cerrno>
#include <cstddef>
#include <unistd.h>

bool write_all(int fd, std::span<const char> bytes, off_t offset)
{
    while (!bytes.empty()) {
        const ssize_t written = offset < 0 ? ::write(fd, bytes.data(), bytes.size())
                                           : ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO; // no progress and no reason given
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
        if (offset >= 0) {
            offset += written;
        }
    }
    return true;
}

ssize_t read_at(int fd, std::span<std::byte> buffer, off_t offset)
{
    std::size_t have = 0;
    while (have < buffer.size()) {
        const ssize_t got = ::pread(fd, buffer.data() + have, buffer.size() - have,
                                    offset + static_cast<off_t>(have));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        have += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(have);
}

void close_keeping_errno(int fd)
{
    const int saved_errno = errno;
    (void)::close(fd);
    errno = saved_errno;
}
