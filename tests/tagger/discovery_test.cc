#include "discovery.h"
#include "settings.h"
#include "unit_support.h"

#include <string>

namespace {

class DiscoveryTest : public TaggerUnitTest {
  protected:
    int scan(const std::string &listing) {
        TempFile file(listing);
        return get_dizname(file.path().c_str());
    }
    void add_keyword(const char *word) {
        copy_limited(settings.keywords[settings.keyword_count++], word, kKeywordMax);
    }
};

constexpr char kLine[] = "      45  Stored       45   0% 2026-12-08 04:20 8a3c1f00  ";

TEST_F(DiscoveryTest, NamesTheMemberInTheListingsOwnLetterCase) {
    EXPECT_EQ(scan(""), kNoDescription);
    EXPECT_STREQ(settings.diz_name, "");
    EXPECT_EQ(scan(std::string(kLine) + "file_id.diz\n"), kHasDescription);
    EXPECT_STREQ(settings.diz_name, "file_id.diz");
    EXPECT_EQ(scan(std::string(kLine) + "FILE_ID.DIZ\n" + kLine + "File_Id.Diz\n"),
              kHasDescription);
    EXPECT_STREQ(settings.diz_name, "File_Id.Diz");
}

TEST_F(DiscoveryTest, MatchesAnywhereInTheLineButNeverAcrossChunks) {
    EXPECT_EQ(scan(std::string(kLine) + "docs/FILE_ID.DIZ\n"), kHasDescription);
    EXPECT_EQ(scan(std::string(kLine) + "MYFILE_ID.DIZZY\n"), kHasDescription);
    EXPECT_STREQ(settings.diz_name, "FILE_ID.DIZ");
    EXPECT_EQ(scan(std::string(kLine) + "FILE_ID.DI\n"), kNoDescription);
    // The 1023-byte read splits the name; neither half is a match.
    EXPECT_EQ(scan(std::string(1018, 'x') + "FILE_ID.DIZ\n"), kNoDescription);
    EXPECT_STREQ(settings.diz_name, "");
}

TEST_F(DiscoveryTest, KeywordAnywhereRejectsTheListingAndStopsReading) {
    add_keyword("ZORV97");
    std::string out = capture_stdout([&] {
        EXPECT_EQ(scan(std::string(kLine) + "zorv97.nfo\n" + kLine + "FILE_ID.DIZ\n"),
                  kListingRejected);
    });
    EXPECT_EQ(out, "keyword 'ZORV97' found in '      45  STORED       45   0% 2026-12-08 04:20 "
                   "8A3C1F00  ZORV97.NFO\n'\n");
    EXPECT_EQ(scan(std::string(kLine) + "FILE_ID.DIZ zorv97\n"), kListingRejected);
}

TEST_F(DiscoveryTest, FirstKeywordInTableOrderIsTold) {
    add_keyword("AAA");
    add_keyword("TAGGED");
    std::string out = capture_stdout([&] { scan("x tagged.nfo aaa\n"); });
    EXPECT_EQ(out, "keyword 'AAA' found in 'X TAGGED.NFO AAA\n'\n");
}

TEST_F(DiscoveryTest, TraceShowsEachExit) {
    settings.debug = 1;
    TempFile listing(std::string(kLine) + "FILE_ID.DIZ\n");
    const std::string &p = listing.path();
    std::string out = capture_stdout([&] { get_dizname(p.c_str()); });
    EXPECT_EQ(out, "BEGIN get_dizname( " + p + " )\nLEAVING get_dizname( " + p + " )\n");

    add_keyword("DIZ");
    settings.verbose = 0;
    out = capture_stdout([&] { get_dizname(p.c_str()); });
    EXPECT_EQ(out, "BEGIN get_dizname( " + p + " )\nLEAVING[2] get_dizname( " + p + " )\n");
}

TEST_F(DiscoveryTest, UnreadableListingIsReportedAndLeavesNoOldName) {
    scan("FILE_ID.DIZ\n");
    settings.debug = 1;
    std::string out =
        capture_stdout([] { EXPECT_EQ(get_dizname("/nonexistent/listing"), kListingRejected); });
    EXPECT_EQ(out, "BEGIN get_dizname( /nonexistent/listing )\n"
                   "error!\nvelmotag: opening '/nonexistent/listing': No such file or directory\n"
                   "LEAVING[1] get_dizname( /nonexistent/listing )\n");
    EXPECT_STREQ(settings.diz_name, "");
}

} // namespace
