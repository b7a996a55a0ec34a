// The one-line report of a failure that ends an operation.
#include "common.hpp"

#include <cerrno>
#include <cstring>

void print_error(std::FILE* stream, const char* name)
{
    // Printing may itself change errno, so take it before the first printf.
    const int saved_errno = errno;
    std::printf("Error: ");
    if (name != nullptr) {
        std::printf("%s: ", name);
    }
    if (stream != nullptr && std::feof(stream) != 0) {
        std::puts("Unexpected end-of-file");
    } else {
        std::puts(std::strerror(saved_errno));
    }
}
