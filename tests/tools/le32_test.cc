#include "le32.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

struct Case {
    std::int32_t value;
    unsigned char bytes[velmo::kLe32Size];
};

TEST(Le32, EncodesAndDecodesLeastSignificantByteFirst) {
    const Case cases[] = {{0, {0, 0, 0, 0}},
                          {6, {6, 0, 0, 0}},
                          {0x04030201, {1, 2, 3, 4}},
                          {-1, {0xff, 0xff, 0xff, 0xff}},
                          {INT32_MAX, {0xff, 0xff, 0xff, 0x7f}},
                          {INT32_MIN, {0, 0, 0, 0x80}}};
    for (const Case &c : cases) {
        unsigned char out[velmo::kLe32Size] = {};
        velmo::encode_le32(c.value, out);
        EXPECT_EQ(0, std::memcmp(out, c.bytes, velmo::kLe32Size)) << c.value;
        EXPECT_EQ(velmo::decode_le32(c.bytes), c.value);
    }
}

} // namespace
