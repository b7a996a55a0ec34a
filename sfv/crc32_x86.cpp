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
// loop.
//
// One loop serves every width, written once over a vector type that knows
// its loads and folds. It keeps eight vectors in flight: a carry-less
// multiply takes several cycles to give its result, and with fewer
// independent chains the multiplier waits (on Intel more than on AMD).
// Only the three kernels and the vector operations carry target
// attributes, so the rest of the program never uses an instruction the
// processor may lack; the loop, which has none, is inlined into each
// kernel and built for that kernel's instructions.
#include "crc32_kernels.hpp"

#if defined(__x86_64__)

#include <array>
#include <cpuid.h>
#include <immintrin.h>

#define CRC32_TARGET_128 __attribute__((target("sse2,ssse3,pclmul")))
#define CRC32_TARGET_256 __attribute__((target("avx2,pclmul,vpclmulqdq")))
#define CRC32_TARGET_512 __attribute__((target("avx512f,avx2,pclmul,vpclmulqdq")))

namespace {

namespace fold = crc32_fold;

// The folding constants for a distance of `bits`, as each 128-bit lane needs
// them: x^(d+32) multiplies the low 64 bits, x^(d-32) the high. Always
// assigned to a constexpr name, so that the compiler computes them.
struct fold_pair {
    std::uint64_t low;
    std::uint64_t high;
};

constexpr fold_pair across(std::size_t bits)
{
    return {fold::x_power(static_cast<unsigned>(bits + 32)), fold::x_power(static_cast<unsigned>(bits - 32))};
}

CRC32_TARGET_128 inline __m128i load128(const unsigned char* p)
{
    // The unaligned load takes its address as a vector pointer.
    return _mm_loadu_si128(
        reinterpret_cast<const __m128i*>(p)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

CRC32_TARGET_128 inline __m128i pair128(fold_pair k)
{
    return _mm_set_epi64x(static_cast<long long>(k.high), static_cast<long long>(k.low));
}

// Returns acc * x^d + next, congruent modulo P, in 128 bits.
CRC32_TARGET_128 inline __m128i fold128(__m128i acc, __m128i constants, __m128i next)
{
    const __m128i low = _mm_clmulepi64_si128(acc, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(acc, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

// The CRC register for the data that the 128-bit block `x` stands for.
CRC32_TARGET_128 inline std::uint32_t reduce128(__m128i x)
{
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    // 128 -> 96 bits: the low half moves across 64 bits onto the high half.
    const __m128i k96_64 = _mm_set_epi64x(static_cast<long long>(fold::x64),
                                          static_cast<long long>(fold::x96));
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, k96_64, 0x00), _mm_srli_si128(x, 8));
    // 96 -> 64 bits: the low 32 bits move across 64 bits.
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k96_64, 0x10), _mm_srli_si128(x, 4));
    // Barrett: quotient q = (high 32 bits * mu) / x^32, remainder = value + q * P.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(fold::polynomial),
                                           static_cast<long long>(fold::mu));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x00);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x10);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x, q), 4)));
}

// Byte shuffles for a tail of n bytes, 1 to 15, from 16 + n and from n:
// 16 indices that move a block n bytes towards its start (bytes past its
// end read as zero), and 16 that move its first n bytes to its end.
constexpr std::array<unsigned char, 48> make_tail_shuffles()
{
    std::array<unsigned char, 48> built{};
    for (std::size_t i = 0; i < built.size(); ++i) {
        built[i] = static_cast<unsigned char>(i >= 16 && i < 32 ? i - 16 : 0x80);
    }
    return built;
}

constexpr auto tail_shuffles = make_tail_shuffles();

// Sums into `x` the data after it, `n` bytes at `p` (fewer than one vector
// of the caller's width), where the 16 bytes before p + n were read already,
// so that a block can end there without reading outside the data. Returns
// the register.
CRC32_TARGET_128 inline std::uint32_t finish128(__m128i x, const unsigned char* p, std::size_t n)
{
    constexpr fold_pair over_128 = across(128);
    const __m128i k128 = pair128(over_128);
    for (; n >= 16; p += 16, n -= 16) {
        x = fold128(x, k128, load128(p));
    }
    if (n > 0) {
        // The last 16 bytes of the whole are x's last 16 - n bytes and the
        // n of the tail; x's first n bytes, the block before them, fold
        // across 128 bits onto them. No byte goes through a table.
        const __m128i onward = load128(tail_shuffles.data() + 16 + n);
        const __m128i to_end = load128(tail_shuffles.data() + n);
        // All ones in the last n bytes, where `to_end` holds indices, not 0x80.
        const __m128i tail_mask = _mm_cmpgt_epi8(to_end, _mm_set1_epi8(-1));
        const __m128i last = _mm_or_si128(_mm_shuffle_epi8(x, onward),
                                          _mm_and_si128(load128(p + n - 16), tail_mask));
        x = fold128(_mm_shuffle_epi8(x, to_end), k128, last);
    }
    return reduce128(x);
}

