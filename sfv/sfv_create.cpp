// kerfsum c: writing a new SFV listing.
#include "sfv.hpp"

#include "common.hpp"
#include "crc32.hpp"
#include "progress.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <initializer_list>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The listing stream and the first error met while writing it. Writes go on
// after a failure (the console report must still be complete), but the
// first errno is what the user is shown at the end.
struct listing_output {
    std::FILE* stream = nullptr;
    int write_errno = 0;
};

void note_write_failure(listing_output& out)
{
    if (out.write_errno == 0) {
        out.write_errno = error_or_eio(errno);
    }
}

// Writes the pieces of one listing line in turn, then CR LF. No printf
// format: parsing one costs more per file than reading a small file's data
// does.
void write_listing_pieces(listing_output& out, std::initializer_list<std::string_view> pieces)
{
    for (const std::string_view piece : pieces) {
        if (std::fwrite(piece.data(), 1, piece.size(), out.stream) != piece.size()) {
            note_write_failure(out);
        }
    }
    if (std::fwrite("\r\n", 1, 2, out.stream) != 2) {
        note_write_failure(out);
    }
}

// Writes `size` in decimal, right-aligned in 13 columns (a longer number in
// full), at the end of `text`; returns the written part.
std::string_view format_size(std::uint64_t size, char (&text)[20])
{
    constexpr std::size_t width = 13;
    std::size_t at = sizeof text;
    do {
        text[--at] = static_cast<char>('0' + size % 10);
        size /= 10;
    } while (size != 0);
    while (sizeof text - at < width) {
        text[--at] = ' ';
    }
    return {text + at, sizeof text - at};
}

void print_already_exists(const char* listing_path)
{
    std::printf("Error: %s already exists; will not overwrite\n", listing_path);
}

// Whether verify reads `name` back unchanged from a checksum line. It trims
// white space at both ends of a line, takes a line whose first non-blank
// byte is ';' for a comment, and ends a line at a line feed, which would
// also let a name plant a line of its own. The empty name names no file
// and fails to open like any missing one.
bool name_reads_back(std::string_view name)
{
    return name.empty() || (!is_white_space(static_cast<unsigned char>(name.front())) &&
                            !is_white_space(static_cast<unsigned char>(name.back())) && name.front() != ';' &&
                            name.find('\n') == std::string_view::npos);
}

constexpr const char* unlistable_name = "Name cannot be stored in an SFV listing";

// The listing a run is writing, for the handler of the signals that end a
// run from outside (hang-up, interrupt, termination): a listing cut short
// names only some of the files, yet verifies as if complete, so it must not
// stay behind. Global because a signal handler can reach nothing else; set
// only while those signals are blocked, so the handler never sees half of
// it. Its device and inode tell the file this run created from anything put
// at the path since, which is never removed.
struct incomplete_listing {
    const char* path;
    dev_t device;
    ino_t inode;
};
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables)
volatile std::sig_atomic_t listing_is_incomplete = 0;
incomplete_listing listing_being_written{};
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

constexpr int run_ending_signals[] = {SIGHUP, SIGINT, SIGTERM};

extern "C" void remove_incomplete_listing(int signal_number)
{
    if (listing_is_incomplete != 0) {
        const incomplete_listing& listing = listing_being_written;
        struct stat at_path {};
        if (::lstat(listing.path, &at_path) == 0 && at_path.st_dev == listing.device &&
            at_path.st_ino == listing.inode) {
            (void)::unlink(listing.path);
        }
    }
    // SA_RESETHAND has put back the default action, so the run still ends
    // by the signal, with the status a shell expects of it.
    (void)std::raise(signal_number);
}

sigset_t run_ending_signal_set()
{
    sigset_t set;
    (void)::sigemptyset(&set);
    for (const int signal_number : run_ending_signals) {
        (void)::sigaddset(&set, signal_number);
    }
    return set;
}

