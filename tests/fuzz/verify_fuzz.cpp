// Fuzz target: verify mode on a listing made of the input bytes, and the
// line splitter on each of its lines.
//
// The listing is written into a scratch directory that holds a few small
// files, an empty file and a directory, and kerfsum v runs there with its
// output captured. What it prints and returns is compared byte for byte
// with what a plain reading of the listing rules predicts, the predicted
// result of each file coming from reading that file directly.
//
// Every '/' in the input becomes '_' first, so a name in the listing can
// only reach the scratch directory's own entries, "." and "..". A user's
// listing may name /dev/zero or a FIFO and kerfsum must read it, but here
// every run has to end quickly and alike.
#include "fuzz_support.hpp"

#include "crc32.hpp"
#include "listing_text.hpp"
#include "sfv.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* listing_name = "listing.sfv";
constexpr std::size_t longest_line = 30098; // bytes before the line's end
constexpr std::string_view listing_space = " \t\n\v\f\r";
constexpr std::string_view line_ends("\n\0", 2); // a NUL ends a line too

struct scratch_file {
    const char* name;
    std::string_view contents;
};

// The seed corpus names these; "a.txt" has the CRC CBF43926, "my file.txt"
// 363A3020, "empty" 00000000.
constexpr scratch_file scratch_files[] = {
    {"a.txt", "123456789"},
    {"my file.txt", "hello\n"},
    {"empty", ""},
};
constexpr const char* scratch_directory_entry = "dir";

// Set up once per process and removed at exit: libFuzzer calls the entry
// point once per input, with no other place to keep them.
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
std::string scratch_path;
int scratch_fd = -1;
std::FILE* capture = nullptr; // standard output of each run
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

void remove_scratch()
{
    for (const scratch_file& file : scratch_files) {
        unlinkat(scratch_fd, file.name, 0);
    }
    unlinkat(scratch_fd, listing_name, 0);
    unlinkat(scratch_fd, scratch_directory_entry, AT_REMOVEDIR);
    rmdir(scratch_path.c_str());
}

