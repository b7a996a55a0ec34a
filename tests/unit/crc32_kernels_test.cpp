// Each CRC-32 kernel, called directly, against the byte-wise loop (a kernel
// this processor cannot run is skipped); and the folding constants
// recomputed from the polynomial.
#include "crc32.hpp"
#include "crc32_kernels.hpp"
#include "harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#if defined(__aarch64__)
#include <sys/auxv.h>
#endif

namespace {

// x^n mod P(x) in the normal (unreflected) bit order, one shift at a time:
// deliberately the slowest, plainest way, sharing nothing with the kernels.
std::uint32_t x_power_mod_p(unsigned n)
{
    constexpr std::uint32_t normal_polynomial = 0x04C11DB7u; // P(x) without its x^32 term
    std::uint32_t remainder = 1;
    for (unsigned i = 0; i < n; ++i) {
        const bool carry = (remainder & 0x80000000u) != 0;
        remainder <<= 1;
        if (carry) {
            remainder ^= normal_polynomial;
        }
    }
    return remainder;
}

std::uint64_t reflect(std::uint64_t value, int bits)
{
    std::uint64_t result = 0;
    for (int i = 0; i < bits; ++i) {
        if (((value >> i) & 1u) != 0) {
            result |= std::uint64_t{1} << (bits - 1 - i);
        }
    }
    return result;
}

// floor(x^64 / P(x)) by long division, unreflected: 33 bits.
std::uint64_t x64_div_p()
{
    constexpr std::uint64_t full_polynomial = 0x104C11DB7u;
    // The first step, at x^32 of the quotient, is taken by hand: x^64 does
    // not fit in 64 bits, but what remains after subtracting P(x) * x^32 does.
    std::uint64_t quotient = std::uint64_t{1} << 32;
    std::uint64_t remainder = (full_polynomial ^ (std::uint64_t{1} << 32)) << 32;
    for (int i = 31; i >= 0; --i) {
        if (((remainder >> (32 + i)) & 1u) != 0) {
            quotient |= std::uint64_t{1} << i;
            remainder ^= full_polynomial << i;
        }
    }
    return quotient;
}

} // namespace

// Each kernel built for this architecture, one test per kernel and check;
// a kernel this processor cannot run shows as skipped, not as passed.
class crc32_kernel_test : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override
    {
        if (!kernel().available()) {
            GTEST_SKIP() << "kernel " << kernel().name << " not supported by this processor";
        }
    }
    static const crc32_kernel& kernel() { return crc32_kernels()[GetParam()]; }
};

INSTANTIATE_TEST_SUITE_P(crc32_kernels, crc32_kernel_test, ::testing::Range<std::size_t>(0, crc32_kernels().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& index) {
                             return std::string(crc32_kernels()[index.param].name);
                         });

TEST_P(crc32_kernel_test, check_value)
{
    const std::string_view digits = "123456789";
    const std::span<const unsigned char> data(reinterpret_cast<const unsigned char*>(digits.data()), digits.size());
    EXPECT_EQ(kernel().update(0, data), 0xCBF43926u);
    EXPECT_EQ(kernel().update(0, {}), 0u);
}

TEST_P(crc32_kernel_test, every_length_and_alignment_matches_bytewise)
{
    constexpr std::size_t max_offset = 63;
    // Every length to 1024, then lengths around two to four strides of the
    // widest loop (eight 64-byte vectors): its main loop once more, then
    // each of its shorter steps (64 bytes, 16 bytes, a tail of 1 to 15).
    std::vector<std::size_t> lengths(1025);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.insert(lengths.end(), {1025, 1039, 1087, 1535, 1536, 1537, 1551, 2047, 2048, 2049});
    const std::vector<unsigned char> buffer = random_bytes(lengths.back() + max_offset, 1);
    int failures = 0;
    for (std::size_t offset = 0; offset <= max_offset && failures < 10; ++offset) {
        for (const std::size_t length : lengths) {
            const std::span<const unsigned char> data = std::span(buffer).subspan(offset, length);
            const std::uint32_t got = kernel().update(0x12345678u, data);
            const std::uint32_t want = crc32_bytewise(0x12345678u, data);
            if (got != want) {
                ADD_FAILURE() << "offset " << offset << " length " << length << std::hex << ": got " << got << ", want "
                              << want;
                ++failures;
            }
        }
    }
}

