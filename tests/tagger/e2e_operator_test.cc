// What an operator of an unattended tagger relies on: the exit status says
// whether every archive carries the site's mark; a siteop run without a
// working configuration changes nothing, pass after pass; every siteop run
// logs a summary; an archive ends with one description; the log says what
// went wrong in the words the verbose line uses.
#include "e2e_upload_site.h"

#include <filesystem>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const Member kReadme = {"readme.txt", "Read me.\n"};

class Operator : public UploadSite {
  protected:
    std::string make_upload(const std::string &name) {
        make_zip(upload(name), {{"FILE_ID.DIZ", kDiz}, kReadme});
        return read_file(upload(name));
    }
    static bool logged(const std::vector<std::string> &log, const std::string &line) {
        return std::find(log.begin(), log.end(), line) != log.end();
    }
};

// 0 when every archive named was tagged or carried the mark already; 2 when
// one failed (missing) or was given up (its directory busy).
TEST_F(Operator, ExitStatusSaysWhetherEveryArchiveCarriesTheMark) {
    make_upload("a.zip");
    EXPECT_EQ(run_tagger({"-s", upload("a.zip")}).status, 0);
    EXPECT_EQ(run_tagger({"-q", upload("a.zip")}).status, 0);
    EXPECT_EQ(run_tagger({"-s", upload("a.zip"), upload("missing.zip")}).status, kNotAllTagged);
    make_upload("b.zip");
    const HeldLock other_run(directory_lock_path(upload_dir()));
    EXPECT_EQ(run_tagger({"-q", upload("b.zip")}).status, kNotAllTagged);
}

// Unattended, without the configuration or with no keyword that would know
// the mark (a key misspelt), no archive is changed, whatever the number of
// passes; each pass logs why. A run by hand tags as the configuration
// allows, as it always did.
TEST_F(Operator, SiteopWithoutAWorkingConfigurationTagsNothing) {
    const std::string conf = kConfDir + "/velmotag.conf";
    const std::string a = upload("a.zip");
    const std::string before = make_upload("a.zip");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "tagging '" + a + "': '" + conf +
                 "' cannot be read (No such file or directory), and without its keywords no "
                 "later run would know the archive as tagged"},
        {"keywrd ZORV97\nkeyword OTHER\n",
         "tagging '" + a + "': no keyword in '" + conf +
             "' occurs in the tag line or in 'velmo97.nfo', so every later run would tag it "
             "again"}};
    for (const auto &[text, why] : cases) {
        fs::remove(conf);
        if (!text.empty())
            write_conf(text);
        for (int pass = 0; pass < 3; ++pass) {
            std::vector<std::string> log;
            EXPECT_EQ(run_tagger_logged({"-s", a}, &log).status, kNotAllTagged);
            EXPECT_TRUE(logged(log, "3 " + why)) << why;
            EXPECT_TRUE(logged(log, "6 tagged 0, already tagged 0, given up 1, failed 0"));
            EXPECT_EQ(read_file(a), before);
        }
    }
    EXPECT_EQ(run_tagger({"-q", a}).out, "done\n");
}

// The summary counts each outcome; a damaged archive (cut in half) and a
// directory are logged in the words of the verbose line, with the reason.
TEST_F(Operator, SiteopRunLogsItsSummaryAndPlainReasons) {
    write_conf("keyword ZORV97\nkeyword VELMO97\n");
    make_upload("tagged.zip");
    ASSERT_EQ(run_tagger({"-s", upload("tagged.zip")}).status, 0);
    make_upload("new.zip");
    const std::string whole = make_upload("cut.zip");
    write_file(upload("cut.zip"), whole.substr(0, whole.size() / 2));
    fs::create_directory(upload("dir.zip"));
    std::vector<std::string> log;
    const RunResult result = run_tagger_logged(
        {"-s", upload("tagged.zip"), upload("new.zip"), upload("cut.zip"), upload("dir.zip")},
        &log);
    EXPECT_EQ(result.status, kNotAllTagged);
    const std::string not_zip = "not a zipfile or no files in ZIP";
    EXPECT_EQ(log,
              (std::vector<std::string>{"3 listing '" + upload("cut.zip") + "': " + not_zip +
                                            " (unzip exit status 9: damaged, or not a ZIP archive)",
                                        "3 listing '" + upload("dir.zip") + "': " + not_zip +
                                            " (not a regular file)",
                                        "6 tagged 1, already tagged 1, given up 0, failed 2"}));
}

// Siteop mode stores FILE_ID.DIZ, and takes the description's other
// spelling out: one description is left, the tagged one.
TEST_F(Operator, OneDescriptionPerArchive) {
    write_conf("keyword ZORV97\nkeyword VELMO97\n");
    make_zip(upload("low.zip"), {{"file_id.diz", kDiz}, kReadme});
    EXPECT_EQ(run_tagger({"-s", upload("low.zip")}).status, 0);
    EXPECT_EQ(zip_names(upload("low.zip")),
              (std::vector<std::string>{"FILE_ID.DIZ", "readme.txt", "velmo97.nfo"}));
    EXPECT_EQ(zip_member(upload("low.zip"), "FILE_ID.DIZ"), tagged("Cool tool\n\rTiny\n\r"));
}

// A symbolic link whose target is missing is "file not found", as any
// archive that is not there.
TEST_F(Operator, DanglingLinkIsNotFound) {
    fs::create_symlink(upload("gone.zip"), upload("link.zip"));
    EXPECT_EQ(run_tagger({"-v", upload("link.zip")}).out,
              verbose_run(upload("link.zip") + ": file not found\n", 0));
}

} // namespace
} // namespace e2e
