// One set of real archives (description in upper and lower case, none, a
// keyword in the listing or in the description, a missing file, a file that
// is not a ZIP, an empty ZIP, a description only in a subdirectory) run
// through the tagger in each of its modes: the whole standard output is
// pinned, and every archive is read back with unzip.
#include "e2e_support.h"

#include <algorithm>
#include <map>

namespace e2e {
namespace {

const std::string kUpDiz = "Cool tool\r\nTiny\r\n";
const std::string kUpKept = "Cool tool\n\rTiny\n\r";
const std::string kLowDiz = "Lower case\r\n";
const std::string kLowKept = "Lower case\n\r";
const std::string kKwDiz = "Nice tool\r\nalready zorv97 tagged\r\n";
const std::string kKwKept = "Nice tool\n\ralready zorv97 tagged\n\r";
const std::string kReadme = "hello\n";

const std::vector<std::string> kOrder = {"up.zip",     "low.zip",   "nodiz.zip",
                                         "kwlist.zip", "kwdiz.zip", "missing.zip",
                                         "notzip.zip", "empty.zip", "subdir.zip"};

const std::string kListing = kTmpDir + "/rt_filelist_XXXXXX";
const std::string kDescription = kTmpDir + "/rt_tmpdiz_XXXXXX";

// The trace of one archive in debug mode, built step by step in the order
// the pipeline prints it (verbose words included, since -d keeps -v on).
class Trace {
  public:
    explicit Trace(std::string archive) : a_(std::move(archive)) {}

    Trace &begin() {
        text_ += "BEGIN process_zipfile( " + a_ + " )\n" + a_ + ": ";
        return *this;
    }
    Trace &line(const std::string &word, const std::string &fn, const std::string &args) {
        text_ += word + " " + fn + "( " + args + " )\n";
        return *this;
    }
    Trace &say(const std::string &words) {
        text_ += words;
        return *this;
    }
    Trace &listed() {
        return line("BEGIN", "get_filelist", a_ + ", " + kListing)
            .line("LEAVING", "get_filelist", a_ + ", " + kListing);
    }
    Trace &scanned(const std::string &found) {
        return line("BEGIN", "get_dizname", kListing)
            .line("LEAVING", "get_dizname", kListing)
            .say(found);
    }
    Trace &extracted() {
        return line("BEGIN", "get_dizfile", a_ + ", " + kDescription)
            .line("LEAVING", "get_dizfile", a_ + ", " + kDescription);
    }
    // copy_and_tag up to its closing lines; `hit` is the chunk holding the
    // keyword (-1 for none). One keyword is configured.
    Trace &copied(int chunks, int hit) {
        line("BEGIN", "copy_and_tag", a_ + ", " + kDescription);
        say(" copy_and_tag() 1\n copy_and_tag() 2\n copy_and_tag() 4\n");
        for (int i = 0; i < chunks; ++i) {
            say(" copy_and_tag() 5\n copy_and_tag() 6\n");
            if (i == hit)
                say("keyword 'ZORV97' found\n");
            say(" copy_and_tag() 7\n");
        }
        return say(" copy_and_tag() 8\n");
    }
    Trace &tagged_with(int maxwidth, int spc) {
        return say(" copy_and_tag() 9\n maxwidth = " + std::to_string(maxwidth) +
                   "  strlen( diztagtext ) = 52\n spc = " + std::to_string(spc) +
                   "\n copy_and_tag() 10\n")
            .line("LEAVING", "copy_and_tag", a_ + ", " + kDescription);
    }
    Trace &site_files_added() {
        return line("BEGIN", "add_zorv_stuff", a_).line("LEAVING", "add_zorv_stuff", a_);
    }
    Trace &finished() { return say("done\n").line("LEAVING", "process_zipfile", a_); }
    Trace &gave_up(int exit) {
        return line("LEAVING[" + std::to_string(exit) + "]", "process_zipfile", a_);
    }
    const std::string &text() const { return text_; }

  private:
    std::string a_;
    std::string text_;
};

class EveryMode : public TaggerSite, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        TaggerSite::SetUp();
        make_zip(path("up.zip"), {{"FILE_ID.DIZ", kUpDiz}, {"readme.txt", kReadme}});
        make_zip(path("low.zip"), {{"file_id.diz", kLowDiz}, {"readme.txt", kReadme}});
        make_zip(path("nodiz.zip"), {{"readme.txt", kReadme}});
        make_zip(path("kwlist.zip"), {{"FILE_ID.DIZ", kUpDiz}, {"zorv97.nfo", kZorvInfo}});
        make_zip(path("kwdiz.zip"), {{"FILE_ID.DIZ", kKwDiz}, {"readme.txt", kReadme}});
        write_file(path("notzip.zip"), "this is not an archive\n");
        make_empty_zip(path("empty.zip"));
        make_zip(path("subdir.zip"), {{"docs/FILE_ID.DIZ", kUpDiz}, {"readme.txt", kReadme}});
        for (const std::string &name : kOrder) {
            before_[name] = read_file(path(name));
            if (name != "missing.zip")
                chown_[name] = chown_line(path(name));
        }
        keyword_line_ = listing_line_with(path("kwlist.zip"), "ZORV97");
    }

