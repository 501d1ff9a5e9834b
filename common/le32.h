// 32-bit little-endian numbers of the store files (docs/store-format.md).
//
// Every number in the index and data files is a signed 32-bit two's-complement
// value stored least significant byte first, whatever the host's own byte
// order and word size; the library and the tools turn such bytes into
// integers and back only here.
#ifndef VELMO_COMMON_LE32_H
#define VELMO_COMMON_LE32_H

#include <cstddef>
#include <cstdint>

namespace velmo {

inline constexpr std::size_t kLe32Size = 4;

// Writes value into out[0..3], least significant byte first.
// REQUIRES: out has room for kLe32Size bytes.
inline void encode_le32(std::int32_t value, unsigned char *out) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < kLe32Size; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

// Returns the value whose little-endian bytes stand in in[0..3].
// REQUIRES: in holds kLe32Size readable bytes.
inline std::int32_t decode_le32(const unsigned char *in) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kLe32Size; ++i)
        bits |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(bits); // two's complement, defined since C++20
}

} // namespace velmo

#endif
