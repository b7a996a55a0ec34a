// CRC-32 engine: the CRC of ISO/IEC 3309 and IEEE 802.3 (reflected
// polynomial 0xEDB88320, initial remainder all ones, final inversion).
// Check value: "123456789" gives 0xCBF43926; no bytes give 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Returns the CRC-32 of the bytes already summed into `crc` followed by
// `data`. Start with 0; feeding a buffer in pieces gives the same value as
// feeding it whole. Pure; never fails.
[[nodiscard]] std::uint32_t crc32_update(std::uint32_t crc, std::span<const unsigned char> data);

// The plain byte-at-a-time loop: the reference the fast kernels are tested
// against, and the tail loop for short inputs. Same contract as crc32_update.
[[nodiscard]] std::uint32_t crc32_bytewise(std::uint32_t crc, std::span<const unsigned char> data);

// A watcher of crc32_file's progress: `on_read` is called with `context`
// after every read that returned data, with the open file's descriptor (to
// be looked at, never read or closed) and the number of bytes that read
// returned. It must leave errno as it found it.
struct crc32_progress {
    void (*on_read)(void* context, int fd, std::size_t bytes);
    void* context;
};

// Computes the CRC-32 of the whole file at `path` (opened as given).
// Returns 0 and stores the CRC in `*result`; returns -1 with errno set when
// the file cannot be opened or a read fails (a directory gives EISDIR),
// leaving `*result` unchanged. Not reentrant: every call reads into the
// same static buffer. `progress`, when not null, is told of every read;
// null costs nothing.
[[nodiscard]] int crc32_file(const char* path, std::uint32_t* result,
                             const crc32_progress* progress = nullptr);
