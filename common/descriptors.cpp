// Descriptor helpers for writes that must arrive whole and for closing a
// descriptor while another failure is being reported.
#include "common.hpp"

#include <cerrno>
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

void close_keeping_errno(int fd)
{
    const int saved_errno = errno;
    (void)::close(fd);
    errno = saved_errno;
}
