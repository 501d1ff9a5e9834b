// Sizes, type codes and the end marker of the store files
// (docs/store-format.md), for the library and the store tools alike, so that
// both read and write the one layout.
#ifndef VELMO_COMMON_STORE_LAYOUT_H
#define VELMO_COMMON_STORE_LAYOUT_H

#include <cstddef>
#include <cstdint>

#include "le32.h"

namespace velmo {

// An index entry: a name of kNameSize bytes (NUL-filled when shorter), then
// the 32-bit data offset of its block.
inline constexpr std::size_t kNameSize = 8;
inline constexpr std::size_t kEntrySize = kNameSize + kLe32Size;

// A block header: the 32-bit type, then the 32-bit payload size.
inline constexpr std::size_t kBlockHeaderSize = 2 * kLe32Size;
inline constexpr std::int32_t kStringType = 2;
inline constexpr std::int32_t kNumberType = 3;

// Eight line feeds, standing where the next entry's name would.
inline constexpr unsigned char kEndMarker[kNameSize] = {'\n', '\n', '\n', '\n',
                                                        '\n', '\n', '\n', '\n'};

} // namespace velmo

#endif
