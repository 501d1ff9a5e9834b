// The working list: what dral_work puts in it and in which order, walking it
// with a cursor, and emptying it.
#include <gtest/gtest.h>

#include <vector>

#include "store_test_support.h"

namespace {

std::vector<std::string> names_in_list(dral_handle *h) {
    std::vector<std::string> names;
    dral_worknode *cursor = nullptr;
    do {
        if (dral_worknode *node = dral_workiter(h, &cursor))
            names.push_back(std::string(dral_workname(node)) + "@" +
                            std::to_string(dral_workpoint(node)));
    } while (cursor != nullptr);
    return names;
}

TEST(DraldbWorkList, NewMatchesGoInFrontInReverseIndexOrder) {
    TempStore s;
    s.add("a1", 2, "x");
    s.add("b1", 2, "x");
    s.add("a2eightch", 2, "x"); // only 8 bytes of the name are stored
    dral_work(s.h, "a*");
    dral_work(s.h, "b1");
    EXPECT_EQ(names_in_list(s.h), (std::vector<std::string>{"b1@9", "a2eightc@18", "a1@0"}));
    dral_work(s.h, "b1");
    EXPECT_EQ(names_in_list(s.h).size(), 4u); // the same entry twice
}

TEST(DraldbWorkList, CursorEndsNullAfterTheLastNodeAndStartsOverAfterThat) {
    TempStore s;
    dral_worknode *cursor = nullptr;
    EXPECT_EQ(dral_workiter(s.h, &cursor), nullptr);
    EXPECT_EQ(cursor, nullptr);
    for (const char *name : {"n1", "n2", "n3"})
        s.add(name, 2, "x");
    dral_work(s.h, "n?");
    dral_worknode *first = dral_workiter(s.h, &cursor);
    EXPECT_STREQ(dral_workname(first), "n3");
    EXPECT_STREQ(dral_workname(dral_workiter(s.h, &cursor)), "n2");
    EXPECT_STREQ(dral_workname(dral_workiter(s.h, &cursor)), "n1");
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(dral_workiter(s.h, &cursor), first);
}

TEST(DraldbWorkList, WorksearchStartsAtTheGivenNodeAndDoneEmptiesTheList) {
    TempStore s;
    s.add("k", 2, "x");
    s.add("k", 2, "y");
    dral_work(s.h, "k");
    EXPECT_EQ(dral_worksearch(s.h->work, "k"), 9);
    EXPECT_EQ(dral_worksearch(s.h->work->next, "k"), 0);
    EXPECT_EQ(dral_worksearch(nullptr, "k"), -1);
    dral_workdone(s.h);
    EXPECT_EQ(s.h->work, nullptr);
}

} // namespace
