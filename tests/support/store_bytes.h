// The bytes of a store's files as the tests spell them out, on their own
// rather than through the library's layout, so that a change of the layout
// shows as a failed test.
#ifndef VELMO_TESTS_SUPPORT_STORE_BYTES_H
#define VELMO_TESTS_SUPPORT_STORE_BYTES_H

#include <cstdint>
#include <string>

namespace velmo::test {

// A 4-byte little-endian field.
inline std::string le32(std::uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// The eight line feeds that end an index.
inline const std::string kEndMarkerBytes(8, '\n');

} // namespace velmo::test

#endif
