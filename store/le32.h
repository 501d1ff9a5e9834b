// Encoding of the store's 32-bit signed little-endian numbers, independent of
// the host's byte order and word size.
#ifndef DRALDB_LE32_H
#define DRALDB_LE32_H

#include <cstdint>

namespace draldb {

inline void encode_le32(int32_t value, unsigned char *out) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(bits >> (8 * i));
}

inline int32_t decode_le32(const unsigned char *in) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(in[i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

} // namespace draldb

#endif
