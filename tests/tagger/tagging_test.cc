#include "archive_change.h"
#include "archive_job.h"
#include "fixed_paths.h"
#include "settings.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "tagging.h"
#include "unit_support.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using velmo::test::dir_entries;
using velmo::test::read_file;
using velmo::test::write_file;

const std::string kTag = "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--";

class TaggingTest : public TaggerUnitTest {
  protected:
    // Rewrites `description` and returns the bytes written.
    std::string rewrite(const std::string &description, RewriteResult *result = nullptr) {
        TempFile in_file(description);
        std::FILE *in = std::fopen(in_file.path().c_str(), "rb");
        std::FILE *out = std::tmpfile();
        RewriteResult r = rewrite_description(in, out);
        if (result)
            *result = r;
        std::fclose(in);
        std::string bytes;
        std::rewind(out);
        for (int c; (c = std::fgetc(out)) != EOF;)
            bytes += static_cast<char>(c);
        std::fclose(out);
        return bytes;
    }
    std::string tag_line(int blanks) { return std::string(blanks, ' ') + kTag + "\r\n"; }
};

TEST_F(TaggingTest, KeptLinesEndWithLfCrAndTheTagLineWithCrLf) {
    RewriteResult result;
    EXPECT_EQ(rewrite("Cool tool\r\nTiny\r\n", &result), "Cool tool\n\rTiny\n\r" + tag_line(1));
    EXPECT_EQ(result.maxwidth, 9);
    EXPECT_FALSE(result.keyword_hit);
}

TEST_F(TaggingTest, LinesOfThreeCharactersOrFewerAreLeftOut) {
    EXPECT_EQ(rewrite("ab\r\nabc\r\nabcd\r\n\r\n"), "abcd\n\r" + tag_line(1));
    EXPECT_EQ(rewrite("ab\nabc\n\n"), "abc\n\r" + tag_line(1));
    EXPECT_EQ(rewrite("abc"), tag_line(1));
    EXPECT_EQ(rewrite("abcd"), "abcd\n\r" + tag_line(1));
}

TEST_F(TaggingTest, TagLineIsCentredUnderTheWidestLine) {
    EXPECT_EQ(rewrite(std::string(72, 'w') + "\r\n"), std::string(72, 'w') + "\n\r" + tag_line(10));
    EXPECT_EQ(rewrite(std::string(72, 'w') + "\n"), std::string(72, 'w') + "\n\r" + tag_line(9));
    EXPECT_EQ(rewrite(std::string(93, 'w') + "\r\n"), std::string(93, 'w') + "\n\r" + tag_line(20));
    // Further than 20 blanks looks worse than none.
    EXPECT_EQ(rewrite(std::string(94, 'w') + "\r\n"), std::string(94, 'w') + "\n\r" + tag_line(1));
}

TEST_F(TaggingTest, EmptyDescriptionGetsOnlyTheTagLine) {
    EXPECT_EQ(rewrite(""), tag_line(1));
}

TEST_F(TaggingTest, OverlongLineIsTakenAsTwoChunks) {
    std::string longline(1100, 'x');
    std::string expected =
        std::string(1023, 'x') + "\n\r" + std::string(77, 'x') + "\n\r" + tag_line(1);
    EXPECT_EQ(rewrite(longline + "\r\n"), expected);
}

TEST_F(TaggingTest, KeywordStopsTaggingAndIsToldOnce) {
    copy_limited(settings.keywords[0], "ZORV97", kKeywordMax);
    copy_limited(settings.keywords[1], "BONUS", kKeywordMax);
    settings.keyword_count = 2;
    RewriteResult result;
    std::string bytes;
    std::string out = capture_stdout([&] {
        bytes = rewrite("First line\r\nbonus here\r\nzorv97 and bonus\r\nLast line\r\n", &result);
    });
    EXPECT_TRUE(result.keyword_hit);
    EXPECT_EQ(out, "keyword 'BONUS' found\n");
    EXPECT_EQ(bytes, "First line\n\rbonus here\n\rzorv97 and bonus\n\rLast line\n\r");
}

TEST_F(TaggingTest, DebugTraceCountsChunksAndKeywords) {
    settings.debug = 1;
    copy_limited(settings.keywords[0], "NOPE", kKeywordMax);
    settings.keyword_count = 1;
    std::string out = capture_stdout([&] { rewrite("Cool tool\r\n"); });
    EXPECT_EQ(out, " copy_and_tag() 5\n copy_and_tag() 6\n copy_and_tag() 7\n"
                   " copy_and_tag() 8\n copy_and_tag() 9\n"
                   " maxwidth = 9  strlen( diztagtext ) = 52\n spc = 0\n");
}

