// CRC-32 by carry-less multiplication on x86-64: 128-bit folding with
// PCLMULQDQ, 256- and 512-bit folding with VPCLMULQDQ.
//
// The data is split into 128-bit blocks held in parallel accumulators. Each
// step multiplies every accumulator by x^d mod P (d: the distance to the
// block it is folded into) and adds the next block, which keeps the value
// congruent to the data read so far without ever dividing. At the end the
// accumulators fold into one 128-bit block, which is reduced to the 32-bit
// register: 128 -> 96 -> 64 bits by two more folds, then a Barrett step.
// The first 32 bits of data take the incoming register, as in the byte-wise
// loop. Only these functions carry the target attributes, so the rest of
// the program never uses an instruction the processor may lack.
#include "crc32_kernels.hpp"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

#define CRC32_TARGET_PCLMUL __attribute__((target("sse2,pclmul")))
#define CRC32_TARGET_VPCLMUL256 __attribute__((target("avx2,pclmul,vpclmulqdq")))
#define CRC32_TARGET_VPCLMUL512 __attribute__((target("avx512f,avx2,pclmul,vpclmulqdq")))

namespace {

namespace fold = crc32_fold;

// Pairs the constants of one folding distance the way every 128-bit lane
// needs them: x^(d+32) multiplies the low 64 bits, x^(d-32) the high.
CRC32_TARGET_PCLMUL inline __m128i pair128(std::uint64_t low, std::uint64_t high)
{
    return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

CRC32_TARGET_PCLMUL inline __m128i load128(const unsigned char* p)
{
    // The unaligned load takes its address as a vector pointer.
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

// Returns acc * x^d + next, congruent modulo P, in 128 bits.
CRC32_TARGET_PCLMUL inline __m128i fold128(__m128i acc, __m128i constants, __m128i next)
{
    const __m128i low = _mm_clmulepi64_si128(acc, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(acc, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The CRC register for the data that the 128-bit block `x` stands for.
CRC32_TARGET_PCLMUL inline std::uint32_t reduce128(__m128i x)
{
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    // 128 -> 96 bits: the low half moves across 64 bits onto the high half.
    const __m128i k96_64 = _mm_set_epi64x(static_cast<long long>(fold::x64),
                                          static_cast<long long>(fold::x96));
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, k96_64, 0x00), _mm_srli_si128(x, 8));
    // 96 -> 64 bits: the low 32 bits move across 64 bits.
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k96_64, 0x10),
                      _mm_srli_si128(x, 4));
    // Barrett: quotient q = (high 32 bits * mu) / x^32, remainder = value + q * P.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(fold::polynomial),
                                           static_cast<long long>(fold::mu));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x00);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x10);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, q), 4)));
}

CRC32_TARGET_PCLMUL inline __m128i register_block(std::uint32_t crc)
{
    return _mm_cvtsi32_si128(static_cast<int>(~crc));
}

// Sums 16-byte blocks into `x` while they last, then reduces it and sums
// the short tail with the table kernel.
CRC32_TARGET_PCLMUL inline std::uint32_t finish128(__m128i x, const unsigned char* p, std::size_t n)
{
    const __m128i k128 = pair128(fold::x160, fold::x96);
    for (; n >= 16; p += 16, n -= 16) {
        x = fold128(x, k128, load128(p));
    }
    return crc32_slice16(~reduce128(x), {p, n});
}