    std::string path(const std::string &name) const { return upload(name); }

    std::vector<std::string> all_archives() const {
        std::vector<std::string> args;
        for (const std::string &name : kOrder)
            args.push_back(path(name));
        return args;
    }

    std::string verbose_output() const {
        auto p = [&](const char *name) { return path(name) + ": "; };
        return p("up.zip") + "(FILE_ID.DIZ) done\n" + p("low.zip") + "(file_id.diz) done\n" +
               p("nodiz.zip") + "(no diz) done\n" + p("kwlist.zip") +
               "keyword 'ZORV97' found in '" + keyword_line_ + "'\n" + p("kwdiz.zip") +
               "(FILE_ID.DIZ) keyword 'ZORV97' found\n" + p("missing.zip") + "file not found\n" +
               p("notzip.zip") + "not a zipfile or no files in ZIP\n" + p("empty.zip") +
               "not a zipfile or no files in ZIP\n" + p("subdir.zip") + "(FILE_ID.DIZ) " +
               extract_failure() + "velmotag: 3 files tagged\n";
    }

    std::string extract_failure() const {
        return "error!\nvelmotag: extracting FILE_ID.DIZ from '" + path("subdir.zip") +
               "': unzip exit status 11 (no matching member)\n";
    }

    std::string command_output() const {
        std::string out = "velmotag: commandlines:\n";
        for (const std::string &name : kOrder) {
            std::string a = path(name);
            if (name == "missing.zip")
                continue; // not found: no command
            out += list_command(a);
            if (name == "up.zip" || name == "low.zip" || name == "kwdiz.zip" ||
                name == "subdir.zip")
                out += extract_command(a);
            if (name == "up.zip")
                out += store_command(a, path("FILE_ID.DIZ"));
            if (name == "low.zip")
                out += store_command(a, path("file_id.diz"));
            if (name == "up.zip" || name == "low.zip" || name == "nodiz.zip")
                out += comment_command(a, "sitetag.asc") + info_command(a, "zorv97.nfo");
            // Only what the run tagged gets its owner back.
            if (name == "up.zip" || name == "low.zip" || name == "nodiz.zip")
                out += "done\n" + chown_.at(name);
        }
        return out;
    }

    std::string debug_output() const {
        std::string out = "velmotag: debug mode on\nBEGIN read_datafile()\n"
                          "LEAVING read_datafile()\n";
        out += Trace(path("up.zip"))
                   .begin()
                   .listed()
                   .scanned("(FILE_ID.DIZ) ")
                   .extracted()
                   .copied(2, -1)
                   .tagged_with(9, 0)
                   .site_files_added()
                   .finished()
                   .text();
        out += Trace(path("low.zip"))
                   .begin()
                   .listed()
                   .scanned("(file_id.diz) ")
                   .extracted()
                   .copied(1, -1)
                   .tagged_with(10, 0)
                   .site_files_added()
                   .finished()
                   .text();
        out += Trace(path("nodiz.zip"))
                   .begin()
                   .listed()
                   .scanned("(no diz) ")
                   .site_files_added()
                   .finished()
                   .text();
        out += Trace(path("kwlist.zip"))
                   .begin()
                   .listed()
                   .line("BEGIN", "get_dizname", kListing)
                   .say("keyword 'ZORV97' found in '" + keyword_line_ + "'\n")
                   .line("LEAVING[2]", "get_dizname", kListing)
                   .gave_up(2)
                   .text();
        out += Trace(path("kwdiz.zip"))
                   .begin()
                   .listed()
                   .scanned("(FILE_ID.DIZ) ")
                   .extracted()
                   .copied(2, 1)
                   .say(" copy_and_tag() 10\n")
                   .line("LEAVING[3]", "copy_and_tag", path("kwdiz.zip") + ", " + kDescription)
                   .gave_up(3)
                   .text();
        std::string missing = path("missing.zip");
        out += Trace(missing)
                   .begin()
                   .line("BEGIN", "get_filelist", missing + ", " + kListing)
                   .say("file not found\n")
                   .line("LEAVING[1]", "get_filelist", missing + ", " + kListing)
                   .gave_up(1)
                   .text();
        std::string notzip = path("notzip.zip");
        out += Trace(notzip)
                   .begin()
                   .line("BEGIN", "get_filelist", notzip + ", " + kListing)
                   .say("not a zipfile or no files in ZIP\n")
                   .line("LEAVING[2]", "get_filelist", notzip + ", " + kListing)
                   .gave_up(1)
                   .text();
        std::string empty = path("empty.zip");
        out += Trace(empty)
                   .begin()
                   .line("BEGIN", "get_filelist", empty + ", " + kListing)
                   .say("not a zipfile or no files in ZIP\n")
                   .line("LEAVING[2]", "get_filelist", empty + ", " + kListing)
                   .gave_up(1)
                   .text();
        std::string subdir = path("subdir.zip");
        out += Trace(subdir)
                   .begin()
                   .listed()
                   .scanned("(FILE_ID.DIZ) ")
                   .line("BEGIN", "get_dizfile", subdir + ", " + kDescription)
                   .say(extract_failure())
                   .line("LEAVING[1]", "get_dizfile", subdir + ", " + kDescription)
                   .gave_up(5)
                   .text();
        return out + "velmotag: 3 files tagged\n";
    }

