// Text of a known width for tests of line lengths and limits.
#ifndef VELMO_TESTS_SUPPORT_SAMPLE_TEXT_H
#define VELMO_TESTS_SUPPORT_SAMPLE_TEXT_H

#include <cstddef>
#include <string>

namespace velmo::test {

// `width` letters a to z over and over, starting `offset` letters after a;
// no line end.
std::string text_of_width(std::size_t width, std::size_t offset = 0);

// `size` bytes that do not compress, the same for the same `seed`.
std::string random_bytes(std::size_t size, unsigned seed);

} // namespace velmo::test

#endif
