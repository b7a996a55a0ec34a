// CRC-32 on AArch64: the CRC32 instructions, which compute this very
// polynomial, and 128-bit carry-less multiply folding with PMULL. The
// folding follows the x86-64 kernel (crc32_x86.cpp) step for step.
#include "crc32_kernels.hpp"

#if defined(__aarch64__)

#include <arm_acle.h>
#include <arm_neon.h>
#include <cstring>
#include <sys/auxv.h>

// GCC spells an added architecture extension "+crc", Clang "crc".
#if defined(__clang__)
#define CRC32_TARGET_CRC __attribute__((target("crc")))
#define CRC32_TARGET_PMULL __attribute__((target("crypto")))
#else
#define CRC32_TARGET_CRC __attribute__((target("+crc")))
#define CRC32_TARGET_PMULL __attribute__((target("+crypto")))
#endif

namespace {

namespace fold = crc32_fold;

std::uint64_t load_u64(const unsigned char* p)
{
    std::uint64_t value = 0;
    std::memcpy(&value, p, sizeof value); // AArch64 Linux and Android are little-endian
    return value;
}

// One CRC32 instruction over 8 bytes and over one byte. Clang before 16
// declares the <arm_acle.h> names only when the whole file is built for
// CRC32, so its builtins are called directly.
CRC32_TARGET_CRC inline std::uint32_t crc_step8(std::uint32_t reg, std::uint64_t value)
{
#if defined(__clang__)
    return __builtin_arm_crc32d(reg, value);
#else
    return __crc32d(reg, value);
#endif
}

CRC32_TARGET_CRC inline std::uint32_t crc_step1(std::uint32_t reg, unsigned char value)
{
#if defined(__clang__)
    return __builtin_arm_crc32b(reg, value);
#else
    return __crc32b(reg, value);
#endif
}

// Carry-less product of a 32-bit and a 33-bit polynomial, in plain
// integer arithmetic: joining chains is rare enough not to need PMULL.
std::uint64_t multiply_carryless(std::uint32_t a, std::uint64_t b)
{
    std::uint64_t product = 0;
    for (int bit = 0; bit < 32; ++bit) {
        product ^= (b << bit) & (0 - static_cast<std::uint64_t>((a >> bit) & 1u));
    }
    return product;
}

// The register `reg` moved across the bytes that the constant x^(8n-32)
// stands for: multiply, then let the CRC32 instruction reduce the 64-bit
// product (it multiplies by the remaining x^32 on the way).
CRC32_TARGET_CRC std::uint32_t shift_register(std::uint32_t reg, std::uint64_t constant)
{
    return crc_step8(0, multiply_carryless(reg, constant));
}

CRC32_TARGET_CRC std::uint32_t crc_chain(std::uint32_t reg, const unsigned char* p, std::size_t n)
{
    for (; n >= 8; p += 8, n -= 8) {
        reg = crc_step8(reg, load_u64(p));
    }
    for (; n > 0; ++p, --n) {
        reg = crc_step1(reg, *p);
    }
    return reg;
}

// Carry-less 64x64 -> 128-bit product.
CRC32_TARGET_PMULL inline uint64x2_t multiply(std::uint64_t a, std::uint64_t b)
{
    return vreinterpretq_u64_p128(vmull_p64(a, b));
}

CRC32_TARGET_PMULL inline uint64x2_t load128(const unsigned char* p)
{
    return vreinterpretq_u64_u8(vld1q_u8(p));
}

// Returns acc * x^d + next, congruent modulo P, in 128 bits; `low` and
// `high` are the constants x^(d+32) and x^(d-32).
CRC32_TARGET_PMULL inline uint64x2_t fold128(uint64x2_t acc, std::uint64_t low, std::uint64_t high,
                                             uint64x2_t next)
{
    const uint64x2_t a = multiply(vgetq_lane_u64(acc, 0), low);
    const uint64x2_t b = multiply(vgetq_lane_u64(acc, 1), high);
    return veorq_u64(veorq_u64(a, b), next);
}

// The CRC register for the data that the 128-bit block `x` stands for:
// 128 -> 96 -> 64 bits, then Barrett, as in the x86-64 kernel.
CRC32_TARGET_PMULL inline std::uint32_t reduce128(uint64x2_t x)
{
    constexpr std::uint64_t low32 = 0xFFFFFFFFu;
    const uint64x2_t v = veorq_u64(multiply(vgetq_lane_u64(x, 0), fold::x96),
                                   vcombine_u64(vget_high_u64(x), vcreate_u64(0)));
    const std::uint64_t v_low = vgetq_lane_u64(v, 0);
    const std::uint64_t v_high = vgetq_lane_u64(v, 1);
    const std::uint64_t t = vgetq_lane_u64(multiply(v_low & low32, fold::x64), 0) ^
                            (v_low >> 32 | v_high << 32);
    const std::uint64_t q = vgetq_lane_u64(multiply(t & low32, fold::mu), 0) & low32;
    const std::uint64_t r = t ^ vgetq_lane_u64(multiply(q, fold::polynomial), 0);
    return static_cast<std::uint32_t>(r >> 32);
}

} // namespace

