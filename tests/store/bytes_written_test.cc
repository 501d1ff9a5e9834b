// The bytes the library writes: index entries, the end marker, block headers
// and payloads, byte for byte as docs/store-format.md lays them out.
#include <climits>
#include <gtest/gtest.h>

#include "le32.h"
#include "store_format.h"
#include "store_test_support.h"

namespace {

const std::string kMarker(8, '\n');

TEST(DraldbLe32, EncodesLittleEndianWhateverTheHost) {
    unsigned char bytes[4];
    velmo::encode_le32(-2, bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 4), "\xFE\xFF\xFF\xFF");
    for (int32_t v : {0, 1, 0x12345678, INT32_MAX, INT32_MIN, -1}) {
        velmo::encode_le32(v, bytes);
        EXPECT_EQ(velmo::decode_le32(bytes), v);
    }
}

TEST(DraldbBytesWritten, OpenEmptiesAnExistingStoreAndTerminateWritesOnlyTheMarker) {
    TempStore s;
    s.add("old", 2, "payload");
    dral_terminate(s.h);
    dral_close(s.h);
    s.h = dral_open(s.path.c_str());
    ASSERT_NE(s.h, nullptr);
    EXPECT_EQ(s.index(), "");
    EXPECT_EQ(s.data(), "");
    dral_terminate(s.h);
    EXPECT_EQ(s.index(), kMarker);
    EXPECT_EQ(s.data(), "");
}

TEST(DraldbBytesWritten, EntriesBlocksAndMarkerFollowTheLayout) {
    TempStore s;
    EXPECT_EQ(s.add("intro\n", 2, "Hello\n"), 0);
    EXPECT_EQ(s.add("eightchr", 3, le32(7)), 14);
    dral_terminate(s.h);
    EXPECT_EQ(s.index(), name8("intro\n") + le32(0) + "eightchr" + le32(14) + kMarker);
    EXPECT_EQ(s.data(), le32(2) + le32(6) + "Hello\n" + le32(3) + le32(4) + le32(7));
}

TEST(DraldbBytesWritten, MarkerIsRewrittenInPlaceAndOverwrittenByTheNextEntry) {
    TempStore s;
    s.add("a", 2, "x");
    dral_terminate(s.h);
    dral_terminate(s.h);
    EXPECT_EQ(s.index().size(), 12u + 8u);
    s.add("b", 2, "y");
    EXPECT_EQ(s.index(), name8("a") + le32(0) + name8("b") + le32(9));
    EXPECT_EQ(dral_search(s.h, "b"), 9); // found without an end marker
}

TEST(DraldbBytesWritten, HdrRewritesOnlyTheFieldsNotGivenAsMinusOne) {
    TempStore s;
    s.add("a", 2, "abc");
    dral_hdr(s.h, 0, -1, 2);
    EXPECT_EQ(s.data(), le32(2) + le32(2) + "abc");
    dral_hdr(s.h, 0, 5, -1);
    EXPECT_EQ(s.data(), le32(5) + le32(2) + "abc");
}

// Mended: a negative offset used to be handed to the seek unexamined, so the
// block landed wherever the stream stood; a negative size read past the payload.
TEST(DraldbBytesWritten, WriteRefusesNegativeOffsetsAndSizes) {
    TempStore s;
    s.add("a", 2, "abc");
    EXPECT_EQ(dral_write(s.h, -1, 2, 1, "z"), 0);
    EXPECT_EQ(dral_write(s.h, 0, 2, -5, "z"), 0);
    dral_hdr(s.h, -4, -1, 9);
    EXPECT_EQ(s.data(), le32(2) + le32(3) + "abc");
}

// Mended: offsets past 2^31 - 1 cannot be stored, so no entry is added.
TEST(DraldbBytesWritten, AddrecRefusesOnceTheDataFileOutgrowsSignedOffsets) {
    TempStore s;
    s.add("a", 2, "x");
    ASSERT_EQ(fseeko(s.h->data, INT32_MAX, SEEK_SET), 0); // a sparse file of 2^31 bytes
    ASSERT_NE(std::fputc('z', s.h->data), EOF);
    EXPECT_EQ(dral_addrec(s.h, name8("b").data()), -1);
    dral_terminate(s.h);
    EXPECT_EQ(s.index(), name8("a") + le32(0) + kMarker);
}

} // namespace
