// kerfsum c: writing a new SFV listing.
#include "sfv.hpp"

#include "common.hpp"
#include "listing_text.hpp"
#include "new_file.hpp"
#include "progress.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>
#include <vector>
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

// What tells a named file that is the listing itself: the file being
// written, under its temporary name, and the listing's name, at which
// nothing is yet.
struct listing_identity {
    struct stat written {};   // of the file being written
    struct stat directory {}; // of the directory the listing goes in
    std::string_view base;    // the listing's last path component
};

void write_line(listing_output& out, std::initializer_list<std::string_view> pieces)
{
    if (!write_listing_line(out.stream, pieces) && out.write_errno == 0) {
        out.write_errno = error_or_eio(errno);
    }
}

void print_already_exists(const char* listing_path)
{
    std::printf("Error: ");
    print_name(listing_path, 0, " already exists; will not overwrite\n");
}

constexpr const char* unlistable_name = "Name cannot be stored in an SFV listing";
constexpr const char* listing_itself = "Skipped: the SFV file being created";

// `path` split at its last '/': the directory ("." when there is none, "/"
// for "/name"), as a C string in `directory`, and the last component in
// `base`. False when the directory does not fit, which no path that the
// kernel resolves makes.
bool split_path(std::string_view path, char (&directory)[PATH_MAX], std::string_view& base)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? "."
                                                                  : path.substr(0, slash == 0 ? 1 : slash);
    base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.size() >= sizeof directory) {
        return false;
    }
    std::memcpy(directory, name.data(), name.size());
    directory[name.size()] = '\0';
    return true;
}

// Whether the file `name` is the listing being written: the same file as
// `info` (what stat found, or null when stat failed with errno set), or a
// name that leads, itself or through symbolic links, to the listing's own
// name, where nothing is yet. Costs nothing more for a name that stat found.
// The paths live in PATH_MAX buffers: ENOENT from stat means `name` fits,
// and a link that makes a longer path cannot lead to the listing's name.
bool is_the_listing(const char* name, const struct stat* info, const listing_identity& listing)
{
    if (info != nullptr) {
        return info->st_dev == listing.written.st_dev && info->st_ino == listing.written.st_ino;
    }
    if (errno != ENOENT) {
        return false;
    }
    char path[PATH_MAX];
    std::size_t length = std::strlen(name);
    if (length >= sizeof path) {
        return false;
    }
    std::memcpy(path, name, length + 1);
    constexpr int most_links = 40; // as many as the kernel follows in one path
    for (int followed = 0; followed < most_links; ++followed) {
        char target[PATH_MAX];
        const ssize_t got = ::readlink(path, target, sizeof target);
        if (got <= 0 || static_cast<std::size_t>(got) == sizeof target) {
            break; // not a link, or nothing to follow
        }
        const std::string_view next(target, static_cast<std::size_t>(got));
        const std::size_t slash = std::string_view(path, length).rfind('/');
        const std::size_t kept = next.front() == '/' || slash == std::string_view::npos ? 0 : slash + 1;
        if (kept + next.size() >= sizeof path) {
            return false;
        }
        std::memcpy(path + kept, next.data(), next.size());
        length = kept + next.size();
        path[length] = '\0';
    }
    char directory[PATH_MAX];
    std::string_view base;
    struct stat found {};
    return split_path({path, length}, directory, base) && base == listing.base &&
           ::stat(directory, &found) == 0 && found.st_dev == listing.directory.st_dev &&
           found.st_ino == listing.directory.st_ino;
}

// Creates the listing for `out`, under a temporary name until
// close_listing, unless anything at all is at its path: a file, a link
// (dangling or not), a FIFO, socket or device. Prints why not and returns
// false when it is not created. Until close_listing, a signal that ends the
// run removes it.
bool open_new_listing(const char* listing_path, listing_output& out, listing_identity& identity)
{
    // The probe catches what is there before anything is printed. It must
    // not open the path, as opening a FIFO for reading waits for a writer.
    // The exclusive create closes the remaining gap.
    if (struct stat existing{}; ::lstat(listing_path, &existing) == 0) {
        print_already_exists(listing_path);
        return false;
    }
    const int fd = new_file_create(listing_path);
    if (fd >= 0) {
        out = {::fdopen(fd, "wb"), 0};
        if (out.stream != nullptr) {
            (void)::fstat(fd, &identity.written);
            char directory[PATH_MAX];
            if (split_path(listing_path, directory, identity.base)) {
                (void)::stat(directory, &identity.directory);
            }
            return true;
        }
        close_keeping_errno(fd);
        new_file_discard();
    }
    print_error(nullptr, listing_path);
    return false;
}

