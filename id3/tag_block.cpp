// Finding or appending the ID3v1 block at the end of a file and writing the
// selected fields into it, in place. The audio before the block is never
// read, copied or moved.
#include "id3.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr char tag_identifier[3] = {'T', 'A', 'G'};
constexpr int tag_offset = -static_cast<int>(tag_size);
constexpr char new_block_genre = static_cast<char>(0xFF);

enum class update_result { updated, too_short, failed };

// Writes all of `bytes` at the current position, resuming after short
// writes. Returns false with errno set when a write fails.
bool write_all(int fd, std::span<const char> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO; // no progress and no reason given
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// Every field is addressed from the end of the file, so the same offsets
// hold whether the block was found or has just been appended.
bool write_at_end_offset(int fd, int offset, std::span<const char> bytes)
{
    return ::lseek(fd, offset, SEEK_END) != -1 && write_all(fd, bytes);
}

// Reads the three bytes at the start of the last 128 and tells whether they
// are "TAG". Returns false with errno set when seeking or reading fails.
bool read_has_block(int fd, bool& has_block)
{
    if (::lseek(fd, tag_offset, SEEK_END) == -1) {
        return false;
    }
    char found[sizeof tag_identifier] = {};
    std::size_t have = 0;
    while (have < sizeof found) {
        const ssize_t got = ::read(fd, found + have, sizeof found - have);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break; // the file shrank under us: whatever is there is no tag
        }
        have += static_cast<std::size_t>(got);
    }
    has_block = have == sizeof found && std::memcmp(found, tag_identifier, sizeof found) == 0;
    return true;
}

// Appends a new block: "TAG", zero title, artist, album, year, comment and
// track, genre 0xFF. A block that cannot be written whole is cut off again,
// so the file keeps its original length. Returns false with errno set.
bool append_block(int fd)
{
    const off_t original_size = ::lseek(fd, 0, SEEK_END);
    if (original_size == -1) {
        return false;
    }
    char block[tag_size] = {};
    std::memcpy(block, tag_identifier, sizeof tag_identifier);
    block[tag_size - 1] = new_block_genre;
    if (write_all(fd, block)) {
        return true;
    }
    const int saved = errno;
    // Nothing more can be done if this fails too; the write's error is the
    // one worth reporting. (A cast to void would not quiet the fortified
    // declaration's warn_unused_result in g++.)
    [[maybe_unused]] const int truncated = ::ftruncate(fd, original_size);
    errno = saved;
    return false;
}

std::span<const char> text_width(std::span<const char> field)
{
    return field.first(field.size() - 1);
}

char low_byte(std::int32_t value)
{
    return static_cast<char>(static_cast<unsigned char>(static_cast<std::uint32_t>(value) & 0xFFu));
}

// Everything between opening and closing the file. On `failed`, errno
// holds the reason.
update_result update_open_file(int fd, const char* file_name, tag_edit& edit)
{
    const off_t size = ::lseek(fd, 0, SEEK_END);
    if (size == -1) {
        return update_result::failed;
    }
    if (size < static_cast<off_t>(tag_size)) {
        return update_result::too_short;
    }

    bool has_block = false;
    if (!read_has_block(fd, has_block)) {
        return update_result::failed;
    }
    if (!has_block) {
        // The bytes that were looked at stay as part of the audio; the new
        // block goes after them.
        (void)std::fputs("(creating tag) ", stdout);
        if (!append_block(fd)) {
            return update_result::failed;
        }
    }

    // The writes go in block order, each after its own seek.
    if (edit.title_source != title_source::none) {
        if (edit.title_source == title_source::file_name) {
            title_from_file_name(file_name, edit.title);
        }
        if (!write_at_end_offset(fd, title_offset, text_width(edit.title))) {
            return update_result::failed;
        }
    }
    if (edit.write_artist && !write_at_end_offset(fd, artist_offset, text_width(edit.artist))) {
        return update_result::failed;
    }
    if (edit.write_album && !write_at_end_offset(fd, album_offset, text_width(edit.album))) {
        return update_result::failed;
    }
    if (edit.write_year && !write_at_end_offset(fd, year_offset, text_width(edit.year))) {
        return update_result::failed;
    }
    if (edit.write_comment && !write_at_end_offset(fd, comment_offset, text_width(edit.comment))) {
        return update_result::failed;
    }
    if (edit.write_track) {
        const char track = low_byte(edit.track);
        if (!write_at_end_offset(fd, track_offset, {&track, 1})) {
            return update_result::failed;
        }
    }
    if (edit.write_genre) {
        const char genre = low_byte(edit.genre);
        if (!write_at_end_offset(fd, genre_offset, {&genre, 1})) {
            return update_result::failed;
        }
    }
    return update_result::updated;
}

} // namespace

bool update_file_tag(const char* file_name, tag_edit& edit)
{
    std::printf("%s: ", file_name);
    // Read and write, never created, never truncated.
    const int fd = ::open(file_name, O_RDWR);
    if (fd < 0) {
        std::puts(std::strerror(errno));
        return false;
    }

    const update_result result = update_open_file(fd, file_name, edit);
    const int update_errno = errno;
    const bool closed = ::close(fd) == 0;
    const int close_errno = errno;

    switch (result) {
    case update_result::too_short:
        std::puts("file is too short");
        return false;
    case update_result::failed:
        std::puts(std::strerror(update_errno));
        return false;
    case update_result::updated:
        break;
    }
    // A delayed write error may show only here.
    if (!closed) {
        std::puts(std::strerror(close_errno));
        return false;
    }
    std::puts("ok");
    return true;
}

int tag_files(std::span<const char* const> file_names, tag_edit& edit)
{
    int status = 0;
    for (const char* name : file_names) {
        if (!update_file_tag(name, edit)) {
            status = 1;
            continue;
        }
        // Track 0 means "no numbering" and stays 0; otherwise count on,
        // wrapping like a 32-bit register rather than overflowing.
        if (edit.track != 0) {
            edit.track = static_cast<std::int32_t>(static_cast<std::uint32_t>(edit.track) + 1u);
        }
    }
    return status;
}