CRC32_TARGET_VPCLMUL256 inline __m256i load256(const unsigned char* p)
{
    // The unaligned load takes its address as a vector pointer.
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

CRC32_TARGET_VPCLMUL256 inline __m256i pair256(std::uint64_t low, std::uint64_t high)
{
    const auto l = static_cast<long long>(low);
    const auto h = static_cast<long long>(high);
    return _mm256_set_epi64x(h, l, h, l);
}

CRC32_TARGET_VPCLMUL256 inline __m256i fold256(__m256i acc, __m256i constants, __m256i next)
{
    const __m256i low = _mm256_clmulepi64_epi128(acc, constants, 0x00);
    const __m256i high = _mm256_clmulepi64_epi128(acc, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

CRC32_TARGET_VPCLMUL512 inline __m512i load512(const unsigned char* p)
{
    return _mm512_loadu_si512(p);
}

CRC32_TARGET_VPCLMUL512 inline __m512i pair512(std::uint64_t low, std::uint64_t high)
{
    const auto l = static_cast<long long>(low);
    const auto h = static_cast<long long>(high);
    return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

CRC32_TARGET_VPCLMUL512 inline __m512i fold512(__m512i acc, __m512i constants, __m512i next)
{
    const __m512i low = _mm512_clmulepi64_epi128(acc, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(acc, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96); // three-way XOR
}

// One 128-bit lane of `z`. (The masked form: GCC 12's header for the
// unmasked one trips its own maybe-uninitialized warning, GCC bug 105593.)
template <int lane>
CRC32_TARGET_VPCLMUL512 inline __m128i lane512(__m512i z)
{
    return _mm512_maskz_extracti32x4_epi32(0xF, z, lane);
}

struct cpu_features {
    bool pclmul;
    bool ymm_vpclmul;
    bool zmm_vpclmul;
};

cpu_features read_cpu_features()
{
    cpu_features features{};
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return features;
    }
    features.pclmul = (ecx & bit_PCLMUL) != 0;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    const bool avx = (ecx & bit_AVX) != 0;
    if (!features.pclmul || !osxsave || !avx ||
        __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return features;
    }
    const bool avx2 = (ebx & bit_AVX2) != 0;
    const bool avx512f = (ebx & bit_AVX512F) != 0;
    const bool vpclmul = (ecx & (1u << 10)) != 0; // CPUID.(7,0):ECX.VPCLMULQDQ

    // XCR0 says which register states the OS saves on a context switch:
    // bits 1-2 the XMM and YMM halves, bits 5-7 the opmask and ZMM state.
    unsigned xcr0_low = 0;
    unsigned xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    const bool ymm_state = (xcr0_low & 0x06u) == 0x06u;
    const bool zmm_state = (xcr0_low & 0xE6u) == 0xE6u;

    features.ymm_vpclmul = vpclmul && avx2 && ymm_state;
    features.zmm_vpclmul = vpclmul && avx2 && avx512f && zmm_state;
    return features;
}

const cpu_features& cpu()
{
    static const cpu_features features = read_cpu_features();
    return features;
}

} // namespace

bool crc32_cpu_has_pclmul()
{
    return cpu().pclmul;
}

bool crc32_cpu_has_vpclmul256()
{
    return cpu().ymm_vpclmul;
}

bool crc32_cpu_has_vpclmul512()
{
    return cpu().zmm_vpclmul;
}

CRC32_TARGET_PCLMUL std::uint32_t crc32_pclmul(std::uint32_t crc, std::span<const unsigned char> data)
{
    constexpr std::size_t stride = 64; // four accumulators of 16 bytes
    if (data.size() < stride) {
        return crc32_slice16(crc, data);
    }
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    __m128i x0 = _mm_xor_si128(load128(p), register_block(crc));
    __m128i x1 = load128(p + 16);
    __m128i x2 = load128(p + 32);
    __m128i x3 = load128(p + 48);
    p += stride;
    n -= stride;

    const __m128i k512 = pair128(fold::x544, fold::x480);
    for (; n >= stride; p += stride, n -= stride) {
        x0 = fold128(x0, k512, load128(p));
        x1 = fold128(x1, k512, load128(p + 16));
        x2 = fold128(x2, k512, load128(p + 32));
        x3 = fold128(x3, k512, load128(p + 48));
    }
    const __m128i k128 = pair128(fold::x160, fold::x96);
    x0 = fold128(x0, k128, x1);
    x0 = fold128(x0, k128, x2);
    x0 = fold128(x0, k128, x3);
    return finish128(x0, p, n);
}

CRC32_TARGET_VPCLMUL256 std::uint32_t crc32_vpclmul256(std::uint32_t crc, std::span<const unsigned char> data)
{
    constexpr std::size_t stride = 128; // four accumulators of 32 bytes
    if (data.size() < 2 * stride) {
        return crc32_pclmul(crc, data);
    }
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    __m256i y0 = _mm256_xor_si256(load256(p), _mm256_zextsi128_si256(register_block(crc)));
    __m256i y1 = load256(p + 32);
    __m256i y2 = load256(p + 64);
    __m256i y3 = load256(p + 96);
    p += stride;
    n -= stride;

    const __m256i k1024 = pair256(fold::x1056, fold::x992);
    for (; n >= stride; p += stride, n -= stride) {
        y0 = fold256(y0, k1024, load256(p));
        y1 = fold256(y1, k1024, load256(p + 32));
        y2 = fold256(y2, k1024, load256(p + 64));
        y3 = fold256(y3, k1024, load256(p + 96));
    }
    const __m256i k256 = pair256(fold::x288, fold::x224);
    y0 = fold256(y0, k256, y1);
    y0 = fold256(y0, k256, y2);
    y0 = fold256(y0, k256, y3);
    for (; n >= 32; p += 32, n -= 32) {
        y0 = fold256(y0, k256, load256(p));
    }
    // The earlier lane folds across 128 bits onto the later one.
    const __m128i x = fold128(_mm256_castsi256_si128(y0), pair128(fold::x160, fold::x96),
                              _mm256_extracti128_si256(y0, 1));
    return finish128(x, p, n);
}

CRC32_TARGET_VPCLMUL512 std::uint32_t crc32_vpclmul512(std::uint32_t crc, std::span<const unsigned char> data)
{
    constexpr std::size_t stride = 256; // four accumulators of 64 bytes
    if (data.size() < 2 * stride) {
        return crc32_pclmul(crc, data);
    }
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    __m512i z0 = _mm512_xor_si512(load512(p), _mm512_zextsi128_si512(register_block(crc)));
    __m512i z1 = load512(p + 64);
    __m512i z2 = load512(p + 128);
    __m512i z3 = load512(p + 192);
    p += stride;
    n -= stride;

    const __m512i k2048 = pair512(fold::x2080, fold::x2016);
    for (; n >= stride; p += stride, n -= stride) {
        z0 = fold512(z0, k2048, load512(p));
        z1 = fold512(z1, k2048, load512(p + 64));
        z2 = fold512(z2, k2048, load512(p + 128));
        z3 = fold512(z3, k2048, load512(p + 192));
    }
    const __m512i k512 = pair512(fold::x544, fold::x480);
    z0 = fold512(z0, k512, z1);
    z0 = fold512(z0, k512, z2);
    z0 = fold512(z0, k512, z3);
    for (; n >= 64; p += 64, n -= 64) {
        z0 = fold512(z0, k512, load512(p));
    }
    // Lanes 0, 1 and 2 fold across 384, 256 and 128 bits onto lane 3 in
    // one multiplication each; lane 3's constants are zero.
    const __m512i lanes = _mm512_set_epi64(
        0, 0, static_cast<long long>(fold::x96), static_cast<long long>(fold::x160),
        static_cast<long long>(fold::x224), static_cast<long long>(fold::x288),
        static_cast<long long>(fold::x352), static_cast<long long>(fold::x416));
    const __m512i moved = _mm512_xor_si512(_mm512_clmulepi64_epi128(z0, lanes, 0x00),
                                           _mm512_clmulepi64_epi128(z0, lanes, 0x11));
    __m128i x = _mm_xor_si128(lane512<0>(moved), lane512<1>(moved));
    x = _mm_xor_si128(x, lane512<2>(moved));
    x = _mm_xor_si128(x, lane512<3>(z0));
    return finish128(x, p, n);
}

#endif
