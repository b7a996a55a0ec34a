// CRC-32 over buffers and over whole files.
#include "crc32.hpp"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t polynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> make_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) != 0 ? (value >> 1) ^ polynomial : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

// Built by the compiler, so no run (and no failing command line) pays for it.
constexpr std::array<std::uint32_t, 256> crc_table = make_table();

// Size of the read buffer: large enough that the system call cost vanishes
// against the CRC work, small enough to stay in the L2 cache.
constexpr std::size_t read_buffer_size = 128 * 1024;

} // namespace

std::uint32_t crc32_bytewise(std::uint32_t crc, std::span<const unsigned char> data)
{
    crc = ~crc;
    for (const unsigned char byte : data) {
        crc = crc_table[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    }
    return ~crc;
}

std::uint32_t crc32_update(std::uint32_t crc, std::span<const unsigned char> data)
{
    return crc32_bytewise(crc, data);
}

int crc32_file(const char* path, std::uint32_t* result)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
#if defined(POSIX_FADV_SEQUENTIAL)
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    alignas(64) unsigned char buffer[read_buffer_size];
    std::uint32_t crc = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A read error is not the end of the data: report it rather
            // than a CRC of whatever came before it.
            const int saved_errno = errno;
            ::close(fd);
            errno = saved_errno;
            return -1;
        }
        crc = crc32_update(crc, std::span(buffer, static_cast<std::size_t>(got)));
    }
    ::close(fd); // read-only: nothing is lost if close reports an error
    *result = crc;
    return 0;
}
