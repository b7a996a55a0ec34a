// Writing names and whole buffers: the parts of the tools' output that come
// from strangers or must arrive complete.
#include "common.hpp"

#include <cerrno>
#include <unistd.h>

namespace {

[[nodiscard]] bool is_control_byte(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// Whether names are escaped: asked once per run, as stdout cannot become a
// terminal later. isatty sets errno on its usual answer, so errno is kept.
bool stdout_is_terminal()
{
    static const bool terminal = [] {
        const int saved_errno = errno;
        const bool answer = ::isatty(STDOUT_FILENO) == 1;
        errno = saved_errno;
        return answer;
    }();
    return terminal;
}

} // namespace

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

void print_name(const char* name, int width, const char* suffix)
{
    if (!stdout_is_terminal()) {
        std::printf("%-*s%s", width, name, suffix);
        return;
    }
    int shown = 0;
    for (const char* p = name; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (is_control_byte(byte)) {
            shown += std::printf("\\x%02X", static_cast<unsigned>(byte));
        } else {
            (void)std::fputc(byte, stdout);
            ++shown;
        }
    }
    std::printf("%*s%s", width > shown ? width - shown : 0, "", suffix);
}