bool crc32_cpu_has_arm_crc()
{
    return (::getauxval(AT_HWCAP) & crc32_hwcap_crc32) != 0;
}

bool crc32_cpu_has_arm_pmull()
{
    return (::getauxval(AT_HWCAP) & crc32_hwcap_pmull) != 0;
}

CRC32_TARGET_CRC std::uint32_t crc32_arm_crc(std::uint32_t reg, std::span<const unsigned char> data)
{
    // One CRC32 instruction waits for the previous one's result; three
    // independent chains over consecutive pieces keep the unit busy, and
    // the chains are joined once per round.
    constexpr std::size_t chain = 2048;
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    for (; n >= 3 * chain; p += 3 * chain, n -= 3 * chain) {
        std::uint32_t a = reg;
        std::uint32_t b = 0;
        std::uint32_t c = 0;
        for (std::size_t i = 0; i < chain; i += 8) {
            a = crc_step8(a, load_u64(p + i));
            b = crc_step8(b, load_u64(p + chain + i));
            c = crc_step8(c, load_u64(p + 2 * chain + i));
        }
        reg = shift_register(a, fold::x32736) ^ shift_register(b, fold::x16352) ^ c;
    }
    return crc_chain(reg, p, n);
}

CRC32_TARGET_PMULL std::uint32_t crc32_arm_pmull(std::uint32_t reg, std::span<const unsigned char> data)
{
    constexpr std::size_t stride = 64; // four accumulators of 16 bytes
    if (data.size() < stride) {
        return crc32_slice16(reg, data);
    }
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    uint64x2_t x0 = veorq_u64(load128(p), vcombine_u64(vcreate_u64(reg), vcreate_u64(0)));
    uint64x2_t x1 = load128(p + 16);
    uint64x2_t x2 = load128(p + 32);
    uint64x2_t x3 = load128(p + 48);
    p += stride;
    n -= stride;
    for (; n >= stride; p += stride, n -= stride) {
        x0 = fold128(x0, fold::x544, fold::x480, load128(p));
        x1 = fold128(x1, fold::x544, fold::x480, load128(p + 16));
        x2 = fold128(x2, fold::x544, fold::x480, load128(p + 32));
        x3 = fold128(x3, fold::x544, fold::x480, load128(p + 48));
    }
    x0 = fold128(x0, fold::x160, fold::x96, x1);
    x0 = fold128(x0, fold::x160, fold::x96, x2);
    x0 = fold128(x0, fold::x160, fold::x96, x3);
    for (; n >= 16; p += 16, n -= 16) {
        x0 = fold128(x0, fold::x160, fold::x96, load128(p));
    }
    return crc32_slice16(reduce128(x0), {p, n});
}

#endif
