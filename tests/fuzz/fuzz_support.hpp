// What the fuzz targets share: the entry point libFuzzer calls (and the
// replay main, in ordinary builds) and the check that stops a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Runs one input through a target's checks. Returns 0; a failed check
// aborts the process instead.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Aborts with "check failed: WHAT" on stderr when `holds` is false, so that
// libFuzzer keeps the input as a crash and a replay test fails.
inline void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}