// The vector operations of one width. Vectors go by reference: the loop
// that calls these has no target attributes of its own, and passing a
// vector wider than 128 bits by value to or from it would change the
// calling convention (compilers refuse).
struct vec128 {
    using type = __m128i;
    static constexpr std::size_t width = 16;
    CRC32_TARGET_128 static void constants(type& k, fold_pair pair) { k = pair128(pair); }
    CRC32_TARGET_128 static void load(type& v, const unsigned char* p) { v = load128(p); }
    // acc = acc * x^d + next, for the distance d that `k` holds.
    CRC32_TARGET_128 static void fold(type& acc, const type& k, const type& next)
    {
        acc = fold128(acc, k, next);
    }
    CRC32_TARGET_128 static void fold_load(type& acc, const type& k, const unsigned char* p)
    {
        acc = fold128(acc, k, load128(p));
    }
    CRC32_TARGET_128 static void add_register(type& v, std::uint32_t reg)
    {
        v = _mm_xor_si128(v, _mm_cvtsi32_si128(static_cast<int>(reg)));
    }
    CRC32_TARGET_128 static std::uint32_t finish(const type& v, const unsigned char* p, std::size_t n)
    {
        return finish128(v, p, n);
    }
};

CRC32_TARGET_256 inline __m256i load256(const unsigned char* p)
{
    // The unaligned load takes its address as a vector pointer.
    return _mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(p)); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

CRC32_TARGET_256 inline __m256i fold256(__m256i acc, __m256i constants, __m256i next)
{
    const __m256i low = _mm256_clmulepi64_epi128(acc, constants, 0x00);
    const __m256i high = _mm256_clmulepi64_epi128(acc, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), next);
}

struct vec256 {
    using type = __m256i;
    using narrower = vec128;
    static constexpr std::size_t width = 32;
    CRC32_TARGET_256 static void constants(type& k, fold_pair pair)
    {
        k = _mm256_broadcastsi128_si256(pair128(pair));
    }
    CRC32_TARGET_256 static void load(type& v, const unsigned char* p) { v = load256(p); }
    CRC32_TARGET_256 static void fold(type& acc, const type& k, const type& next)
    {
        acc = fold256(acc, k, next);
    }
    CRC32_TARGET_256 static void fold_load(type& acc, const type& k, const unsigned char* p)
    {
        acc = fold256(acc, k, load256(p));
    }
    CRC32_TARGET_256 static void add_register(type& v, std::uint32_t reg)
    {
        v = _mm256_xor_si256(v, _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
    }
    CRC32_TARGET_256 static std::uint32_t finish(const type& v, const unsigned char* p, std::size_t n)
    {
        // The earlier lane folds across 128 bits onto the later one.
        constexpr fold_pair over_128 = across(128);
        return finish128(fold128(_mm256_castsi256_si128(v), pair128(over_128),
                                 _mm256_extracti128_si256(v, 1)),
                         p, n);
    }
};

CRC32_TARGET_512 inline __m512i fold512(__m512i acc, __m512i constants, __m512i next)
{
    const __m512i low = _mm512_clmulepi64_epi128(acc, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(acc, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96); // three-way XOR
}

// One 128-bit lane of `z`. (The masked form: GCC 12's header for the
// unmasked one trips its own maybe-uninitialized warning, GCC bug 105593.)
template <int lane>
CRC32_TARGET_512 inline __m128i lane512(__m512i z)
{
    return _mm512_maskz_extracti32x4_epi32(0xF, z, lane);
}

struct vec512 {
    using type = __m512i;
    using narrower = vec256;
    static constexpr std::size_t width = 64;
    CRC32_TARGET_512 static void constants(type& k, fold_pair pair)
    {
        const auto low = static_cast<long long>(pair.low);
        const auto high = static_cast<long long>(pair.high);
        k = _mm512_set_epi64(high, low, high, low, high, low, high, low);
    }
    CRC32_TARGET_512 static void load(type& v, const unsigned char* p) { v = _mm512_loadu_si512(p); }
    CRC32_TARGET_512 static void fold(type& acc, const type& k, const type& next)
    {
        acc = fold512(acc, k, next);
    }
    CRC32_TARGET_512 static void fold_load(type& acc, const type& k, const unsigned char* p)
    {
        acc = fold512(acc, k, _mm512_loadu_si512(p));
    }
    CRC32_TARGET_512 static void add_register(type& v, std::uint32_t reg)
    {
        v = _mm512_xor_si512(v, _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg))));
    }
    CRC32_TARGET_512 static std::uint32_t finish(const type& v, const unsigned char* p, std::size_t n)
    {
        // Lanes 0, 1 and 2 fold across 384, 256 and 128 bits onto lane 3 in
        // one multiplication each; lane 3's constants are zero.
        constexpr fold_pair k384 = across(384);
        constexpr fold_pair k256 = across(256);
        constexpr fold_pair k128 = across(128);
        const __m512i lanes = _mm512_set_epi64(0, 0, static_cast<long long>(k128.high),
                                               static_cast<long long>(k128.low),
                                               static_cast<long long>(k256.high),
                                               static_cast<long long>(k256.low),
                                               static_cast<long long>(k384.high),
                                               static_cast<long long>(k384.low));
        const __m512i moved = _mm512_xor_si512(_mm512_clmulepi64_epi128(v, lanes, 0x00),
                                               _mm512_clmulepi64_epi128(v, lanes, 0x11));
        __m128i x = _mm_xor_si128(lane512<0>(moved), lane512<1>(moved));
        x = _mm_xor_si128(x, lane512<2>(moved));
        return finish128(_mm_xor_si128(x, lane512<3>(v)), p, n);
    }
};

