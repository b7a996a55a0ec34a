// The portable CRC-32 kernel, slice-by-16 over tables built by the
// compiler, and the byte-at-a-time loop over the first of them.
#include "crc32.hpp"
#include "crc32_kernels.hpp"

#include <array>

namespace {

constexpr std::uint32_t reflected_polynomial = crc32_fold::reflected_polynomial;
constexpr std::size_t slices = 16;

using slice_tables = std::array<std::array<std::uint32_t, 256>, slices>;

// Entry i of table k is the CRC register after byte i followed by k zero
// bytes, so sixteen lookups, one per byte of a block, add up to the register
// after the whole block.
constexpr slice_tables make_tables()
{
    slice_tables built{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) != 0 ? (value >> 1) ^ reflected_polynomial : value >> 1;
        }
        built[0][i] = value;
    }
    for (std::size_t k = 1; k < slices; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::uint32_t previous = built[k - 1][i];
            built[k][i] = (previous >> 8) ^ built[0][previous & 0xFFu];
        }
    }
    return built;
}

constexpr slice_tables tables = make_tables();

// Little-endian load whatever the host's byte order; compilers turn it
// into one plain load where that is the same thing.
inline std::uint32_t load_le32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t lookup(std::size_t table, std::uint32_t word, int shift)
{
    return tables[table][(word >> shift) & 0xFFu];
}

// The byte-at-a-time loop on the register.
std::uint32_t bytewise_register(std::uint32_t reg, std::span<const unsigned char> data)
{
    for (const unsigned char byte : data) {
        reg = tables[0][(reg ^ byte) & 0xFFu] ^ (reg >> 8);
    }
    return reg;
}

} // namespace

std::uint32_t crc32_slice16(std::uint32_t reg, std::span<const unsigned char> data)
{
    const unsigned char* p = data.data();
    std::size_t n = data.size();
    while (n >= slices) {
        const std::uint32_t a = load_le32(p) ^ reg;
        const std::uint32_t b = load_le32(p + 4);
        const std::uint32_t c = load_le32(p + 8);
        const std::uint32_t d = load_le32(p + 12);
        reg = lookup(15, a, 0) ^ lookup(14, a, 8) ^ lookup(13, a, 16) ^ lookup(12, a, 24) ^ lookup(11, b, 0) ^
              lookup(10, b, 8) ^ lookup(9, b, 16) ^ lookup(8, b, 24) ^ lookup(7, c, 0) ^ lookup(6, c, 8) ^
              lookup(5, c, 16) ^ lookup(4, c, 24) ^ lookup(3, d, 0) ^ lookup(2, d, 8) ^ lookup(1, d, 16) ^
              lookup(0, d, 24);
        p += slices;
        n -= slices;
    }
    return bytewise_register(reg, {p, n});
}

std::uint32_t crc32_bytewise(std::uint32_t crc, std::span<const unsigned char> data)
{
    return ~bytewise_register(~crc, data);
}
