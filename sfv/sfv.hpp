// SFV listings: creating them (kerfsum c) and verifying them (kerfsum v).
// The listing's text is in listing_text.hpp.
#pragma once

#include <cstdint>
#include <span>

struct progress_indicator;

// Writes a new listing at `listing_path` for `files`, printing one result
// line per file and a summary. Directories are skipped (their entries in
// `files` are set to null). Never overwrites an existing file. Returns the
// number of files that could not be read, plus 1 when writing the listing
// failed (the listing is then removed); returns 1 when the listing exists
// or cannot be created.
[[nodiscard]] std::uint64_t sfv_create(const char* listing_path, std::span<char*> files);

// Checks every file named in the listing at `listing_path`, printing one
// result line per file and a summary. Returns bad plus unreadable files;
// returns 1 when the listing cannot be opened, is not text (UTF-16), holds a
// line longer than 30,098 bytes or memory runs out; when reading the listing
// fails, returns 1 plus the failures found up to then. Stops at the first
// file after a write to stdout fails, returning the failures found up to
// then.
[[nodiscard]] std::uint64_t sfv_verify(const char* listing_path);

// Computes the CRC-32 of the file `name`, whose result line already shows
// its name, with `progress` watching, then erases the indicator. When the
// file cannot be read, completes the line with the system's error text and
// returns false; errno is kept.
[[nodiscard]] bool checksum_for_result_line(const char* name, std::uint32_t& crc,
                                            progress_indicator& progress);

// Summary lines put "s" after a counted noun unless the count is exactly 1.
[[nodiscard]] constexpr const char* plural_suffix(std::uint64_t count)
{
    return count == 1 ? "" : "s";
}

// The process exit status for a failure count: the count itself below 255,
// else 255, so that a count that is a multiple of 256 never reads as success.
[[nodiscard]] constexpr int exit_status_for(std::uint64_t count)
{
    return count < 255 ? static_cast<int>(count) : 255;
}