    std::string expected_output(const std::string &mode) const {
        if (mode == "-v")
            return "velmotag: verbose mode on\n" + verbose_output();
        if (mode == "-q")
            return "done\ndone\ndone\n";
        if (mode == "-c")
            return command_output();
        if (mode == "-d")
            return debug_output();
        return ""; // -s
    }

    void expect_unchanged(const std::string &name) const {
        EXPECT_EQ(read_file(path(name)), before_.at(name)) << name << " was changed";
    }

    void expect_site_files(const std::string &name, bool siteop) const {
        std::string a = path(name);
        EXPECT_EQ(zip_comment(a), kSiteComment) << name;
        EXPECT_EQ(zip_member(a, siteop ? "velmo97.nfo" : "zorv97.nfo"),
                  siteop ? kVelmoInfo : kZorvInfo)
            << name;
    }

    std::map<std::string, std::string> before_;
    std::map<std::string, std::string> chown_;
    std::string keyword_line_;
};

TEST_P(EveryMode, TagsTheArchiveSetAndPrintsExactly) {
    const std::string mode = GetParam();
    const bool siteop = mode == "-s";
    const std::string nfo = siteop ? "velmo97.nfo" : "zorv97.nfo";

    RunResult run = run_tagger([&] {
        std::vector<std::string> args{mode};
        for (const std::string &a : all_archives())
            args.push_back(a);
        return args;
    }());
    // The set holds archives that cannot be tagged: not every archive named
    // was tagged or found tagged.
    EXPECT_EQ(run.status, kNotAllTagged);
    EXPECT_EQ(mask_temp_names(run.out), expected_output(mode));
    EXPECT_EQ(run.err, "");

    // Tagged: the rewritten description, the comment and the info file.
    EXPECT_EQ(zip_names(path("up.zip")),
              (std::vector<std::string>{"FILE_ID.DIZ", "readme.txt", nfo}));
    EXPECT_EQ(zip_member(path("up.zip"), "FILE_ID.DIZ"), tagged(kUpKept));
    EXPECT_EQ(zip_member(path("up.zip"), "readme.txt"), kReadme);
    expect_site_files("up.zip", siteop);

    // siteop always writes FILE_ID.DIZ, and takes the lower-case member
    // out; the other modes keep the listing's spelling, so the lower-case
    // member is replaced. Either way one description is left.
    if (siteop) {
        EXPECT_EQ(zip_names(path("low.zip")),
                  (std::vector<std::string>{"FILE_ID.DIZ", "readme.txt", nfo}));
        EXPECT_EQ(zip_member(path("low.zip"), "FILE_ID.DIZ"), tagged(kLowKept));
    } else {
        EXPECT_EQ(zip_names(path("low.zip")),
                  (std::vector<std::string>{"file_id.diz", "readme.txt", nfo}));
        EXPECT_EQ(zip_member(path("low.zip"), "file_id.diz"), tagged(kLowKept));
        EXPECT_EQ(read_file(path("file_id.diz")), tagged(kLowKept));
    }
    expect_site_files("low.zip", siteop);

    // Unattended, an archive without a description is not tagged while no
    // keyword would know it as tagged: the one configured, ZORV97, is not in
    // velmo97.nfo, the only mark siteop mode adds to it.
    if (siteop) {
        expect_unchanged("nodiz.zip");
    } else {
        EXPECT_EQ(zip_names(path("nodiz.zip")), (std::vector<std::string>{"readme.txt", nfo}));
        expect_site_files("nodiz.zip", siteop);
    }

    // Given up: nothing written into the archive; an archive without
    // members is no archive to tag.
    for (const char *name : {"kwlist.zip", "kwdiz.zip", "notzip.zip", "empty.zip", "subdir.zip"})
        expect_unchanged(name);
    EXPECT_FALSE(path_exists(path("missing.zip")));

    // The description holding a keyword is still rewritten beside the
    // archive (last writer of FILE_ID.DIZ in this run), without a tag line.
    EXPECT_EQ(read_file(path("FILE_ID.DIZ")), kKwKept);

    std::vector<std::string> expected_entries = {"FILE_ID.DIZ", "empty.zip",  "kwdiz.zip",
                                                 "kwlist.zip",  "low.zip",    "nodiz.zip",
                                                 "notzip.zip",  "subdir.zip", "up.zip"};
    if (!siteop)
        expected_entries.push_back("file_id.diz");
    std::sort(expected_entries.begin(), expected_entries.end());
    EXPECT_EQ(dir_entries(upload_dir()), expected_entries);
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryMode, ::testing::Values("-v", "-q", "-c", "-d", "-s"),
                         mode_case_name);

} // namespace
} // namespace e2e
