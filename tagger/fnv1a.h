// FNV-1a, 64 bits: the tagger's one hash, for the names of lock files and
// the checksums of its records. Stable across runs, builds and hosts, and
// enough to tell the names of one directory apart; not meant to resist
// anyone, since only the tagger's own user writes what it hashes.
#ifndef VELMO_TAGGER_FNV1A_H
#define VELMO_TAGGER_FNV1A_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

inline constexpr std::uint64_t kFnv1a64Start = 14695981039346656037ULL;

// The hash of `bytes`; given the hash of bytes before them as `hash`, the
// hash of the two together.
inline std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t hash = kFnv1a64Start) {
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

// The hash as 16 lower-case hex digits.
inline std::string fnv1a64_hex(std::string_view bytes) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a64(bytes)));
    return hex;
}

#endif