// Catches each run-ending signal that the run does not ignore: a signal
// ignored at start (SIGHUP under nohup) stays ignored.
void catch_run_ending_signals()
{
    struct sigaction action {};
    action.sa_handler = remove_incomplete_listing;
    action.sa_mask = run_ending_signal_set();
    action.sa_flags = static_cast<int>(SA_RESETHAND); // an unsigned constant in some C libraries
    for (const int signal_number : run_ending_signals) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            (void)::sigaction(signal_number, &action, nullptr);
        }
    }
}

// Creates the listing only if nothing at all is at its path: O_EXCL also
// refuses a dangling symbolic link and a file created since the check. From
// then until disarm_listing_removal, a run-ending signal removes it, unless
// fstat cannot tell which file it is: what cannot be told apart from a file
// put at the path since is left alone.
std::FILE* create_listing(const char* listing_path)
{
    const sigset_t ending = run_ending_signal_set();
    sigset_t previous;
    (void)::sigprocmask(SIG_BLOCK, &ending, &previous);
    catch_run_ending_signals();
    std::FILE* stream = nullptr;
    const int fd = ::open(listing_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        if (struct stat created {}; ::fstat(fd, &created) == 0) {
            listing_being_written = {listing_path, created.st_dev, created.st_ino};
            listing_is_incomplete = 1;
        }
        stream = ::fdopen(fd, "wb");
        if (stream == nullptr) {
            close_keeping_errno(fd);
            const int saved_errno = errno;
            (void)::unlink(listing_path);
            listing_is_incomplete = 0;
            errno = saved_errno;
        }
    }
    const int saved_errno = errno;
    (void)::sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
    return stream;
}

// The listing is as complete as it will get: a signal from now on leaves it.
void disarm_listing_removal()
{
    listing_is_incomplete = 0;
}

// Creates the listing for `out`, unless anything at all is at its path: a
// file, a link (dangling or not), a FIFO, socket or device. Prints why not
// and returns false when it is not created.
bool open_new_listing(const char* listing_path, listing_output& out)
{
    // The probe catches what is there before anything is printed. It must
    // not open the path, as opening a FIFO for reading waits for a writer.
    // The exclusive create closes the remaining gap.
    if (struct stat existing {}; ::lstat(listing_path, &existing) == 0) {
        print_already_exists(listing_path);
        return false;
    }
    out = {create_listing(listing_path), 0};
    if (out.stream != nullptr) {
        return true;
    }
    if (errno == EEXIST) {
        print_already_exists(listing_path);
    } else {
        print_error(nullptr, listing_path);
    }
    return false;
}

// Writes the header, then one comment line per file that stat can see, in
// order. Directories drop out of the run here, silently: their entries in
// `files` become null, which the checksum pass skips.
void write_comment_lines(listing_output& out, std::span<char*> files)
{
    char time_text[time_text_size];
    format_local_time(std::time(nullptr), "%Y-%m-%d at %H:%M.%S", "9999-99-99 at 99:99.99", time_text);
    write_listing_pieces(out, {"; Generated by ORBIT-CK32 v1.1a (kerfsum) on ", time_text});
    write_listing_pieces(out, {";"});
    for (char*& name : files) {
        struct stat info {};
        if (::stat(name, &info) != 0) {
            continue; // reported by the checksum pass, which tries to open it
        }
        if (S_ISDIR(info.st_mode)) {
            name = nullptr;
            continue;
        }
        if (!name_reads_back(name)) {
            continue; // reported by the checksum pass
        }
        format_modification_time(info.st_mtime, time_text);
        char size_text[20];
        write_listing_pieces(out, {";", format_size(static_cast<std::uint64_t>(info.st_size), size_text), "  ",
                                   time_text, " ", name});
    }
}

struct create_counts {
    std::uint64_t processed = 0;
    std::uint64_t errors = 0;
};

