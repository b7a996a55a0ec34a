// The CRC-32 kernels behind crc32_update, one per family of instructions,
// and the processor-feature queries that pick among them. Internal to the
// engine: the tools call crc32_update and crc32_file only; the tests and
// benchmarks call each kernel directly.
//
// Every kernel has crc32_update's contract: it takes the CRC of the bytes
// already summed (0 for none) and returns the CRC after `data`; it accepts
// any length and alignment. A kernel for instructions the processor lacks
// must not be called: ask its feature query first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

using crc32_kernel_fn = std::uint32_t (*)(std::uint32_t crc, std::span<const unsigned char> data);

struct crc32_kernel {
    const char* name;
    crc32_kernel_fn update;
    bool (*available)(); // true when this processor and OS can run `update`
};

// Every kernel built for this architecture, fastest first; the last one,
// the portable kernel, is always available. crc32_update uses the first
// available one, chosen on its first call.
[[nodiscard]] std::span<const crc32_kernel> crc32_kernels();

// The kernel crc32_update uses: the first available one in crc32_kernels(),
// chosen on the first call of either function.
[[nodiscard]] const crc32_kernel& crc32_active_kernel();

// Size in bytes of the buffer crc32_file reads into: the benchmarks' plain
// read loop uses the same, so the two compare like with like. Measured
// against 128 KiB, 256 KiB took a few percent less time over a 1 GiB file
// (fewer system calls) and still stays in a 1 MiB L2 cache.
inline constexpr std::size_t crc32_read_buffer_size = std::size_t{256} * 1024;

// Portable slice-by-16 tables: sixteen bytes per step, no special
// instructions. Runs everywhere.
[[nodiscard]] std::uint32_t crc32_slice16(std::uint32_t crc, std::span<const unsigned char> data);

#if defined(__x86_64__)
// 128-bit carry-less multiply folding (PCLMULQDQ, SSE2).
[[nodiscard]] std::uint32_t crc32_pclmul(std::uint32_t crc, std::span<const unsigned char> data);
// 256-bit folding (VPCLMULQDQ with AVX2).
[[nodiscard]] std::uint32_t crc32_vpclmul256(std::uint32_t crc, std::span<const unsigned char> data);
// 512-bit folding (VPCLMULQDQ with AVX-512F).
[[nodiscard]] std::uint32_t crc32_vpclmul512(std::uint32_t crc, std::span<const unsigned char> data);

// True when the processor has PCLMULQDQ.
[[nodiscard]] bool crc32_cpu_has_pclmul();
// True when it has AVX2 and VPCLMULQDQ and the OS saves the YMM state.
[[nodiscard]] bool crc32_cpu_has_vpclmul256();
// True when it has AVX-512F and VPCLMULQDQ and the OS saves the ZMM state
// (XGETBV: CPUID alone does not say whether the registers survive a
// context switch).
[[nodiscard]] bool crc32_cpu_has_vpclmul512();
#endif

#if defined(__aarch64__)
// Bits of getauxval(AT_HWCAP) for the instructions the kernels use, fixed
// by the Linux kernel's ABI; spelt out because not every C library's
// headers define HWCAP_PMULL and HWCAP_CRC32.
inline constexpr unsigned long crc32_hwcap_pmull = 1UL << 4;
inline constexpr unsigned long crc32_hwcap_crc32 = 1UL << 7;

// The CRC32 instructions (this very polynomial), three interleaved chains
// on long buffers.
[[nodiscard]] std::uint32_t crc32_arm_crc(std::uint32_t crc, std::span<const unsigned char> data);
// 128-bit carry-less multiply folding (PMULL).
[[nodiscard]] std::uint32_t crc32_arm_pmull(std::uint32_t crc, std::span<const unsigned char> data);

// True when the kernel reports the CRC32 instructions (getauxval).
[[nodiscard]] bool crc32_cpu_has_arm_crc();
// True when the kernel reports PMULL (getauxval).
[[nodiscard]] bool crc32_cpu_has_arm_pmull();
#endif

// Folding constants. Data is held bit-reflected (the first bit of a byte
// stream is bit 0), so multiplying 64 data bits that stand for A(x) by the
// constant for x^n gives A(x) * x^(n+32) mod P(x) in the place a folded
// block must land: each constant is x^n mod P(x), bit-reflected into 32
// bits and shifted left by one (the one bit a reflected 64x64 carry-less
// product comes out short). Folding a 128-bit block across `d` bits takes
// the pair x^(d+32) (low half) and x^(d-32) (high half).
namespace crc32_fold {

inline constexpr std::uint64_t x32 = 0x1DB710640;   // unused by the kernels; checked as published
inline constexpr std::uint64_t x64 = 0x163CD6124;   // 96 -> 64 bits
inline constexpr std::uint64_t x96 = 0x0CCAA009E;   // 128 -> 96 bits; 128-bit fold, high half
inline constexpr std::uint64_t x160 = 0x1751997D0;  // 128-bit fold, low half
inline constexpr std::uint64_t x224 = 0x15A546366;  // 256-bit fold
inline constexpr std::uint64_t x288 = 0x0F1DA05AA;
inline constexpr std::uint64_t x352 = 0x174359406;  // 384-bit fold
inline constexpr std::uint64_t x416 = 0x03DB1ECDC;
inline constexpr std::uint64_t x480 = 0x1C6E41596;  // 512-bit fold
inline constexpr std::uint64_t x544 = 0x154442BD4;
inline constexpr std::uint64_t x992 = 0x14A7FE880;  // 1024-bit fold
inline constexpr std::uint64_t x1056 = 0x1E88EF372;
inline constexpr std::uint64_t x2016 = 0x1322D1430; // 2048-bit fold
inline constexpr std::uint64_t x2080 = 0x11542778A;
// Moving a CRC across 2,048 and 4,096 bytes (x^(8n-32)): joins the
// interleaved chains of the AArch64 CRC32 kernel.
inline constexpr std::uint64_t x16352 = 0x1A03BAEF6;
inline constexpr std::uint64_t x32736 = 0x1B3B1A484;

// Barrett reduction of 64 bits to the 32-bit remainder, both as 33-bit
// reflected polynomials: mu = floor(x^64 / P(x)) and P(x) itself.
inline constexpr std::uint64_t mu = 0x1F7011641;
inline constexpr std::uint64_t polynomial = 0x1DB710641;

struct power_constant {
    unsigned exponent;
    std::uint64_t value;
};

// Every x^n constant above with its n, for the test that recomputes them.
inline constexpr power_constant powers[] = {
    {32, x32},     {64, x64},     {96, x96},       {160, x160},     {224, x224},
    {288, x288},   {352, x352},   {416, x416},     {480, x480},     {544, x544},
    {992, x992},   {1056, x1056}, {2016, x2016},   {2080, x2080},   {16352, x16352},
    {32736, x32736},
};

} // namespace crc32_fold
