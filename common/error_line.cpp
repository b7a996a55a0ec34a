// Reporting failures: the one-line report of a failure that ends an
// operation, the error text that ends a file's result line, and the exit
// taken when a configuration check fails.
#include "common.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

void print_error(std::FILE* stream, const char* name)
{
    // Printing may itself change errno, so take it before the first printf.
    const int saved_errno = errno;
    std::printf("Error: ");
    if (name != nullptr) {
        print_name(name, 0, ": ");
    }
    if (stream != nullptr && std::feof(stream) != 0) {
        std::puts("Unexpected end-of-file");
    } else {
        std::puts(std::strerror(saved_errno));
    }
}

void print_error_text(int error)
{
    std::puts(std::strerror(error));
}

void exit_configuration_error()
{
    std::puts("Configuration error");
    std::exit(1);
}
