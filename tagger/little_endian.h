// Numbers stored least significant byte first, of 1 to 8 bytes: in ZIP
// archives, and in the tagger's own mark record.
#ifndef VELMO_TAGGER_LITTLE_ENDIAN_H
#define VELMO_TAGGER_LITTLE_ENDIAN_H

#include <cstddef>
#include <cstdint>
#include <string>

// The number in the `n` bytes at `bytes`.
inline std::uint64_t read_le(const unsigned char *bytes, std::size_t n) {
    std::uint64_t value = 0;
    for (std::size_t i = n; i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// Appends the low `n` bytes of `value` to `out`.
inline void append_le(std::string *out, std::uint64_t value, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out->push_back(static_cast<char>(value >> (8 * i)));
}

#endif
