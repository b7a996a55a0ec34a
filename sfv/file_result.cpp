// The step that create and verify mode share for each file: its CRC, or the
// reason it could not be read.
#include "sfv.hpp"

#include "common.hpp"
#include "crc32.hpp"
#include "progress.hpp"

#include <cerrno>

bool checksum_for_result_line(const char* name, std::uint32_t& crc, progress_indicator& progress)
{
    const int read_status = crc32_file(name, &crc, progress_begin_file(progress, name));
    progress_end_file(progress);
    if (read_status != 0) {
        const int saved_errno = errno;
        print_error_text(saved_errno);
        errno = saved_errno;
        return false;
    }
    return true;
}
