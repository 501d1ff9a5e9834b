#include "store_format.h"

#include <cstring>

#include "le32.h"

namespace draldb {

using velmo::decode_le32;
using velmo::encode_le32;
using velmo::kLe32Size;

IndexEntry decode_entry(const unsigned char *bytes) {
    IndexEntry entry{};
    // A full 8-byte name has no terminator on disk; entry.name adds one.
    std::memcpy(entry.name, bytes, kNameSize);
    entry.offset = decode_le32(bytes + kNameSize);
    return entry;
}

void encode_entry(const char *name8, int32_t offset, unsigned char *out) {
    std::memcpy(out, name8, kNameSize);
    encode_le32(offset, out + kNameSize);
}

BlockHeader decode_block_header(const unsigned char *bytes) {
    return BlockHeader{decode_le32(bytes), decode_le32(bytes + kLe32Size)};
}

void encode_block_header(BlockHeader header, unsigned char *out) {
    encode_le32(header.type, out);
    encode_le32(header.size, out + kLe32Size);
}

} // namespace draldb