TEST_P(crc32_kernel_test, random_splits_through_the_running_value)
{
    const std::vector<unsigned char> buffer = random_bytes(300'000, 2);
    const std::uint32_t whole = crc32_bytewise(0, buffer);
    std::mt19937 engine(3);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        // Pieces from empty to tens of KiB, so each kernel starts and ends
        // mid-stride and crosses every threshold of its own.
        const std::size_t max_piece = round % 2 == 0 ? 600 : 70'000;
        std::uniform_int_distribution<std::size_t> piece(0, max_piece);
        std::uint32_t crc = 0;
        std::size_t at = 0;
        while (at < buffer.size()) {
            const std::size_t take = std::min(piece(engine), buffer.size() - at);
            crc = kernel().update(crc, std::span(buffer).subspan(at, take));
            at += take;
        }
        EXPECT_EQ(crc, whole);
    }
}

TEST_P(crc32_kernel_test, random_buffers_up_to_a_few_mib)
{
    std::mt19937 engine(4);
    std::uniform_int_distribution<std::size_t> size(0, 4u << 20);
    for (int round = 0; round < 4; ++round) {
        const std::size_t length = round == 0 ? (4u << 20) + 13 : size(engine);
        SCOPED_TRACE(length);
        const std::vector<unsigned char> buffer = random_bytes(length, 5 + static_cast<std::uint32_t>(round));
        const auto seed = static_cast<std::uint32_t>(engine());
        EXPECT_EQ(kernel().update(seed, buffer), crc32_bytewise(seed, buffer));
    }
}

namespace {

// The kernel this processor should get, asked of the compiler's own CPU
// detection rather than of the kernels' feature queries. Its AVX2 and
// AVX-512F answers already include the OS's saving of YMM and ZMM state.
const char* fastest_kernel_by_compiler()
{
#if defined(__x86_64__)
    // An int with g++, a bool with clang++.
    const bool vpclmul = static_cast<bool>(__builtin_cpu_supports("vpclmulqdq")) &&
                         static_cast<bool>(__builtin_cpu_supports("avx2"));
    if (vpclmul && static_cast<bool>(__builtin_cpu_supports("avx512f"))) {
        return "vpclmul512";
    }
    if (vpclmul) {
        return "vpclmul256";
    }
    if (static_cast<bool>(__builtin_cpu_supports("pclmul"))) {
        return "pclmul";
    }
#elif defined(__aarch64__)
    const unsigned long hwcap = ::getauxval(AT_HWCAP);
    if ((hwcap & crc32_hwcap_pmull) != 0) {
        return "arm_pmull";
    }
    if ((hwcap & crc32_hwcap_crc32) != 0) {
        return "arm_crc";
    }
#endif
    return "slice16";
}

} // namespace

// A slower kernel gives the same CRCs, so only the choice itself shows a
// detection that picks too low (or too high: that one would crash).
TEST(crc32_kernels, update_uses_the_fastest_kernel_this_processor_runs)
{
    const std::vector<unsigned char> buffer = random_bytes(100'000, 6);
    EXPECT_EQ(crc32_update(7, buffer), crc32_bytewise(7, buffer));
    ASSERT_FALSE(crc32_kernels().empty());
    EXPECT_TRUE(crc32_kernels().back().available());

    const auto first_available = std::find_if(crc32_kernels().begin(), crc32_kernels().end(),
                                              [](const crc32_kernel& kernel) { return kernel.available(); });
    ASSERT_NE(first_available, crc32_kernels().end());
    EXPECT_STREQ(crc32_active_kernel().name, first_available->name);
    EXPECT_STREQ(crc32_active_kernel().name, fastest_kernel_by_compiler());
}

TEST(crc32_fold_constants, match_the_polynomial)
{
    for (const crc32_fold::power_constant& constant : crc32_fold::powers) {
        SCOPED_TRACE(constant.exponent);
        const std::uint64_t want = reflect(x_power_mod_p(constant.exponent), 32) << 1;
        EXPECT_EQ(constant.value, want) << std::hex << "got 0x" << constant.value << ", want 0x" << want;
    }
    EXPECT_EQ(crc32_fold::mu, reflect(x64_div_p(), 33));
    EXPECT_EQ(crc32_fold::polynomial, reflect(0x104C11DB7u, 33));
}

TEST(crc32_fold_constants, published_values_agree_with_the_generator)
{
    // The published constants for this polynomial, k1 to k6, mu and P':
    // if the generator above disagreed with them, it would be wrong too.
    struct published {
        unsigned exponent;
        std::uint64_t value;
    };
    constexpr published table[] = {
        {544, 0x154442BD4}, {480, 0x1C6E41596}, {160, 0x1751997D0},
        {96, 0x0CCAA009E},  {64, 0x163CD6124},  {32, 0x1DB710640},
    };
    for (const published& row : table) {
        SCOPED_TRACE(row.exponent);
        EXPECT_EQ(reflect(x_power_mod_p(row.exponent), 32) << 1, row.value);
    }
    EXPECT_EQ(reflect(x64_div_p(), 33), 0x1F7011641u);
    EXPECT_EQ(reflect(0x104C11DB7u, 33), 0x1DB710641u);
}