TEST_F(TaggingTest, OutputLiesBesideTheArchive) {
    std::string path;
    EXPECT_TRUE(description_output_path("/srv/up/a.zip", "FILE_ID.DIZ", &path));
    EXPECT_EQ(path, "/srv/up/FILE_ID.DIZ");
    EXPECT_TRUE(description_output_path("/a.zip", "file_id.diz", &path));
    EXPECT_EQ(path, "/file_id.diz");
    EXPECT_TRUE(description_output_path("a.zip", "FILE_ID.DIZ", &path));
    EXPECT_EQ(path, "a.zip/FILE_ID.DIZ");
    EXPECT_FALSE(description_output_path(("/" + std::string(1012, 'd') + "/a.zip").c_str(),
                                         "FILE_ID.DIZ", &path));
}

class CopyAndTagTest : public TaggingTest {
  protected:
    void SetUp() override {
        TaggingTest::SetUp();
        copy_limited(settings.diz_name, "FILE_ID.DIZ", kDizNameLen);
    }
    // Tags the (missing) archive `archive` from `description`, as the
    // pipeline would once the archive's directory is open.
    int tag(const std::string &archive, const TempFile &description) {
        ArchiveJob job(archive);
        job.open_directory();
        ArchiveChange change(job);
        const int fd = open(description.path().c_str(), O_RDONLY | O_CLOEXEC);
        FileSnapshot snapshot;
        EXPECT_TRUE(snapshot.take(fd, 1 << 20));
        close(fd);
        return copy_and_tag(job, change, description.path().c_str(), &snapshot);
    }
    velmo::test::TempDir temp_{"velmotag_tag_"};
    std::string dir_ = temp_.path(), archive_ = dir_ + "/a.zip";
};

TEST_F(CopyAndTagTest, UnreadableDescriptionMessageHasNoLineEnd) {
    settings.debug = 1;
    ArchiveJob job(archive_);
    ArchiveChange change(job);
    std::string out =
        capture_stdout([&] { EXPECT_EQ(copy_and_tag(job, change, "/no/diz", nullptr), 1); });
    EXPECT_EQ(out, "BEGIN copy_and_tag( " + archive_ +
                       ", /no/diz )\n copy_and_tag() 1\n"
                       " copy_and_tag() 2\nerror\nvelmotag: opening '/no/diz': Bad file "
                       "descriptorLEAVING[1] copy_and_tag( " +
                       archive_ + ", /no/diz )\n");
}

// The description goes elsewhere (this site has no zip, so nothing is
// stored); the link and its target stay, and so does nothing else.
TEST_F(CopyAndTagTest, LinkAtTheOutputPathIsNeverFollowed) {
    write_file(dir_ + "/target", "keep me");
    ASSERT_EQ(symlink((dir_ + "/target").c_str(), (dir_ + "/FILE_ID.DIZ").c_str()), 0);
    TempFile description("Cool tool\r\n");
    settings.verbose = 0;
    settings.siteop = 1;
    EXPECT_EQ(tag(archive_, description), 1);
    EXPECT_EQ(read_file(dir_ + "/target"), "keep me");
    EXPECT_EQ(dir_entries(dir_), (std::vector<std::string>{"FILE_ID.DIZ", "target"}));
}

TEST_F(CopyAndTagTest, OverlongOutputPathFailsLikeAnUncreatableFile) {
    TempFile description("Cool tool\r\n");
    std::string archive = "/" + std::string(1012, 'd') + "/a.zip";
    std::string out = capture_stdout([&] { EXPECT_EQ(tag(archive, description), 1); });
    EXPECT_EQ(out, "error\nvelmotag: opening '/" + std::string(1012, 'd') +
                       "/FILE_ID.DIZ': File name too long");
}

TEST_F(CopyAndTagTest, ChangeThatCannotBeginIsReportedNotCounted) {
    // The unit tests' site has no site files, so the archive is not changed.
    TempFile description("Cool tool\r\n");
    settings.debug = 1;
    std::string out = capture_stdout([&] { EXPECT_EQ(tag(archive_, description), 1); });
    EXPECT_NE(out.find("error!\nvelmotag: tagging '" + archive_ + "': cannot read '" +
                       std::string(CONF_DIR) +
                       "/sitetag.asc': No such file or directory\nLEAVING[7] copy_and_tag( "),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(dir_ + "/FILE_ID.DIZ"), "Cool tool\n\r" + tag_line(1));

    settings.verbose = 0;
    settings.debug = 0;
    settings.siteop = 1;
    EXPECT_EQ(tag(archive_, description), 1);
    ASSERT_EQ(logged_lines().size(), 1u);
    EXPECT_EQ(logged_lines()[0], "tagging '" + archive_ + "': cannot read '" +
                                     std::string(CONF_DIR) +
                                     "/sitetag.asc': No such file or directory");
}

} // namespace
