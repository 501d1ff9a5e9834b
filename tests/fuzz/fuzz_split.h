// Cuts one fuzz input into the parts a target needs, so that a single byte
// string can stand for a store's index, its data file and a pattern.
#ifndef VELMO_TESTS_FUZZ_FUZZ_SPLIT_H
#define VELMO_TESTS_FUZZ_FUZZ_SPLIT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

class FuzzSplitter {
  public:
    FuzzSplitter(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    // The next byte, or 0 once the input is used up.
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // The next `count` bytes, fewer at the end of the input.
    std::string bytes(std::size_t count) {
        count = std::min(count, size_ - pos_);
        std::string part(reinterpret_cast<const char *>(data_ + pos_), count);
        pos_ += count;
        return part;
    }

    // Whatever is left.
    std::string rest() { return bytes(size_ - pos_); }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Decodes a 32-bit little-endian number from 4 bytes.
inline std::int32_t fuzz_le32(const std::string &bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return static_cast<std::int32_t>(v);
}

#endif
