// CRC-32 over buffers and over whole files.
#include "crc32.hpp"

#include "common.hpp"
#include "crc32_kernels.hpp"

#include <cerrno>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A kernel behind crc32_update's contract: the one place the CRC is
// inverted into the register and back.
template <crc32_kernel_fn kernel>
std::uint32_t crc_of(std::uint32_t crc, std::span<const unsigned char> data)
{
    return ~kernel(~crc, data);
}

constexpr crc32_kernel kernel_list[] = {
#if defined(__x86_64__)
    {"vpclmul512", crc_of<crc32_vpclmul512>, crc32_cpu_has_vpclmul512},
    {"vpclmul256", crc_of<crc32_vpclmul256>, crc32_cpu_has_vpclmul256},
    {"pclmul", crc_of<crc32_pclmul>, crc32_cpu_has_pclmul},
#endif
#if defined(__aarch64__)
    {"arm_pmull", crc_of<crc32_arm_pmull>, crc32_cpu_has_arm_pmull},
    {"arm_crc", crc_of<crc32_arm_crc>, crc32_cpu_has_arm_crc},
#endif
    {"slice16", crc_of<crc32_slice16>, [] { return true; }},
};

const crc32_kernel& choose_kernel()
{
    for (const crc32_kernel& kernel : kernel_list) {
        if (kernel.available()) {
            return kernel;
        }
    }
    return kernel_list[std::size(kernel_list) - 1];
}

} // namespace

std::span<const crc32_kernel> crc32_kernels()
{
    return kernel_list;
}

const crc32_kernel& crc32_active_kernel()
{
    // The processor cannot change under a running process: ask it once.
    static const crc32_kernel& chosen = choose_kernel();
    return chosen;
}

std::uint32_t crc32_update(std::uint32_t crc, std::span<const unsigned char> data)
{
    return crc32_active_kernel().update(crc, data);
}

int crc32_file(const char* path, std::uint32_t* result, const crc32_progress* progress)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }

    // One buffer for every read of every file: no allocation (no system
    // call) is paid per file, and static rather than on the stack, which a
    // small RLIMIT_STACK could not hold. The tools are single-threaded.
    // Large enough that system calls cost little next to copying the data,
    // small enough to stay in the L2 cache while the CRC reads what read()
    // wrote.
    alignas(64) static unsigned char buffer[crc32_read_buffer_size];
    std::uint32_t crc = 0;
    [[maybe_unused]] bool advised = false;
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
            close_keeping_errno(fd);
            return -1;
        }
        crc = crc32_update(crc, std::span(buffer, static_cast<std::size_t>(got)));
        if (progress != nullptr) {
            progress->on_read(progress->context, fd, static_cast<std::size_t>(got));
        }
#if defined(POSIX_FADV_SEQUENTIAL)
        // Read-ahead advice pays only for files longer than one buffer; a
        // small file is spared the extra system call.
        if (!advised && static_cast<std::size_t>(got) == sizeof buffer) {
            (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
            advised = true;
        }
#endif
    }
    ::close(fd); // read-only: nothing is lost if close reports an error
    *result = crc;
    return 0;
}
