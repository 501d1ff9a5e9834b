// Byte layout of a store's index entries and data blocks, as described in
// docs/store-format.md. Pure encode/decode, no I/O, so that readers can be
// exercised on raw bytes.
#ifndef DRALDB_STORE_FORMAT_H
#define DRALDB_STORE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace draldb {

constexpr size_t kNameSize = 8;
constexpr size_t kEntrySize = kNameSize + 4;
constexpr size_t kBlockHeaderSize = 8;
constexpr int32_t kStringType = 2;
constexpr int32_t kNumberType = 3;

// Eight line feeds, standing where the next entry's name would.
extern const unsigned char kEndMarker[kNameSize];

struct IndexEntry {
    char name[kNameSize + 1]; // bytes before the first NUL, terminated
    int32_t offset;
};

struct BlockHeader {
    int32_t type;
    int32_t size;
};

// Inline: the lookups ask this once per entry of every scan.
inline bool is_end_marker(const unsigned char *name_bytes) {
    return std::memcmp(name_bytes, "\n\n\n\n\n\n\n\n", kNameSize) == 0;
}
IndexEntry decode_entry(const unsigned char *bytes);
// Copies exactly kNameSize bytes from name8.
void encode_entry(const char *name8, int32_t offset, unsigned char *out);
BlockHeader decode_block_header(const unsigned char *bytes);
void encode_block_header(BlockHeader header, unsigned char *out);

} // namespace draldb

#endif
