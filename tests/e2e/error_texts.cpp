// Prints "NUMBER TEXT" for every error number from 0 to 133, the highest
// Linux defines, TEXT being what strerror says for it. Built as the tools
// are where their C library is not the tests' own, so that the tests expect
// that library's texts (tests/e2e/harness.hpp, error_text()).
#include <cstdio>
#include <cstring>

int main()
{
    for (int error = 0; error <= 133; ++error) {
        if (std::printf("%d %s\n", error, std::strerror(error)) < 0) {
            return 1;
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
