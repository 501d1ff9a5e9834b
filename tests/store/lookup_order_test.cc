// Lookups: which entry a pattern finds through the index, the working list
// and dral_best, and how names are matched.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include "name_match.h"
#include "store_test_support.h"

namespace {

TEST(DraldbLookupOrder, IndexFindsTheFirstEntryAndTheWorkingListTheLast) {
    TempStore s;
    ASSERT_EQ(s.add("same", 2, "twelve bytes"), 0);
    ASSERT_EQ(s.add("same", 2, "second"), 20);
    EXPECT_EQ(dral_search(s.h, "same"), 0);
    EXPECT_EQ(dral_best(s.h, "same"), 0);
    dral_work(s.h, "s*");
    EXPECT_EQ(dral_best(s.h, "same"), 20);
}

TEST(DraldbLookupOrder, BestFallsBackToTheIndexForWhatTheListLacks) {
    TempStore s;
    EXPECT_EQ(dral_best(s.h, "*"), -1); // an empty index matches nothing
    s.add("one", 2, "1");
    dral_work(s.h, "one");
    const int32_t later = s.add("two", 2, "2"); // not in the list: added after dral_work
    EXPECT_EQ(dral_best(s.h, "two"), later);
    EXPECT_EQ(dral_best(s.h, "three"), -1);
}

TEST(DraldbLookupOrder, PatternsMatchTheWholeNameLineFeedsIncluded) {
    TempStore s;
    const int32_t intro = s.add("intro\n", 2, "a");
    const int32_t full = s.add("ab/c.def", 2, "b");
    const int32_t dot = s.add(".hidden", 2, "c");
    const int32_t star = s.add("x*", 2, "d");
    dral_terminate(s.h);
    const struct {
        const char *pattern;
        int32_t expected;
    } cases[] = {
        {"intro", -1},     {"intro\n", intro}, {"intro?", intro}, {"ab/c.def", full},
        {"ab/c.defg", -1}, {"ab?c*", full},    {".hid*", dot},    {"*hidden", dot},
        {"[.]*", dot},     {"x\\*", star},     {"x*", star},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dral_search(s.h, c.pattern), c.expected) << c.pattern;
}

// Literal and "prefix*" patterns skip fnmatch; they must find exactly what
// it finds.
TEST(DraldbLookupOrder, BytewisePatternsAgreeWithFnmatch) {
    const char *names[] = {"", "a", "ab", "a\n", "\n", "\xff\xfe", "abcdefgh", "A", "a b"};
    for (const char *literal : names) {
        for (const std::string &pattern : {std::string(literal), std::string(literal) + "*"}) {
            const draldb::NamePattern matcher(pattern.c_str());
            EXPECT_TRUE(matcher.compared_bytewise());
            for (const char *name : names)
                EXPECT_EQ(matcher.matches(name), fnmatch(pattern.c_str(), name, 0) == 0)
                    << pattern << " / " << name;
        }
    }
    EXPECT_FALSE(draldb::NamePattern("a**").compared_bytewise());
}

} // namespace