// Prints each remaining file's result line and writes a checksum line for
// every file that could be read.
create_counts checksum_files(listing_output& out, std::span<char* const> files, progress_indicator& progress)
{
    create_counts counts;
    for (const char* name : files) {
        if (name == nullptr) {
            continue;
        }
        print_name(name, 22, " ");
        if (!name_reads_back(name)) {
            std::puts(unlistable_name);
            ++counts.errors;
            continue;
        }
        (void)std::fflush(stdout); // show the name while a large file is read
        std::uint32_t crc = 0;
        if (!checksum_for_result_line(progress, name, crc)) {
            ++counts.errors;
            continue;
        }
        char crc_text[crc_text_size];
        format_crc(crc, crc_text);
        std::puts(crc_text);
        write_listing_pieces(out, {name, " ", crc_text});
        ++counts.processed;
    }
    return counts;
}

// Closes the listing, which is then complete: a signal no longer removes it.
// Returns false after printing "Error: LISTING: TEXT" when any of it did not
// reach the file; a full disk often shows only here, when the stream's
// buffer is flushed.
bool close_listing(listing_output& out, const char* listing_path)
{
    if (std::fclose(out.stream) != 0) {
        note_write_failure(out);
    }
    disarm_listing_removal();
    if (out.write_errno != 0) {
        errno = out.write_errno;
        print_error(nullptr, listing_path);
        return false;
    }
    return true;
}

} // namespace

void format_local_time(std::time_t when, const char* format, const char* fallback,
                       char (&buffer)[time_text_size])
{
    // Not localtime: glibc's looks at the time zone again on every call,
    // one stat of /etc/localtime per listed file. localtime_r keeps the zone
    // that main's tzset() read once. A time it cannot convert is shown as
    // the epoch.
    std::tm broken_down{};
    if (::localtime_r(&when, &broken_down) == nullptr) {
        const std::time_t epoch = 0;
        broken_down = std::tm{};
        (void)::localtime_r(&epoch, &broken_down);
    }
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &broken_down);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (length == 0) {
        (void)std::snprintf(buffer, sizeof buffer, "%s", fallback);
    }
}

void format_modification_time(std::time_t when, char (&buffer)[time_text_size])
{
    // strftime costs more per file than reading a small file does, so the
    // common case, a four-digit year, is formatted here; any other year takes
    // the general path, whose output this matches digit for digit.
    std::tm local{};
    if (::localtime_r(&when, &local) == nullptr || local.tm_year < 1000 - 1900 || local.tm_year > 9999 - 1900) {
        format_local_time(when, "%H:%M.%S %Y-%m-%d", "                   ", buffer);
        return;
    }
    const struct {
        std::size_t end; // one past the field's last digit
        int value;
    } fields[] = {
        {2, local.tm_hour}, {5, local.tm_min}, {8, local.tm_sec},
        {13, local.tm_year + 1900}, {16, local.tm_mon + 1}, {19, local.tm_mday},
    };
    static_assert(sizeof "HH:MM.SS YYYY-MM-DD" <= time_text_size);
    std::memcpy(buffer, "00:00.00 0000-00-00", sizeof "HH:MM.SS YYYY-MM-DD");
    for (const auto& field : fields) {
        int value = field.value;
        for (std::size_t at = field.end; value > 0; value /= 10) {
            buffer[--at] = static_cast<char>('0' + value % 10);
        }
    }
}

std::uint64_t sfv_create(const char* listing_path, std::span<char*> files)
{
    // Decided before any file is opened: see progress_start.
    progress_indicator progress;
    progress_start(progress);
    listing_output out{};
    if (!open_new_listing(listing_path, out)) {
        return 1;
    }
    std::printf("Creating SFV file %s\n", listing_path);
    write_comment_lines(out, files);
    const create_counts counts = checksum_files(out, files, progress);
    std::printf("%llu file%s processed\n%llu error%s encountered\n",
                static_cast<unsigned long long>(counts.processed), plural_suffix(counts.processed),
                static_cast<unsigned long long>(counts.errors), plural_suffix(counts.errors));
    return counts.errors + (close_listing(out, listing_path) ? 0 : 1);
}

void format_crc(std::uint32_t crc, char (&text)[crc_text_size])
{
    // By hand, because printf's conversions cost more per file than reading
    // a small file does.
    constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t i = crc_text_size - 1; i-- > 0; crc >>= 4U) {
        text[i] = digits[crc & 0xFU];
    }
    text[crc_text_size - 1] = '\0';
}
