#include "config.h"
#include "fixed_paths.h"
#include "settings.h"
#include "support/files.h"
#include "unit_support.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ConfigTest : public TaggerUnitTest {
  protected:
    void apply(std::string line) { apply_config_line(line.data(), "/conf"); }
    std::string conf_path() const { return std::string(CONF_DIR) + "/velmotag.conf"; }
    void write_conf(const std::string &text) {
        mkdir(CONF_DIR, 0755);
        velmo::test::write_file(conf_path(), text);
    }
};

TEST_F(ConfigTest, KeywordTakesFirstWordInUpperCase) {
    apply("keyword site bonus\n");
    apply("Keywords zorv97 # a comment\n");
    ASSERT_EQ(settings.keyword_count, 2);
    EXPECT_STREQ(settings.keywords[0], "SITE");
    EXPECT_STREQ(settings.keywords[1], "ZORV97");
}

TEST_F(ConfigTest, CommentsAndLinesWithoutValueChangeNothing) {
    apply("# keyword x\n");
    apply("keyword\n");
    apply("keyword   # only a comment\n");
    apply("\n");
    apply("unknown key value\n");
    EXPECT_EQ(settings.keyword_count, 0);
    EXPECT_STREQ(settings.nfo_name, "zorv97.nfo");
}

TEST_F(ConfigTest, IndentedLinesAndTabsKeepTheirValue) {
    apply("  keyword x\n");
    apply("keyword\tyz\n");
    apply("\tnfo\t other.nfo\n");
    ASSERT_EQ(settings.keyword_count, 2);
    EXPECT_STREQ(settings.keywords[0], "X");
    EXPECT_STREQ(settings.keywords[1], "YZ");
    EXPECT_STREQ(settings.nfo_name, "other.nfo");
}

TEST_F(ConfigTest, TextValuesAreSqueezedAndCutToTheirLimits) {
    apply("tagline   --==  hello   ==--\n");
    EXPECT_STREQ(settings.diztagtext, "--== hello ==--");
    apply("tagline " + std::string(60, 'x') + "\n");
    EXPECT_EQ(std::string(settings.diztagtext), std::string(52, 'x'));
    apply("NFO other.nfo\n");
    apply("comment mytag.txt\n");
    apply("nfofile a-very-long-name.nfo\n");
    EXPECT_STREQ(settings.nfo_name, "a-very-long-");
    EXPECT_STREQ(settings.comment_name, "mytag.txt");
    apply("keyword " + std::string(25, 'k') + "\n");
    EXPECT_EQ(std::string(settings.keywords[0]), std::string(20, 'K'));
}

TEST_F(ConfigTest, FortyKeywordsAtMostWithAWarningForEachMore) {
    std::string out = capture_stdout([&] {
        for (int i = 0; i < 45; ++i)
            apply("keyword k" + std::to_string(i) + "\n");
    });
    EXPECT_EQ(settings.keyword_count, 40);
    EXPECT_STREQ(settings.keywords[39], "K39");
    EXPECT_EQ(out, "WARNING: Too many keywords in /conf: 'K40' ignored!\n"
                   "WARNING: Too many keywords in /conf: 'K41' ignored!\n"
                   "WARNING: Too many keywords in /conf: 'K42' ignored!\n"
                   "WARNING: Too many keywords in /conf: 'K43' ignored!\n"
                   "WARNING: Too many keywords in /conf: 'K44' ignored!\n");
}

TEST_F(ConfigTest, ReadsTheSiteFileWithTrace) {
    write_conf("# site settings\nkeyword zorv97\ntagline -- hi --\n");
    settings.debug = 1;
    std::string out = capture_stdout([] { EXPECT_EQ(read_datafile(), 0); });
    EXPECT_EQ(out, "BEGIN read_datafile()\nLEAVING read_datafile()\n");
    EXPECT_STREQ(settings.keywords[0], "ZORV97");
    EXPECT_STREQ(settings.diztagtext, "-- hi --");
}

TEST_F(ConfigTest, MissingFileIsReportedByModeAndKeepsDefaults) {
    unlink(conf_path().c_str());
    settings.debug = 1;
    std::string out = capture_stdout([] { EXPECT_EQ(read_datafile(), 1); });
    EXPECT_EQ(out, "BEGIN read_datafile()\nerror!\nvelmotag: Error opening '" + conf_path() +
                       "': No such file or directory\nLEAVING[1] read_datafile()\n");
    EXPECT_TRUE(logged_lines().empty());

    settings.verbose = 0;
    settings.debug = 0;
    settings.siteop = 1;
    out = capture_stdout([] { read_datafile(); });
    EXPECT_EQ(out, "");
    ASSERT_EQ(logged_lines().size(), 1u);
    EXPECT_EQ(logged_lines()[0], "error opening '" + conf_path() + "': No such file or directory");
    EXPECT_STREQ(settings.diztagtext, "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--");
}

} // namespace
