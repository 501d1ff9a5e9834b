#include "archive_alias.h"
#include "archiver_commands.h"
#include "fixed_paths.h"
#include "settings.h"
#include "unit_support.h"

#include <string>
#include <vector>

namespace {

class ArchiverCommandsTest : public TaggerUnitTest {
  protected:
    std::string unzip = UNZIP_PATH;
    std::string zip = ZIP_PATH;
    std::string conf = CONF_DIR;
};

TEST_F(ArchiverCommandsTest, PlainPathsAreLeftUnquotedInEveryLine) {
    EXPECT_EQ(shell_command({ArchiverOp::ListContents, "/srv/up/a.zip", "/tmp/rt_filelist_ab1234"}),
              "( " + unzip + " -vqq /srv/up/a.zip > /tmp/rt_filelist_ab1234 ) 2> /dev/null");
    EXPECT_EQ(shell_command({ArchiverOp::ExtractDescription, "/srv/up/a.zip", "/tmp/rt_tmpdiz_x"}),
              unzip + " -Cqqp /srv/up/a.zip FILE_ID.DIZ > /tmp/rt_tmpdiz_x 2>&1");
    EXPECT_EQ(shell_command({ArchiverOp::StoreDescription, "/srv/up/a.zip", "/srv/up/FILE_ID.DIZ"}),
              zip + " -jqq /srv/up/a.zip /srv/up/FILE_ID.DIZ > /dev/null 2>&1");
    EXPECT_EQ(shell_command({ArchiverOp::SetComment, "/srv/up/a.zip", ""}),
              zip + " -zqq /srv/up/a.zip < " + conf + "/sitetag.asc > /dev/null 2>&1");
    EXPECT_EQ(shell_command({ArchiverOp::AddInfo, "/srv/up/a.zip", ""}),
              zip + " -jqq /srv/up/a.zip " + conf + "/zorv97.nfo  > /dev/null 2>&1");
}

TEST_F(ArchiverCommandsTest, ConfiguredSiteFilesOnlyInShellLines) {
    copy_limited(settings.nfo_name, "other.nfo", kSiteFileMax);
    copy_limited(settings.comment_name, "mytag.txt", kSiteFileMax);
    EXPECT_EQ(shell_command({ArchiverOp::AddInfo, "/a.zip", ""}),
              zip + " -jqq /a.zip " + conf + "/other.nfo  > /dev/null 2>&1");
    EXPECT_EQ(shell_command({ArchiverOp::SetComment, "/a.zip", ""}),
              zip + " -zqq /a.zip < " + conf + "/mytag.txt > /dev/null 2>&1");

    DirectStart info = direct_start({ArchiverOp::AddInfo, "/a.zip", ""});
    EXPECT_EQ(info.argv, (std::vector<std::string>{zip, "-jqq", "/a.zip", conf + "/velmo97.nfo"}));
    DirectStart comment = direct_start({ArchiverOp::SetComment, "/a.zip", ""});
    EXPECT_EQ(comment.argv, (std::vector<std::string>{zip, "-zqq", "/a.zip"}));
    EXPECT_EQ(comment.stdin_path, conf + "/sitetag.asc");
    EXPECT_EQ(comment.stdout_path, "");
}

TEST_F(ArchiverCommandsTest, DirectStartsRedirectOnlyListingAndDescription) {
    DirectStart list = direct_start({ArchiverOp::ListContents, "/a.zip", "/tmp/l"});
    EXPECT_EQ(list.argv, (std::vector<std::string>{unzip, "-vqq", "/a.zip"}));
    EXPECT_EQ(list.stdout_path, "/tmp/l");
    DirectStart extract = direct_start({ArchiverOp::ExtractDescription, "/a.zip", "/tmp/d"});
    EXPECT_EQ(extract.argv, (std::vector<std::string>{unzip, "-Cqqp", "/a.zip", "FILE_ID.DIZ"}));
    EXPECT_EQ(extract.stdout_path, "/tmp/d");
    DirectStart store = direct_start({ArchiverOp::StoreDescription, "/a.zip", "/FILE_ID.DIZ"});
    EXPECT_EQ(store.argv, (std::vector<std::string>{zip, "-jqq", "/a.zip", "/FILE_ID.DIZ"}));
    EXPECT_TRUE(store.stdin_path.empty() && store.stdout_path.empty());
}

TEST(ShellQuote, PlainCharactersStayAsTheyAre) {
    EXPECT_EQ(shell_quote("/srv/up/My_File-1.0+x,y:z@h%20=v.zip"),
              "/srv/up/My_File-1.0+x,y:z@h%20=v.zip");
}

TEST(ShellQuote, EverythingElseIsSingleQuoted) {
    EXPECT_EQ(shell_quote("/up/a b.zip"), "'/up/a b.zip'");
    EXPECT_EQ(shell_quote("/up/$(touch x);`id`|&>.zip"), "'/up/$(touch x);`id`|&>.zip'");
    EXPECT_EQ(shell_quote("/up/it's.zip"), "'/up/it'\\''s.zip'");
    EXPECT_EQ(shell_quote("/up/new\nline.zip"), "'/up/new\nline.zip'");
    EXPECT_EQ(shell_quote(""), "''");
}

TEST(UnzipWildcards, OnlyPatternCharactersNeedAPlainName) {
    for (const char *name : {"/up/*.zip", "/up/a?.zip", "/up/[ab].zip", "/up/a].zip", "/up/a\\b"})
        EXPECT_TRUE(unzip_would_expand(name)) << name;
    EXPECT_FALSE(unzip_would_expand("/up/a b;c$(d).zip"));
}

} // namespace

namespace {

TEST(ZipExtension, OnlyANameWithoutADotInItsLastPartIsExtended) {
    EXPECT_TRUE(zip_would_extend("/up/readme"));
    EXPECT_TRUE(zip_would_extend("/up.d/readme"));
    EXPECT_FALSE(zip_would_extend("/up/readme.zip"));
    EXPECT_FALSE(zip_would_extend("/up/.hidden"));
    EXPECT_FALSE(zip_would_extend("/up/trailing."));
}

} // namespace