// Writes the header, then one comment line per file that stat can see, in
// order. Directories drop out of the run here, silently: their entries in
// `files` become null, which the checksum pass skips. The listing itself
// gets no line; `is_listing` says which entries name it.
void write_comment_lines(listing_output& out, std::span<char*> files, const listing_identity& identity,
                         std::vector<bool>& is_listing)
{
    char time_text[time_text_size];
    format_local_time(std::time(nullptr), header_time_format, header_time_fallback, time_text);
    write_line(out, {header_start, time_text});
    write_line(out, {separator_line});
    is_listing.assign(files.size(), false);
    for (std::size_t i = 0; i < files.size(); ++i) {
        char*& name = files[i];
        struct stat info {};
        const bool found = ::stat(name, &info) == 0;
        if (is_the_listing(name, found ? &info : nullptr, identity)) {
            is_listing[i] = true;
            continue;
        }
        if (!found) {
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
        char size_text[size_text_size];
        write_line(out, {";", format_size(static_cast<std::uint64_t>(info.st_size), size_text), "  ",
                         time_text, " ", name});
    }
}

struct create_counts {
    std::uint64_t processed = 0;
    std::uint64_t errors = 0;
};

// Prints each remaining file's result line and writes a checksum line for
// every file that could be read.
create_counts checksum_files(listing_output& out, std::span<char* const> files,
                             const std::vector<bool>& is_listing, progress_indicator& progress)
{
    create_counts counts;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const char* name = files[i];
        if (name == nullptr) {
            continue;
        }
        print_name(name, name_field_width, " ");
        if (is_listing[i]) {
            std::puts(listing_itself); // as other checksum tools do, not a failure
            continue;
        }
        if (!name_reads_back(name)) {
            std::puts(unlistable_name);
            ++counts.errors;
            continue;
        }
        (void)flush_standard_output(); // show the name while a large file is read
        std::uint32_t crc = 0;
        if (!checksum_for_result_line(name, crc, progress)) {
            ++counts.errors;
            continue;
        }
        char crc_text[crc_text_size];
        format_crc(crc, crc_text);
        std::puts(crc_text);
        write_line(out, {name, " ", crc_text});
        ++counts.processed;
    }
    return counts;
}

// Makes the listing durable and closes it, then gives it its name. Returns
// false after printing "Error: LISTING: TEXT" when any of it did not reach
// the disk (a full disk often shows only when the stream's buffer is
// flushed); the listing is then removed, as it would verify while naming
// only some of the files. Returns false after printing that the listing
// already exists when a file appeared at its name during the run, which is
// left alone. Either way a signal no longer touches it.
bool close_listing(listing_output& out, const char* listing_path)
{
    // Said to be written only once it would survive a power cut.
    if ((std::fflush(out.stream) != 0 || ::fsync(::fileno(out.stream)) != 0) && out.write_errno == 0) {
        out.write_errno = error_or_eio(errno);
    }
    if (std::fclose(out.stream) != 0 && out.write_errno == 0) {
        out.write_errno = error_or_eio(errno);
    }
    if (out.write_errno != 0) {
        errno = out.write_errno;
        print_error(nullptr, listing_path);
        new_file_discard();
        return false;
    }
    if (!new_file_keep()) {
        if (errno == EEXIST) {
            print_already_exists(listing_path);
        } else {
            print_error(nullptr, listing_path);
        }
        return false;
    }
    return true;
}

} // namespace

std::uint64_t sfv_create(const char* listing_path, std::span<char*> files)
{
    // Decided before any file is opened: see progress_start.
    progress_indicator progress;
    progress_start(progress);
    listing_output out{};
    listing_identity identity{};
    if (!open_new_listing(listing_path, out, identity)) {
        return 1;
    }
    std::printf("Creating SFV file ");
    print_name(listing_path, 0, "\n");
    std::vector<bool> is_listing;
    write_comment_lines(out, files, identity, is_listing);
    const create_counts counts = checksum_files(out, files, is_listing, progress);
    std::printf("%llu file%s processed\n%llu error%s encountered\n",
                static_cast<unsigned long long>(counts.processed), plural_suffix(counts.processed),
                static_cast<unsigned long long>(counts.errors), plural_suffix(counts.errors));
    return counts.errors + (close_listing(out, listing_path) ? 0 : 1);
}
