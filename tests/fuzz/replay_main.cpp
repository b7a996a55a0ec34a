// Replays stored inputs through a fuzz target without libFuzzer, so that an
// ordinary test run covers the seed corpus and every input that once made a
// target fail.
//
// Usage: PROGRAM DIRECTORY...
// Every regular file in the directories is one input (names starting with
// '.' excepted), replayed in name order. A directory that does not exist is
// skipped, but at least one input must be found.
#include "fuzz_support.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Reads the whole file at `path` into `data`. Returns false with errno set
// when it cannot be opened or read.
bool read_input(const std::string& path, std::vector<std::uint8_t>& data)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    data.clear();
    std::uint8_t buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        data.insert(data.end(), buffer, buffer + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int saved_errno = errno;
    std::fclose(file); // opened for reading only
    errno = saved_errno;
    return !failed;
}

// The names of the inputs in `directory`, sorted. Returns false with errno
// set when the directory cannot be read.
bool list_inputs(const char* directory, std::vector<std::string>& names)
{
    DIR* dir = opendir(directory);
    if (dir == nullptr) {
        return false;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    const int saved_errno = errno;
    closedir(dir);
    errno = saved_errno;
    std::sort(names.begin(), names.end());
    return saved_errno == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> names;
        if (!list_inputs(argv[i], names)) {
            if (errno == ENOENT) {
                std::fprintf(stderr, "%s: no such directory, skipped\n", argv[i]);
                continue;
            }
            std::fprintf(stderr, "%s: %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        std::vector<std::uint8_t> data;
        for (const std::string& name : names) {
            const std::string path = std::string(argv[i]) + "/" + name;
            struct stat status {};
            if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
                continue;
            }
            if (!read_input(path, data)) {
                std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
                return 1;
            }
            // Named before it runs: if it aborts, the last line names it.
            std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), data.size());
            data.push_back(0); // never an empty vector's null data()
            LLVMFuzzerTestOneInput(data.data(), data.size() - 1);
            ++replayed;
        }
    }
    if (replayed == 0) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return 0;
}
