// Byte layout of a store's index entries and data blocks, as described in
// docs/store-format.md. Pure encode/decode, no I/O, so that readers can be
// exercised on raw bytes.
#ifndef VELMO_STORE_STORE_FORMAT_H
#define VELMO_STORE_STORE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store_layout.h"

namespace draldb {

using velmo::kBlockHeaderSize;
using velmo::kEndMarker;
using velmo::kEntrySize;
using velmo::kNameSize;
using velmo::kNumberType;
using velmo::kStringType;

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
    return std::memcmp(name_bytes, kEndMarker, kNameSize) == 0;
}
IndexEntry decode_entry(const unsigned char *bytes);
// Copies exactly kNameSize bytes from name8.
void encode_entry(const char *name8, int32_t offset, unsigned char *out);
BlockHeader decode_block_header(const unsigned char *bytes);
void encode_block_header(BlockHeader header, unsigned char *out);

} // namespace draldb

#endif