void write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        require(written > 0, "writing a scratch file");
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void write_scratch_file(const char* name, std::string_view contents)
{
    const int fd = openat(scratch_fd, name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    require(fd >= 0, "creating a scratch file");
    write_all(fd, contents);
    require(close(fd) == 0, "closing a scratch file");
}

void set_up_scratch()
{
    const char* tmp = std::getenv("TMPDIR");
    scratch_path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/toolcrate-fuzz-XXXXXX";
    require(mkdtemp(scratch_path.data()) != nullptr, "making the scratch directory");
    scratch_fd = open(scratch_path.c_str(), O_RDONLY | O_DIRECTORY);
    require(scratch_fd >= 0, "opening the scratch directory");
    for (const scratch_file& file : scratch_files) {
        write_scratch_file(file.name, file.contents);
    }
    require(mkdirat(scratch_fd, scratch_directory_entry, 0700) == 0, "making a directory");
    capture = std::tmpfile();
    require(capture != nullptr, "making the capture file");
    std::atexit(remove_scratch);
}

// The file name and expected CRC of one line of a listing, cut at its line
// feed; nullopt for a line of fewer than two fields.
struct file_line {
    // Read through std::optional, which cppcheck does not follow.
    // cppcheck-suppress unusedStructMember
    std::string name;
    std::uint32_t expected;
};

std::optional<file_line> fields_of(std::string_view line)
{
    const std::size_t last = line.find_last_not_of(listing_space);
    if (last == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t space = line.find_last_of(listing_space, last);
    if (space == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t name_last = line.find_last_not_of(listing_space, space);
    if (name_last == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string crc_field(line.substr(space + 1, last - space));
    const unsigned long long value = std::strtoull(crc_field.c_str(), nullptr, 16);
    return file_line{std::string(line.substr(0, name_last + 1)), static_cast<std::uint32_t>(value & 0xFFFFFFFFu)};
}

// split_listing_line on every piece of the input between line feeds and
// NUL bytes, against fields_of.
void check_line_splitting(std::string_view input)
{
    std::string line;
    for (std::size_t start = 0; start <= input.size();) {
        const std::size_t end = std::min(input.find_first_of(line_ends, start), input.size());
        line.assign(input.substr(start, end - start));
        start = end + 1;

        const std::optional<file_line> want = fields_of(line);
        const char* name = nullptr;
        std::uint32_t expected = 0x5EED5EED;
        const bool split = split_listing_line(line.data(), &name, &expected);
        require(split == want.has_value(), "split_listing_line finds a file line exactly when there are two fields");
        if (!split) {
            continue;
        }
        require(name == line.data(), "the name starts where the line does");
        const std::size_t name_size = std::strlen(name);
        require(name_size > 0 && name_size < line.size(), "the name is non-empty and ends within the line");
        require(std::string_view(name, name_size) == want->name,
                "the name is the line up to the blanks before its last field");
        require(listing_space.find(name[name_size - 1]) == std::string_view::npos, "the name has no trailing blank");
        require(expected == want->expected, "the expected CRC is the low 32 bits of the last field in hex");
    }
}

struct counts {
    std::uint64_t checked = 0;
    std::uint64_t ok = 0;
    std::uint64_t bad = 0;
    std::uint64_t errors = 0;
};

// What checking `name` prints after the name, from reading the file
// directly: "ok", the BAD line or the system's error text.
void predict_file_result(const std::string& name, std::uint32_t expected, counts& tally, std::string& out)
{
    std::uint32_t crc = 0;
    int error = 0;
    const int fd = openat(scratch_fd, name.c_str(), O_RDONLY);
    if (fd < 0) {
        error = errno;
    } else {
        unsigned char buffer[4096];
        ssize_t got = 0;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
            crc = crc32_bytewise(crc, std::span(buffer, static_cast<std::size_t>(got)));
        }
        error = got < 0 ? errno : 0; // a directory gives EISDIR here
        close(fd);
    }

    if (error != 0) {
        out += std::strerror(error);
        out += '\n';
        ++tally.errors;
        return;
    }
    ++tally.checked;
    if (crc == expected) {
        out += "ok\n";
        ++tally.ok;
        return;
    }
    char line[64];
    std::snprintf(line, sizeof line, "*** BAD *** (%08X, should be %08X)\n", crc, expected);
    out += line;
    ++tally.bad;
}

struct verify_run {
    std::string output;
    std::uint64_t result = 0;
};

// Whether `listing` reads as UTF-16 text or NUL filling: a byte-order
// mark, either way round, or, in its first 512 bytes, nothing but NULs, or
// at least two NULs that fill an eighth or more of the even or odd places.
bool reads_as_utf16(std::string_view listing)
{
    if (listing.starts_with("\xFF\xFE") || listing.starts_with("\xFE\xFF")) {
        return true;
    }
    const std::string_view head = listing.substr(0, 512);
    if (!head.empty() && head.find_first_not_of('\0') == std::string_view::npos) {
        return true;
    }
    for (std::size_t parity = 0; parity < 2; ++parity) {
        std::size_t places = 0;
        std::size_t nuls = 0;
        for (std::size_t i = parity; i < head.size(); i += 2) {
            ++places;
            nuls += head[i] == '\0' ? 1 : 0;
        }
        if (nuls >= 2 && nuls * 8 >= places) {
            return true;
        }
    }
    return false;
}

// The output and result of verifying `listing`, from the listing rules:
// UTF-16 or NUL filling at the start making it corrupt, a UTF-8 mark there skipped, blanks between lines skipped, ';' after them starting a comment
// up to the line feed, a line ending at a line feed, a NUL or the end, and a
// line of more than 30,098 bytes ending the run as corrupt.
verify_run predict_verify(std::string_view listing)
{
    verify_run run{std::string("Verifying SFV file ") + listing_name + "\n"};
    if (reads_as_utf16(listing)) {
        run.output += "Corrupt SFV file\n";
        run.result = 1;
        return run;
    }
    if (listing.starts_with("\xEF\xBB\xBF")) {
        listing.remove_prefix(3);
    }
    counts tally;
    std::size_t at = 0;
    for (;;) {
        at = std::min(listing.find_first_not_of(listing_space, at), listing.size());
        if (at == listing.size()) {
            break;
        }
        if (listing[at] == ';') {
            at = std::min(listing.find('\n', at), listing.size());
            continue;
        }
        const std::size_t end = std::min(listing.find_first_of(line_ends, at), listing.size());
        if (end - at > longest_line) {
            run.output += "Corrupt SFV file\n";
            run.result = 1;
            return run;
        }
        const std::optional<file_line> line = fields_of(listing.substr(at, end - at));
        at = std::min(end + 1, listing.size());
        if (!line) {
            continue;
        }
        const std::string& name = line->name;
        run.output += name;
        run.output.append(name.size() < 22 ? 22 - name.size() : 0, ' ');
        run.output += ' ';
        predict_file_result(name, line->expected, tally, run.output);
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "%llu file%s checked (%llu ok, %llu bad)\n%llu error%s encountered\n",
                  static_cast<unsigned long long>(tally.checked), tally.checked == 1 ? "" : "s",
                  static_cast<unsigned long long>(tally.ok), static_cast<unsigned long long>(tally.bad),
                  static_cast<unsigned long long>(tally.errors), tally.errors == 1 ? "" : "s");
    run.output += summary;
    run.result = tally.bad + tally.errors;
    return run;
}

// Runs sfv_verify on the listing in the scratch directory, with the
// scratch directory as the working directory and standard output captured.
verify_run run_verify()
{
    const int capture_fd = fileno(capture);
    require(ftruncate(capture_fd, 0) == 0 && lseek(capture_fd, 0, SEEK_SET) == 0, "emptying the capture file");
    const int saved_stdout = dup(STDOUT_FILENO);
    const int saved_cwd = open(".", O_RDONLY | O_DIRECTORY);
    require(saved_stdout >= 0 && saved_cwd >= 0, "saving standard output and the working directory");
    require(std::fflush(stdout) == 0 && dup2(capture_fd, STDOUT_FILENO) >= 0, "redirecting standard output");
    std::clearerr(stdout); // sfv_verify stops at the first failed write it sees
    require(fchdir(scratch_fd) == 0, "entering the scratch directory");

    verify_run run;
    run.result = sfv_verify(listing_name);

    require(std::fflush(stdout) == 0, "flushing the captured output");
    require(dup2(saved_stdout, STDOUT_FILENO) >= 0 && fchdir(saved_cwd) == 0, "restoring standard output");
    close(saved_stdout);
    close(saved_cwd);

    struct stat status {};
    require(fstat(capture_fd, &status) == 0, "measuring the captured output");
    run.output.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < run.output.size()) {
        const ssize_t got = pread(capture_fd, run.output.data() + done, run.output.size() - done,
                                  static_cast<off_t>(done));
        require(got > 0, "reading the captured output");
        done += static_cast<std::size_t>(got);
    }
    return run;
}

// Prints where two outputs first differ, a few dozen bytes of each.
void report_difference(const std::string& want, const std::string& got)
{
    const auto differs = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first;
    const auto at = static_cast<std::size_t>(differs - want.begin());
    const std::size_t from = at > 40 ? at - 40 : 0;
    std::fprintf(stderr, "output differs at byte %zu\n--- expected:\n%.120s\n--- printed:\n%.120s\n", at,
                 want.c_str() + from, got.c_str() + from);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool ready = (set_up_scratch(), true);
    static_cast<void>(ready);

    std::string listing(reinterpret_cast<const char*>(data), size);
    std::replace(listing.begin(), listing.end(), '/', '_');
    check_line_splitting(listing);

    write_scratch_file(listing_name, listing);
    const verify_run want = predict_verify(listing);
    const verify_run got = run_verify();
    if (got.output != want.output) {
        report_difference(want.output, got.output);
    }
    require(got.output == want.output, "sfv_verify prints what the listing rules predict");
    require(got.result == want.result, "sfv_verify returns bad plus errors, or 1 for a corrupt listing");
    return 0;
}
