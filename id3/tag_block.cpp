// Finding or appending the ID3v1 block at the end of a file and writing the
// selected fields into it, in place. The audio before the block is never
// copied or moved; of it, only the first bytes of a file without a block
// are read, to tell audio from other kinds of file (audio_check.cpp).
#include "id3.hpp"

#include "common.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using block_bytes = std::array<char, tag_size>;

constexpr std::string_view tag_identifier = "TAG";
constexpr char new_block_genre = static_cast<char>(0xFF);

// How a step of an update ends: `proceed` to go on to the next step, or how
// the whole update ends.
enum class update_result { proceed, updated, too_short, not_audio, not_regular, moved, failed };

// What an update did, for its result line.
struct update_outcome {
    update_result result = update_result::failed;
    bool appended = false;      // a new block was planned, whether or not it was written
    const char* kind = nullptr; // for not_audio: what the file is, or null
};

char low_byte(std::int32_t value)
{
    return static_cast<char>(static_cast<unsigned char>(static_cast<std::uint32_t>(value) & 0xFFu));
}

// Whether `edit` changes anything in a block that is already there.
bool selects_a_field(const tag_edit& edit)
{
    return std::ranges::any_of(tag_fields,
                               [&edit](const tag_field& field) { return writes_field(edit, field); });
}

// Puts the fields `edit` selects into `block`, in block order; every other
// byte stays as it is.
void apply_edit(block_bytes& block, const char* file_name, const tag_edit& edit)
{
    // A copy, which holds the title derived for this file where one is.
    tag_edit pending = edit;
    if (edit.title_source == title_source::file_name) {
        title_from_file_name(file_name, pending.title);
    }
    for (const tag_field& field : tag_fields) {
        if (!writes_field(pending, field)) {
            continue;
        }
        auto* const at = block.end() + field.offset;
        if (field.number != nullptr) {
            *at = low_byte(pending.*field.number);
        } else {
            std::ranges::copy(field.text(pending).first(field.width), at);
        }
    }
}

// Waits for other tagwhit runs on the same file, so that one run's look at
// the end and its write are never split by another's. A file system that
// refuses the lock leaves the update unguarded, as before, without a word.
void lock_file(int fd)
{
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

// Where a file's block is, as one look at its end found it.
struct block_place {
    block_bytes block{}; // the bytes to write: as read, or a new block
    off_t size = 0;      // the file's length when looked at
    off_t at = 0;        // where the block starts
    bool appended = false;
};

// Looks at the end of the file once: its length and its last 128 bytes.
// Returns `proceed` to go on, else how the update ends (errno set when
// `failed`). A file that cannot seek (ESPIPE: a FIFO) has no end to look
// at, and counts as too short; any other failed seek is the file's failure.
update_result read_end(int fd, block_place& place)
{
    place.size = ::lseek(fd, 0, SEEK_END);
    if (place.size < 0 && errno != ESPIPE) {
        return update_result::failed;
    }
    if (place.size < static_cast<off_t>(tag_size)) {
        return update_result::too_short;
    }
    place.at = place.size - static_cast<off_t>(tag_size);
    const ssize_t got = read_at(fd, std::as_writable_bytes(std::span(place.block)), place.at);
    if (got < 0) {
        return update_result::failed;
    }
    if (got != static_cast<ssize_t>(tag_size)) {
        errno = EAGAIN; // the file shrank while it was looked at: try again
        return update_result::failed;
    }
    return update_result::proceed;
}

// An ID3v2 tag may stand in front of another format (FLAC, Ogg, WAVE):
// what follows the tag at the start of `head` must not plainly be one.
// Returns `proceed` to go on, else as check_audio does.
update_result check_behind_id3v2(int fd, off_t size, std::span<const unsigned char> head, const char** kind)
{
    const std::size_t tag_length = id3v2_tag_length(head);
    const auto file_size = static_cast<std::size_t>(size);
    if (tag_length == 0 || tag_length >= file_size) {
        return update_result::proceed;
    }
    // Enough for every signature, the form of a RIFF or FORM file included.
    constexpr std::size_t signature_size = 12;
    const std::span<const unsigned char> in_head = head.subspan(std::min(tag_length, head.size()));
    const char* other = nullptr;
    if (in_head.size() >= std::min(signature_size, file_size - tag_length)) {
        other = known_other_format(in_head);
    } else {
        std::array<unsigned char, signature_size> after{};
        const ssize_t got = read_at(fd, std::as_writable_bytes(std::span(after)),
                                    static_cast<off_t>(tag_length));
        if (got < 0) {
            return update_result::failed;
        }
        other = known_other_format(std::span(after).first(static_cast<std::size_t>(got)));
    }
    if (other != nullptr) {
        *kind = other;
        return update_result::not_audio;
    }
    return update_result::proceed;
}

// Whether a file without a block holds MPEG audio, from its first 4 KiB,
// or its first 72 KiB when those do not tell (see judge_file_head).
// Returns `proceed` for audio, else how the update ends: `not_audio`, with
// `*kind` saying what the file is or null, or `failed` with errno set.
update_result check_audio(int fd, off_t size, const char** kind)
{
    // Static, as a small RLIMIT_STACK could not hold it; one file at a time.
    alignas(64) static std::array<unsigned char, audio_search_size> head;
    const auto file_size = static_cast<std::size_t>(size);
    std::size_t wanted = std::min(audio_first_look, file_size);
    for (;;) {
        const ssize_t got = read_at(fd, std::as_writable_bytes(std::span(head).first(wanted)), 0);
        if (got < 0) {
            return update_result::failed;
        }
        const auto have = static_cast<std::size_t>(got);
        const bool complete = have < wanted || have == file_size || have == head.size();
        switch (judge_file_head({head.data(), have}, complete, kind)) {
        case head_verdict::audio:
            return check_behind_id3v2(fd, size, {head.data(), have}, kind);
        case head_verdict::not_audio:
            return update_result::not_audio;
        case head_verdict::look_further:
            break;
        }
        wanted = std::min(head.size(), file_size);
    }
}

// A new block after the file's last byte, which `place` describes; the
// bytes that were looked at stay part of the audio.
void plan_new_block(block_place& place)
{
    place.block = {};
    std::ranges::copy(tag_identifier, place.block.begin());
    place.block[tag_size - 1] = new_block_genre;
    place.at = place.size;
    place.appended = true;
}

// Writes the block whole at its place: in place over the old block, or a
// new one at the file's real end (O_APPEND), even when the file grew since
// it was looked at, so that no byte another writer added is overwritten.
// A new block that cannot be written whole is cut off again where nothing
// but its own bytes lie past the old end, so the file keeps its original
// length. Returns `updated`, `moved` when the new block did not land where
// it was planned (the file grew meanwhile), or `failed` with errno set.
update_result write_block(int fd, const block_place& place)
{
    if (!place.appended) {
        return write_all(fd, place.block, place.at) ? update_result::updated : update_result::failed;
    }
    const auto planned_end = static_cast<off_t>(place.at + static_cast<off_t>(tag_size));
    if (::fcntl(fd, F_SETFL, O_APPEND) == 0 && write_all(fd, place.block)) {
        // After an appending write, the position is where the block ends.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end < 0) {
            return update_result::failed;
        }
        return end == planned_end ? update_result::updated : update_result::moved;
    }
    // Nothing more can be done if this fails too; the write's error is the
    // one worth reporting. (Fortified builds insist that the result is
    // taken, and g++ does not count a cast to void.)
    const int saved_errno = errno;
    const off_t reached = ::lseek(fd, 0, SEEK_CUR);
    if (struct stat now{};
        reached >= place.at && reached < planned_end && ::fstat(fd, &now) == 0 && now.st_size == reached) {
        [[maybe_unused]] const int truncated = ::ftruncate(fd, place.at);
    }
    errno = saved_errno;
    return update_result::failed;
}

