// 32-bit little-endian numbers of the store files (docs/store-format.md).
//
// Every number in the index and data files is a signed 32-bit two's-complement
// value stored least significant byte first, whatever the host's own byte
// order; these helpers are the only place where the tools turn such bytes into
// integers and back.
#ifndef VELMO_TOOLS_LE32_H
#define VELMO_TOOLS_LE32_H

#include <cstdint>

inline constexpr int kLe32Size = 4;

// Writes v into out[0..3], least significant byte first.
// REQUIRES: out has room for kLe32Size bytes.
inline void le32_encode(std::int32_t v, unsigned char *out) {
    const auto u = static_cast<std::uint32_t>(v);
    out[0] = static_cast<unsigned char>(u);
    out[1] = static_cast<unsigned char>(u >> 8);
    out[2] = static_cast<unsigned char>(u >> 16);
    out[3] = static_cast<unsigned char>(u >> 24);
}

// Returns the value whose little-endian bytes stand in in[0..3].
// REQUIRES: in holds kLe32Size readable bytes.
inline std::int32_t le32_decode(const unsigned char *in) {
    const std::uint32_t u =
        static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
        static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
    return static_cast<std::int32_t>(u); // two's complement, defined since C++20
}

#endif