// Inputs shorter than the 128-bit loop's stride: one accumulator, 16 bytes
// a step; below `short_fold_minimum` bytes, the table kernel.
constexpr std::size_t short_fold_minimum = 20;

CRC32_TARGET_128 std::uint32_t short_register(std::uint32_t reg, const unsigned char* p, std::size_t n)
{
    if (n < short_fold_minimum) {
        return crc32_slice16(reg, {p, n});
    }
    __m128i x = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    return finish128(x, p + 16, n - 16);
}

// The register after `n` bytes at `p`, eight vectors of V at a time; a
// shorter input goes to the next narrower width.
template <typename V>
[[gnu::always_inline]] inline std::uint32_t fold_register(std::uint32_t reg, const unsigned char* p,
                                                          std::size_t n)
{
    constexpr std::size_t lanes = 8;
    constexpr std::size_t w = V::width;
    constexpr std::size_t stride = lanes * w;
    if (n < stride) {
        if constexpr (w == 16) {
            return short_register(reg, p, n);
        } else {
            return fold_register<typename V::narrower>(reg, p, n);
        }
    }
    // Written out rather than looped: GCC then keeps all eight in
    // registers at every optimisation level.
    typename V::type acc[lanes];
    V::load(acc[0], p);
    V::load(acc[1], p + w);
    V::load(acc[2], p + 2 * w);
    V::load(acc[3], p + 3 * w);
    V::load(acc[4], p + 4 * w);
    V::load(acc[5], p + 5 * w);
    V::load(acc[6], p + 6 * w);
    V::load(acc[7], p + 7 * w);
    V::add_register(acc[0], reg);
    p += stride;
    n -= stride;

    constexpr std::size_t vector_bits = 8 * w;
    constexpr fold_pair over_stride = across(lanes * vector_bits);
    constexpr fold_pair over_4 = across(4 * vector_bits);
    constexpr fold_pair over_2 = across(2 * vector_bits);
    constexpr fold_pair over_1 = across(vector_bits);
    typename V::type k;
    V::constants(k, over_stride);
    for (; n >= stride; p += stride, n -= stride) {
        V::fold_load(acc[0], k, p);
        V::fold_load(acc[1], k, p + w);
        V::fold_load(acc[2], k, p + 2 * w);
        V::fold_load(acc[3], k, p + 3 * w);
        V::fold_load(acc[4], k, p + 4 * w);
        V::fold_load(acc[5], k, p + 5 * w);
        V::fold_load(acc[6], k, p + 6 * w);
        V::fold_load(acc[7], k, p + 7 * w);
    }
    // Halve the accumulators three times: each of the first half folds
    // onto its partner as far ahead as the second half reaches.
    V::constants(k, over_4);
    V::fold(acc[0], k, acc[4]);
    V::fold(acc[1], k, acc[5]);
    V::fold(acc[2], k, acc[6]);
    V::fold(acc[3], k, acc[7]);
    V::constants(k, over_2);
    V::fold(acc[0], k, acc[2]);
    V::fold(acc[1], k, acc[3]);
    V::constants(k, over_1);
    V::fold(acc[0], k, acc[1]);
    for (; n >= w; p += w, n -= w) {
        V::fold_load(acc[0], k, p);
    }
    return V::finish(acc[0], p, n);
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
    // Every processor with PCLMULQDQ has SSSE3 too; the tail's byte
    // shuffles need it, so it is asked for all the same.
    features.pclmul = (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSSE3) != 0;
    const bool osxsave = (ecx & bit_OSXSAVE) != 0;
    const bool avx = (ecx & bit_AVX) != 0;
    if (!features.pclmul || !osxsave || !avx || __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
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

// Each kernel is its vector width's loop, built for the width's
// instructions with everything it calls inlined.
[[gnu::flatten]] CRC32_TARGET_128 std::uint32_t crc32_pclmul(std::uint32_t reg,
                                                             std::span<const unsigned char> data)
{
    return fold_register<vec128>(reg, data.data(), data.size());
}

[[gnu::flatten]] CRC32_TARGET_256 std::uint32_t crc32_vpclmul256(std::uint32_t reg,
                                                                 std::span<const unsigned char> data)
{
    return fold_register<vec256>(reg, data.data(), data.size());
}

[[gnu::flatten]] CRC32_TARGET_512 std::uint32_t crc32_vpclmul512(std::uint32_t reg,
                                                                 std::span<const unsigned char> data)
{
    return fold_register<vec512>(reg, data.data(), data.size());
}

#endif