// Everything between opening and closing the file: one look at its end,
// then one write of the whole block at the offset found, so that a signal
// or a neighbour's change to the file's length can never split an update.
// Never returns `proceed`; on `failed`, errno holds the reason.
update_outcome update_open_file(int fd, const char* file_name, const tag_edit& edit)
{
    // Only a regular file is ever written: a device node named like a song
    // (recreated from a stranger's archive) would take the block on its
    // disk. A FIFO, which cannot seek, counts as too short below.
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return {.result = update_result::failed};
    }
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode)) {
        return {.result = update_result::not_regular};
    }
    lock_file(fd);
    block_place place;
    if (const update_result ended = read_end(fd, place); ended != update_result::proceed) {
        return {.result = ended};
    }
    const bool has_block = std::string_view(place.block.data(), tag_identifier.size()) == tag_identifier;
    if (has_block && !selects_a_field(edit)) {
        return {.result = update_result::updated}; // nothing to write: the file stays as it is
    }
    if (!has_block) {
        const char* kind = nullptr;
        if (const update_result ended = check_audio(fd, place.size, &kind); ended != update_result::proceed) {
            return {.result = ended, .kind = kind};
        }
        plan_new_block(place);
    }
    apply_edit(place.block, file_name, edit);
    update_result written = write_block(fd, place);
    // "ok" is said only once the block would survive a power cut.
    if (written == update_result::updated && ::fdatasync(fd) != 0) {
        written = update_result::failed;
    }
    return {.result = written, .appended = place.appended};
}

} // namespace

bool update_file_tag(const char* file_name, const tag_edit& edit)
{
    print_name(file_name, 0, ": ");
    // Read and write, never created, never truncated. Without waiting: a
    // device opened by mistake (a serial line) could wait for ever, and
    // must not become the controlling terminal; on a regular file the flag
    // changes nothing.
    const int fd = ::open(file_name, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        print_error_text(errno);
        return false;
    }

    const update_outcome outcome = update_open_file(fd, file_name, edit);
    const int update_errno = errno;
    const bool closed = ::close(fd) == 0;
    const int close_errno = errno;

    if (outcome.appended) {
        (void)std::fputs("(creating tag) ", stdout);
    }
    switch (outcome.result) {
    case update_result::too_short:
        std::puts("file is too short");
        return false;
    case update_result::not_audio:
        if (outcome.kind != nullptr) {
            std::printf("not MP3 audio (%s)\n", outcome.kind);
        } else {
            std::puts("not MP3 audio");
        }
        return false;
    case update_result::not_regular:
        std::puts("not a regular file");
        return false;
    case update_result::moved:
        std::puts("file grew while it was tagged");
        return false;
    case update_result::failed:
        print_error_text(update_errno);
        return false;
    case update_result::proceed: // never the end of an update
    case update_result::updated:
        break;
    }
    // A delayed write error may show only here.
    if (!closed) {
        print_error_text(close_errno);
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
