// kerfsum c: writing a new SFV listing.
#include "sfv.hpp"

#include "common.hpp"
#include "listing_text.hpp"
#include "new_file.hpp"
#include "progress.hpp"

#include <cerrno>
#include <cstdio>
#include <ctime>
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

// Creates the listing for `out`, unless anything at all is at its path: a
// file, a link (dangling or not), a FIFO, socket or device. Prints why not
// and returns false when it is not created. Until close_listing, a signal
// that ends the run removes the listing.
bool open_new_listing(const char* listing_path, listing_output& out)
{
    // The probe catches what is there before anything is printed. It must
    // not open the path, as opening a FIFO for reading waits for a writer.
    // The exclusive create closes the remaining gap.
    if (struct stat existing {}; ::lstat(listing_path, &existing) == 0) {
        print_already_exists(listing_path);
        return false;
    }
    const int fd = new_file_create(listing_path);
    if (fd >= 0) {
        out = {::fdopen(fd, "wb"), 0};
        if (out.stream != nullptr) {
            return true;
        }
        close_keeping_errno(fd);
        new_file_discard();
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
    format_local_time(std::time(nullptr), header_time_format, header_time_fallback, time_text);
    write_line(out, {header_start, time_text});
    write_line(out, {separator_line});
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
        char size_text[size_text_size];
        write_line(out, {";", format_size(static_cast<std::uint64_t>(info.st_size), size_text), "  ", time_text, " ",
                         name});
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
        print_name(name, name_field_width, " ");
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

// Closes the listing. Returns false after printing "Error: LISTING: TEXT"
// when any of it did not reach the file (a full disk often shows only here,
// when the stream's buffer is flushed); the listing is then removed, as it
// would verify while naming only some of the files. Either way a signal no
// longer touches it.
bool close_listing(listing_output& out, const char* listing_path)
{
    if (std::fclose(out.stream) != 0 && out.write_errno == 0) {
        out.write_errno = error_or_eio(errno);
    }
    if (out.write_errno == 0) {
        new_file_keep();
        return true;
    }
    errno = out.write_errno;
    print_error(nullptr, listing_path);
    new_file_discard();
    return false;
}

} // namespace

std::uint64_t sfv_create(const char* listing_path, std::span<char*> files)
{
    // Decided before any file is opened: see progress_start.
    progress_indicator progress;
    progress_start(progress);
    listing_output out{};
    if (!open_new_listing(listing_path, out)) {
        return 1;
    }
    std::printf("Creating SFV file ");
    print_name(listing_path, 0, "\n");
    write_comment_lines(out, files);
    const create_counts counts = checksum_files(out, files, progress);
    std::printf("%llu file%s processed\n%llu error%s encountered\n",
                static_cast<unsigned long long>(counts.processed), plural_suffix(counts.processed),
                static_cast<unsigned long long>(counts.errors), plural_suffix(counts.errors));
    return counts.errors + (close_listing(out, listing_path) ? 0 : 1);
}
