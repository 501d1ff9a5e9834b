// Field records: keys built from identifier and field name, values written in
// place and read back, and rewrites that would overwrite the next block.
#include <gtest/gtest.h>

#include "store_test_support.h"

namespace {

TEST(DraldbFields, KeyJoinsCutIdentifierAndFieldName) {
    TempStore s;
    add_field(s.h, "00035", "nam");
    add_field(s.h, "123", "abcd");
    add_field(s.h, "1234567", "x");
    dral_terminate(s.h);
    EXPECT_EQ(s.index(), "00035nam" + le32(0) + name8("123abc") + le32(0) + name8("12345x") +
                             le32(0) + std::string(8, '\n'));
    EXPECT_STREQ(dbuid("00035nam"), "00035");
    EXPECT_STREQ(dbfield("00035nam"), "nam");
    EXPECT_STREQ(dbuid("123"), "123");
    EXPECT_STREQ(dbfield("123"), "");
    EXPECT_STREQ(dbfield("123456"), "6");
}

TEST(DraldbFields, StringAndNumberValuesRoundTrip) {
    TempStore s;
    ASSERT_EQ(add_field(s.h, "00035", "nam"), 0);
    EXPECT_EQ(set_strfield(s.h, "00035", "nam", "alice", 5), 5);
    ASSERT_EQ(add_field(s.h, "00035", "age"), 13);
    EXPECT_EQ(set_longfield(s.h, "00035", "age", -2), 4);
    EXPECT_EQ(s.data(), le32(2) + le32(5) + "alice" + le32(3) + le32(4) + "\xFE\xFF\xFF\xFF");
    char buffer[8];
    ASSERT_EQ(get_strfield(s.h, "00035", "na", buffer), 1); // "00035na*" finds nam
    EXPECT_STREQ(buffer, "alice");
    EXPECT_EQ(get_longfield(s.h, "00035", "age"), -2);
    EXPECT_EQ(get_strfield(s.h, "00035", "age", buffer), 0);
}

TEST(DraldbFields, MissingFieldWritesNothingAndReadsAsNothing) {
    TempStore s;
    char buffer[8] = "keep";
    EXPECT_EQ(set_strfield(s.h, "00001", "nam", "x", 1), 0);
    EXPECT_EQ(set_longfield(s.h, "00001", "age", 1), 0);
    EXPECT_EQ(get_strfield(s.h, "00001", "nam", buffer), 0);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(get_longfield(s.h, "00001", "age"), -1);
    EXPECT_EQ(s.data(), "");
}

// Mended: a longer value written in place used to run over the next block.
TEST(DraldbFields, RewriteMayNotOutgrowABlockThatIsFollowed) {
    TempStore s;
    add_field(s.h, "00001", "nam");
    set_strfield(s.h, "00001", "nam", "bob", 3);
    add_field(s.h, "00001", "age");
    set_longfield(s.h, "00001", "age", 40);
    const std::string before = s.data();
    EXPECT_EQ(set_strfield(s.h, "00001", "nam", "robert", 6), 0);
    EXPECT_EQ(set_strfield(s.h, "00001", "nam", "bob", -1), 0);
    EXPECT_EQ(s.data(), before);
    EXPECT_EQ(set_strfield(s.h, "00001", "nam", "al", 2), 2);            // shorter fits
    EXPECT_EQ(set_strfield(s.h, "00001", "age", "a long text", 11), 11); // last block may grow
    EXPECT_EQ(s.data().size(), 11u + 8 + 11);
}

} // namespace
