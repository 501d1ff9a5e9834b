// Reading blocks back, from sound blocks and from damaged ones: a header that
// claims more payload than the file holds, a negative or oversized size, a
// header cut short.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "store_test_support.h"

namespace {

struct Freed {
    void operator()(void *p) const { std::free(p); }
};
using Owned = std::unique_ptr<char, Freed>;

struct Raw {
    int32_t type, size;
    std::string payload;
};

Raw read_raw(dral_handle *h, int32_t offset) {
    Raw raw;
    void *payload = nullptr;
    dral_readraw(h, offset, &raw.type, &raw.size, &payload);
    if (payload != nullptr)
        raw.payload.assign(static_cast<char *>(payload), static_cast<size_t>(raw.size));
    std::free(payload);
    return raw;
}

TEST(DraldbBlockRead, EachReaderTakesItsKindOfBlock) {
    TempStore s;
    const int32_t text = s.add("s", 2, "Hello");
    const int32_t number = s.add("n", 3, le32(uint32_t(-2)));
    const int32_t empty = s.add("e", 2, "");
    char buffer[16];
    ASSERT_EQ(dral_readstr(s.h, text, buffer), 1);
    EXPECT_STREQ(buffer, "Hello");
    EXPECT_STREQ(Owned(dral_readstr_alloc(s.h, text)).get(), "Hello");
    EXPECT_EQ(dral_readlong(s.h, number), -2);
    EXPECT_EQ(dral_readstr(s.h, number, buffer), 0);
    EXPECT_EQ(dral_readstr(s.h, empty, buffer), 0);
    EXPECT_EQ(dral_readstr_alloc(s.h, empty), nullptr);
    const Raw raw = read_raw(s.h, number);
    EXPECT_EQ(raw.type, 3);
    EXPECT_EQ(raw.payload, le32(uint32_t(-2)));
}

TEST(DraldbDamagedBlocks, PayloadCutShortIsReadAndZeroFilledUpToTheTerminator) {
    TempStore s;
    s.add("s", 2, "abcdef");
    dral_hdr(s.h, 0, -1, 10); // claims 4 bytes more than the file holds
    char buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), 'x');
    ASSERT_EQ(dral_readstr(s.h, 0, buffer), 1);
    EXPECT_EQ(std::string(buffer, 12), std::string("abcdef") + std::string(5, '\0') + "x");
    EXPECT_STREQ(Owned(dral_readstr_alloc(s.h, 0)).get(), "abcdef");
    const Raw raw = read_raw(s.h, 0);
    EXPECT_EQ(raw.size, 6); // never more than was read
    EXPECT_EQ(raw.payload, "abcdef");
    // A header claiming 2 GiB, read with the address space held to 1 GiB:
    // works only if the readers allocate what the file holds.
    dral_hdr(s.h, 0, -1, INT32_MAX);
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = std::min<rlim_t>(old.rlim_cur, rlim_t(1) << 30);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const int32_t raw_size = read_raw(s.h, 0).size;
    const Owned copy(dral_readstr_alloc(s.h, 0));
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(raw_size, 6);
    EXPECT_STREQ(copy.get(), "abcdef");
}

TEST(DraldbDamagedBlocks, NegativeSizeFailsTheStringReads) {
    TempStore s;
    s.add("s", 2, "abc");
    dral_hdr(s.h, 0, -1, -3);
    char buffer[8] = "keep";
    EXPECT_EQ(dral_readstr(s.h, 0, buffer), 0);
    EXPECT_STREQ(buffer, "keep");
    EXPECT_EQ(dral_readstr_alloc(s.h, 0), nullptr);
    EXPECT_EQ(dral_readlong(s.h, 0), -1);
}

TEST(DraldbDamagedBlocks, ReadlongTakesAtMostFourBytes) {
    TempStore s;
    const int32_t wide = s.add("w", 3, le32(0x01020304) + le32(0x7f7f7f7f));
    const int32_t narrow = s.add("n", 3, "\x05\x01");
    EXPECT_EQ(dral_readlong(s.h, wide), 0x01020304);
    EXPECT_EQ(dral_readlong(s.h, narrow), 0x0105);
}

TEST(DraldbDamagedBlocks, UnreadableHeaderGivesMinusOneAndNoPayload) {
    TempStore s;
    s.add("s", 2, "abc");
    for (int32_t offset : {-8, 7, 11, 500}) {
        const Raw raw = read_raw(s.h, offset);
        EXPECT_EQ(raw.type, -1);
        EXPECT_EQ(raw.size, -1);
        EXPECT_EQ(dral_readlong(s.h, offset), -1);
        EXPECT_EQ(dral_readstr_alloc(s.h, offset), nullptr);
    }
}

// Every reader on a data file cut at every length: a clean failure or the
// bytes that are there, never a crash or more than the file holds.
TEST(DraldbDamagedBlocks, DataFileTruncatedAtEveryLength) {
    TempStore s;
    const int32_t offsets[] = {s.add("s", 2, "text"), s.add("n", 3, le32(77)),
                               s.add("t", 2, "more text")};
    const size_t full = s.data().size();
    for (size_t length = full; length-- > 0;) {
        std::fflush(s.h->data);
        ASSERT_EQ(ftruncate(fileno(s.h->data), static_cast<off_t>(length)), 0);
        for (int32_t offset : offsets) {
            const size_t there = length > size_t(offset) + 8 ? length - size_t(offset) - 8 : 0;
            char buffer[16];
            if (dral_readstr(s.h, offset, buffer) == 1) {
                EXPECT_LE(std::strlen(buffer), there);
            }
            if (Owned copy{dral_readstr_alloc(s.h, offset)}) {
                EXPECT_LE(std::strlen(copy.get()), there);
            }
            EXPECT_LE(read_raw(s.h, offset).payload.size(), there);
            dral_readlong(s.h, offset);
        }
    }
}

} // namespace
