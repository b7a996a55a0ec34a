// The CRC-32 kernels behind crc32_update, one per family of instructions,
// and the processor-feature queries that pick among them. Internal to the
// engine: the tools call crc32_update and crc32_file only; the tests and
// benchmarks call each kernel through crc32_kernels().
//
// A kernel works on the CRC register, the running CRC inverted (all ones
// before any byte): it takes the register after the bytes already summed
// and returns the register after `data`, for any length and alignment. The
// table's `update` functions invert on the way in and out, once, so that a
// kernel handing a short input to a narrower one inverts nothing. A kernel
// for instructions the processor lacks must not be called: ask its feature
// query first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

using crc32_kernel_fn = std::uint32_t (*)(std::uint32_t crc, std::span<const unsigned char> data);

struct crc32_kernel {
    const char* name;
    crc32_kernel_fn update; // the kernel behind crc32_update's contract (CRC in, CRC out)
    bool (*available)();    // true when this processor and OS can run `update`
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

// The kernels below take and return the CRC register (see the top).

// Portable slice-by-16 tables: sixteen bytes per step, no special
// instructions. Runs everywhere.
[[nodiscard]] std::uint32_t crc32_slice16(std::uint32_t reg, std::span<const unsigned char> data);

#if defined(__x86_64__)
// 128-bit carry-less multiply folding (PCLMULQDQ, SSSE3).
[[nodiscard]] std::uint32_t crc32_pclmul(std::uint32_t reg, std::span<const unsigned char> data);
// 256-bit folding (VPCLMULQDQ with AVX2).
[[nodiscard]] std::uint32_t crc32_vpclmul256(std::uint32_t reg, std::span<const unsigned char> data);
// 512-bit folding (VPCLMULQDQ with AVX-512F).
[[nodiscard]] std::uint32_t crc32_vpclmul512(std::uint32_t reg, std::span<const unsigned char> data);

// True when the processor has PCLMULQDQ (and SSSE3).
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
[[nodiscard]] std::uint32_t crc32_arm_crc(std::uint32_t reg, std::span<const unsigned char> data);
// 128-bit carry-less multiply folding (PMULL).
[[nodiscard]] std::uint32_t crc32_arm_pmull(std::uint32_t reg, std::span<const unsigned char> data);

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
// the pair x^(d+32) (low half) and x^(d-32) (high half). The compiler
// computes every one of them from the polynomial.
namespace crc32_fold {

inline constexpr std::uint32_t reflected_polynomial = 0xEDB88320u; // P(x) without its x^32 term

// x^n mod P(x) as a folding constant (see above).
constexpr std::uint64_t x_power(unsigned n)
{
    std::uint32_t reflected = 0x80000000u; // x^0
    for (unsigned i = 0; i < n; ++i) {
        // Times x: every coefficient moves up one degree, one place down in
        // the reflected order; x^32 wraps round as P(x) minus x^32.
        reflected = (reflected & 1u) != 0 ? (reflected >> 1) ^ reflected_polynomial : reflected >> 1;
    }
    return std::uint64_t{reflected} << 1;
}

// The lowest `bits` bits of `value` in the reverse order.
constexpr std::uint64_t reflect(std::uint64_t value, int bits)
{
    std::uint64_t result = 0;
    for (int i = 0; i < bits; ++i) {
        result |= ((value >> i) & 1u) << (bits - 1 - i);
    }
    return result;
}

// floor(x^64 / P(x)) by long division in the normal bit order: 33 bits.
constexpr std::uint64_t x64_quotient()
{
    constexpr std::uint64_t normal_polynomial = (reflect(reflected_polynomial, 32)) | std::uint64_t{1} << 32;
    std::uint64_t remainder = 0;
    std::uint64_t quotient = 0;
    for (int degree = 64; degree >= 0; --degree) {
        remainder = remainder << 1 | (degree == 64 ? 1u : 0u);
        quotient <<= 1;
        if ((remainder >> 32) != 0) {
            remainder ^= normal_polynomial;
            quotient |= 1u;
        }
    }
    return quotient;
}

inline constexpr std::uint64_t x32 = x_power(32);   // unused by the kernels; checked as published
inline constexpr std::uint64_t x64 = x_power(64);   // 96 -> 64 bits
inline constexpr std::uint64_t x96 = x_power(96);   // 128 -> 96 bits; 128-bit fold, high half
inline constexpr std::uint64_t x160 = x_power(160); // 128-bit fold, low half
inline constexpr std::uint64_t x224 = x_power(224); // 256-bit fold
inline constexpr std::uint64_t x288 = x_power(288);
inline constexpr std::uint64_t x352 = x_power(352); // 384-bit fold
inline constexpr std::uint64_t x416 = x_power(416);
inline constexpr std::uint64_t x480 = x_power(480); // 512-bit fold
inline constexpr std::uint64_t x544 = x_power(544);
inline constexpr std::uint64_t x992 = x_power(992); // 1024-bit fold
inline constexpr std::uint64_t x1056 = x_power(1056);
inline constexpr std::uint64_t x2016 = x_power(2016); // 2048-bit fold
inline constexpr std::uint64_t x2080 = x_power(2080);
inline constexpr std::uint64_t x4064 = x_power(4064); // 4096-bit fold
inline constexpr std::uint64_t x4128 = x_power(4128);
// Moving a CRC across 2,048 and 4,096 bytes (x^(8n-32)): joins the
// interleaved chains of the AArch64 CRC32 kernel.
inline constexpr std::uint64_t x16352 = x_power(16352);
inline constexpr std::uint64_t x32736 = x_power(32736);

// Barrett reduction of 64 bits to the 32-bit remainder, both as 33-bit
// reflected polynomials: mu = floor(x^64 / P(x)) and P(x) itself.
inline constexpr std::uint64_t mu = reflect(x64_quotient(), 33);
inline constexpr std::uint64_t polynomial = std::uint64_t{reflected_polynomial} << 1 | 1u;

struct power_constant {
    unsigned exponent;
    std::uint64_t value;
};

// Every x^n constant the kernels use, with its n, for the test that
// recomputes them another way.
inline constexpr power_constant powers[] = {
    {32, x32},     {64, x64},     {96, x96},     {160, x160},   {224, x224},     {288, x288},
    {352, x352},   {416, x416},   {480, x480},   {544, x544},   {992, x992},     {1056, x1056},
    {2016, x2016}, {2080, x2080}, {4064, x4064}, {4128, x4128}, {16352, x16352}, {32736, x32736},
};

} // namespace crc32_fold
