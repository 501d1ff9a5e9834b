// Fuzz input as a read-only stdio stream, for code that reads through FILE *.
#ifndef VELMO_TESTS_FUZZ_FUZZ_INPUT_H
#define VELMO_TESTS_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Returns a stream over the bytes (an empty stream for no bytes), or null.
// The caller closes it; the bytes must outlive it.
inline std::FILE *open_input(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return std::fopen("/dev/null", "rb");
    return fmemopen(const_cast<std::uint8_t *>(data), size, "rb");
}

// A stream that takes and drops whatever is written to it.
inline std::FILE *sink_stream() {
    static std::FILE *sink = std::fopen("/dev/null", "wb");
    return sink;
}

#endif
