#include "text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string squeezed(std::string text) {
    return squeeze_spaces(text.data());
}

TEST(SqueezeSpaces, FoldsRunsAndTrimsBothEnds) {
    EXPECT_EQ(squeezed("tagline   --==  hello   ==--\n"), "tagline --== hello ==--");
    EXPECT_EQ(squeezed("\t a \r\n\v\fb  "), "a b");
    EXPECT_EQ(squeezed("plain"), "plain");
}

TEST(SqueezeSpaces, EmptyAndAllWhiteBecomeEmpty) {
    EXPECT_EQ(squeezed(""), "");
    EXPECT_EQ(squeezed(" \t\n "), "");
}

TEST(TextHelpers, NullGivesNull) {
    EXPECT_EQ(squeeze_spaces(nullptr), nullptr);
    EXPECT_EQ(str_upper(nullptr), nullptr);
}

TEST(StrUpper, ConvertsInPlaceAndLeavesOtherBytes) {
    std::string text = "file_id.diz 97 \xe9\n";
    EXPECT_EQ(str_upper(text.data()), text.data());
    EXPECT_EQ(text, "FILE_ID.DIZ 97 \xe9\n");
}

} // namespace
