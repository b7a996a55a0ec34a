// Bytes per second of each CRC-32 kernel this processor can run, over one
// buffer already in the cache, at 4 KiB, 64 KiB and 1 MiB, beside ISA-L's
// CRC-32 where it was found at build time (the row "isal"); and the cost
// of the clock read that kerfsum's progress indicator makes per read
// buffer. bench/crc32_versus.sh turns these rows into ratios.
#include "common.hpp"
#include "crc32.hpp"
#include "crc32_kernels.hpp"

#include <benchmark/benchmark.h>

#if defined(TOOLCRATE_HAVE_ISAL)
#include <isa-l/crc.h>
#endif

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <string>
#include <vector>

namespace {

#if defined(TOOLCRATE_HAVE_ISAL)
// ISA-L's CRC-32 of this polynomial, with the kernel it picks for this
// processor; it takes and returns the CRC as crc32_update does.
std::uint32_t isal_update(std::uint32_t crc, std::span<const unsigned char> data)
{
    return crc32_gzip_refl(crc, data.data(), data.size());
}
#endif

void run_kernel(benchmark::State& state, crc32_kernel_fn update)
{
    const auto size = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> buffer(size);
    for (std::size_t i = 0; i < size; ++i) {
        buffer[i] = static_cast<unsigned char>(i * 131 + 7);
    }
    std::uint32_t crc = 0;
    // The loop variable only counts iterations; the library wants it declared.
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        crc = update(crc, buffer);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Registered at run time: only the kernels this processor can execute.
int register_kernels()
{
    for (const crc32_kernel& kernel : crc32_kernels()) {
        if (!kernel.available()) {
            continue;
        }
        const crc32_kernel_fn update = kernel.update;
        benchmark::RegisterBenchmark(kernel.name,
                                     [update](benchmark::State& state) { run_kernel(state, update); })
            ->Arg(4 << 10)
            ->Arg(64 << 10)
            ->Arg(1 << 20);
    }
#if defined(TOOLCRATE_HAVE_ISAL)
    benchmark::RegisterBenchmark("isal", [](benchmark::State& state) { run_kernel(state, isal_update); })
        ->Arg(4 << 10)
        ->Arg(64 << 10)
        ->Arg(1 << 20);
#else
    (void)std::fputs("crc32_bench: built without ISA-L (Debian package libisal-dev), so without its row\n",
                     stderr);
#endif
    benchmark::RegisterBenchmark("crc32_update",
                                 [](benchmark::State& state) { run_kernel(state, crc32_update); })
        ->Arg(4 << 10)
        ->Arg(64 << 10)
        ->Arg(1 << 20);
    benchmark::RegisterBenchmark("bytewise", [](benchmark::State& state) {
        run_kernel(state, crc32_bytewise);
    })->Arg(64 << 10);
    // With standard error on a terminal, kerfsum reads CLOCK_MONOTONIC once
    // per 256 KiB buffer, 4096 times per GiB.
    benchmark::RegisterBenchmark("monotonic_clock", [](benchmark::State& state) {
        timespec now{};
        for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
            benchmark::DoNotOptimize(::clock_gettime(CLOCK_MONOTONIC, &now));
        }
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    });
    return 0;
}

const int registered = register_kernels();

} // namespace

// The CRC engine uses the shared module, which every program that links it
// gives a banner; this one never prints it.
const banner_text tool_banner = {"crc32_bench - CRC-32 kernel benchmarks", "not a tool of the family"};
