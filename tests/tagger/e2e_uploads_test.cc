// Hostile uploads on real archives: names with the shell characters the
// other name tests leave out, files planted where the rewritten description
// goes, damaged or odd archives and descriptions. Each case pins the
// messages, the count and the exit status; the run itself (UploadSite::run)
// proves that nothing outside the named archives and their descriptions
// changed and that no smuggled command left its canary.
#include "e2e_upload_site.h"
#include "support/sample_text.h"

#include <filesystem>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;
using std::string_literals::operator""s;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kStored = tagged("Cool tool\n\rTiny\n\r");
const Member kReadme{"readme.txt", "hello\n"};

// Shell characters not covered by the other name tests: < { } ~ # ! \ and
// a lone [ or ], tabs and runs of blanks, names zip or unzip might read as
// something else (no extension, a trailing dot, a leading dot). Where the
// shell could act on a name, the name would leave CANARY or CANARY.zip in
// the working directory.
const std::vector<std::string> kNames = {
    "rw<>CANARY.zip",
    "brace{touch,CANARY}.zip",
    "~tilde.zip",
    "hash #touch CANARY.zip",
    "bang!touch CANARY.zip",
    "back\\slash.zip",
    "open[.zip",
    "close].zip",
    "tab\tname.zip",
    "  blanks  around  .zip  ",
    "noext;touch CANARY",
    "trailing.",
    ".leading",
};
// Passed relative to the upload directory: after realpath no name starts
// with "-", and a name without an extension goes through zip's alias.
const std::vector<std::string> kDashNames = {"dir/-x.zip", "dir/-"};

class MoreHostileNames : public UploadSite, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        UploadSite::SetUp();
        make_zip(upload("template.zip"), {{"FILE_ID.DIZ", kDiz}, kReadme});
        std::string bytes = read_file(upload("template.zip"));
        fs::remove(upload("template.zip"));
        fs::create_directory(upload("dir"));
        for (const std::string &name : kNames) {
            write_file(upload(name), bytes);
            args_.push_back(upload(name));
            archives_.push_back(upload(name));
        }
        // What unzip would read for "back\\slash.zip" if it took the name
        // for a pattern; it must stay as it is.
        make_zip(upload("backslash.zip"), {{"FILE_ID.DIZ", "A neighbour\r\n"}});
        for (const std::string &name : kDashNames) {
            write_file(upload(name), bytes);
            args_.push_back(name);
            archives_.push_back(upload(name));
        }
    }
    std::vector<std::string> args_;
    std::vector<std::string> archives_;
};

TEST_P(MoreHostileNames, AreTaggedAndRunNothing) {
    const std::string mode = GetParam();
    const bool siteop = mode == "-s";
    std::vector<std::string> args{mode};
    args.insert(args.end(), args_.begin(), args_.end());

    RunResult result = run(args, upload_dir());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::string lines;
    for (const std::string &a : archives_)
        lines += a + ": (FILE_ID.DIZ) done\n";
    EXPECT_EQ(result.out, siteop ? "" : verbose_run(lines, static_cast<int>(archives_.size())));
    for (const std::string &a : archives_)
        expect_tagged(a, {{"FILE_ID.DIZ", kDiz}, kReadme}, kStored, siteop);
    EXPECT_FALSE(path_exists(upload("CANARY")));
    EXPECT_FALSE(path_exists(upload("CANARY.zip")));
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, MoreHostileNames, ::testing::Values("-v", "-s"),
                         mode_case_name);

// Files planted where the rewritten description goes. None is followed or
// written, and none keeps the archive from its tag: the description is
// written in a private directory beside the archive instead, and the
// plant and what it leads to stay as they were.
class PlantedOutput : public UploadSite, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        UploadSite::SetUp();
        make_zip(upload("a.zip"), {{"FILE_ID.DIZ", kDiz}, kReadme});
    }

    // Runs the tagger on `archive` and checks that it was tagged.
    void expect_worked_around(const std::string &archive) {
        const std::string mode = GetParam();
        RunResult result = run({mode, archive});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out,
                  mode == "-s" ? "" : verbose_run(archive + ": (FILE_ID.DIZ) done\n", 1));
        expect_tagged(archive, {{"FILE_ID.DIZ", kDiz}, kReadme}, kStored, mode == "-s");
    }
};

TEST_P(PlantedOutput, SymbolicLinkToAFileOutside) {
    fs::create_symlink(outside() + "/victim.txt", upload("FILE_ID.DIZ"));
    expect_worked_around(upload("a.zip"));
    EXPECT_EQ(read_file(outside() + "/victim.txt"), "precious\n");
    EXPECT_TRUE(fs::is_symlink(upload("FILE_ID.DIZ")));
}

TEST_P(PlantedOutput, SymbolicLinkToADescriptionOutside) {
    fs::create_symlink(outside() + "/FILE_ID.DIZ", upload("FILE_ID.DIZ"));
    expect_worked_around(upload("a.zip"));
}

// O_NOFOLLOW does not see a hard link; truncating it would rewrite the
// file outside.
TEST_P(PlantedOutput, HardLinkToAFileOutside) {
    fs::create_hard_link(outside() + "/victim.txt", upload("FILE_ID.DIZ"));
    expect_worked_around(upload("a.zip"));
    EXPECT_EQ(read_file(outside() + "/victim.txt"), "precious\n");
}

// An upload named FILE_ID.DIZ that holds FILE_ID.DIZ is its own output
// path: writing the description there would destroy the archive.
TEST_P(PlantedOutput, ArchiveNamedLikeItsDescription) {
    const std::string self = upload("FILE_ID.DIZ");
    make_zip(self, {{"FILE_ID.DIZ", kDiz}, kReadme});
    expect_worked_around(self);
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, PlantedOutput, ::testing::Values("-v", "-s"),
                         mode_case_name);

// Damaged and odd archives and descriptions, all in one run per mode. Each
// is either tagged (its expected description given) or given up untouched.
struct OddUpload {
    std::string name;
    std::string verbose;      // what -v prints after "<path>: "
    std::string stored_diz;   // empty: given up
    bool sound_before = true; // a ZIP that unzip -t passed before the run
};

using velmo::test::text_of_width;

class OddUploads : public UploadSite, public ::testing::WithParamInterface<const char *> {
  protected:
    // A description is made into a ZIP with the readme beside it.
    void add_tagged(const std::string &name, const std::string &diz, const std::string &stored) {
        make_zip(upload(name), {{"FILE_ID.DIZ", diz}, kReadme});
        cases_.push_back({name, "(FILE_ID.DIZ) done\n", stored});
    }
    void add_given_up(const std::string &name, const std::string &bytes, const std::string &verbose,
                      bool sound) {
        write_file(upload(name), bytes);
        cases_.push_back({name, verbose, "", sound});
    }
    std::string step_failure(const std::string &step, const std::string &name,
                             const std::string &program, int status,
                             const std::string &meaning) const {
        return "error!\nvelmotag: " + step + " '" + upload(name) + "': " + program +
               " exit status " + std::to_string(status) + " (" + meaning + ")\n";
    }

    void SetUp() override {
        UploadSite::SetUp();
        const std::string not_zip = "not a zipfile or no files in ZIP\n";
        add_given_up("notzip.zip", "this is not an archive\n", not_zip, false);

        // Cut inside the first local header, inside its data, before and
        // inside the central directory, inside the end record: unzip finds
        // no archive. Cut inside the archive comment: unzip reads it with a
        // warning, but zip refuses to rewrite it.
        make_zip(upload("whole.zip"), {{"FILE_ID.DIZ", kDiz}, kReadme});
        const std::string whole = read_file(upload("whole.zip"));
        fs::remove(upload("whole.zip"));
        const std::size_t central = whole.find("PK\x01\x02");
        ASSERT_NE(central, std::string::npos);
        for (std::size_t length : {std::size_t{0}, std::size_t{4}, std::size_t{20}, std::size_t{45},
                                   central, central + 30, whole.size() - 10, whole.size() - 1})
            add_given_up("cut" + std::to_string(length) + ".zip", whole.substr(0, length), not_zip,
                         false);
        std::string with_comment = whole;
        with_comment[with_comment.size() - 2] = 20; // comment length, little-endian
        with_comment += "an archive comm";          // 15 of its 20 bytes
        add_given_up("cutcomment.zip", with_comment,
                     "(FILE_ID.DIZ) " + step_failure("storing the description in", "cutcomment.zip",
                                                     "zip", 2, "unexpected end of the archive"),
                     false);

        // No members, no archive to tag (zip could not set its comment).
        make_empty_zip(upload("empty.zip"));
        cases_.push_back({"empty.zip", not_zip, "", false});

        // Without a terminal unzip cannot ask for the password.
        make_zip(upload("plain.zip"), {kReadme});
        RunOptions in_upload;
        in_upload.cwd = upload_dir();
        write_file(upload("FILE_ID.DIZ"), kDiz);
        RunResult encrypted = run_program(
            E2E_SYSTEM_ZIP, {"-q", "-X", "-P", "secret", "plain.zip", "FILE_ID.DIZ"}, in_upload);
        ASSERT_EQ(encrypted.status, 0) << encrypted.err;
        fs::remove(upload("FILE_ID.DIZ"));
        fs::rename(upload("plain.zip"), upload("encrypted.zip"));
        cases_.push_back({"encrypted.zip",
                          "(FILE_ID.DIZ) " + step_failure("extracting FILE_ID.DIZ from",
                                                          "encrypted.zip", "unzip", 5,
                                                          "out of memory, or no terminal for the "
                                                          "password"),
                          "", false});

        make_zip(upload("subdir.zip"), {{"docs/FILE_ID.DIZ", kDiz}, kReadme});
        cases_.push_back(
            {"subdir.zip",
             "(FILE_ID.DIZ) " + step_failure("extracting FILE_ID.DIZ from", "subdir.zip", "unzip",
                                             11, "no matching member"),
             ""});

        // A line is read as a C string: what follows a NUL up to the line
        // feed is dropped, and "ab" is too short to keep.
        add_tagged("nul.zip", "Cool\0tool\r\nab\0cdefgh\r\nplain line\r\n"s,
                   tagged("Cool\n\rplain line\n\r"));
        // No line feed: one line, whose last CR is its line end.
        add_tagged("cronly.zip", "Line one\rLine two\rLast\r",
                   tagged("Line one\rLine two\rLast\n\r"));
        // 5,000 characters: four chunks of 1,023, then the rest with the
        // line end; the widest chunk puts the indent past 20, so 1 blank.
        const std::string w5000 = text_of_width(5000);
        std::string kept5000;
        for (std::size_t at = 0; at < w5000.size(); at += 1023)
            kept5000 += w5000.substr(at, 1023) + "\n\r";
        add_tagged("long.zip", w5000 + "\r\n", tagged(kept5000));
        // Member names and a description full of shell text are only data.
        const std::vector<Member> shell_members = {
            {"FILE_ID.DIZ", "$(touch CANARY) `touch CANARY`\r\n"},
            {"$(touch CANARY).txt", "x\n"},
            {";touch CANARY;", "y\n"}};
        make_zip(upload("shelltext.zip"), shell_members);
        cases_.push_back({"shelltext.zip", "(FILE_ID.DIZ) done\n",
                          tagged("$(touch CANARY) `touch CANARY`\n\r")});
        shell_members_ = shell_members;

        for (const OddUpload &c : cases_)
            before_[c.name] = read_file(upload(c.name));
    }

    // Members as made, for the checks of a tagged archive.
    std::vector<Member> members_of(const std::string &name) const {
        if (name == "shelltext.zip")
            return shell_members_;
        return {kReadme};
    }

    std::vector<OddUpload> cases_;
    std::vector<Member> shell_members_;
    std::map<std::string, std::string> before_;
};

TEST_P(OddUploads, AreTaggedOrGivenUpCleanly) {
    const std::string mode = GetParam();
    const bool siteop = mode == "-s";
    std::vector<std::string> args{mode};
    std::string lines;
    int count = 0;
    for (const OddUpload &c : cases_) {
        args.push_back(upload(c.name));
        lines += upload(c.name) + ": " + c.verbose;
        count += c.stored_diz.empty() ? 0 : 1;
    }
    RunResult result = run(args);
    EXPECT_EQ(result.status, kNotAllTagged);
    EXPECT_EQ(result.out, siteop ? "" : verbose_run(lines, count));
    EXPECT_EQ(result.err, "");

    for (const OddUpload &c : cases_) {
        const std::string a = upload(c.name);
        if (c.name == "encrypted.zip") {
            expect_untouched(a, before_.at(c.name), false);
            RunResult test = run_program(E2E_SYSTEM_UNZIP, {"-tqq", "-P", "secret", a});
            EXPECT_EQ(test.status, 0) << test.out;
        } else if (c.stored_diz.empty()) {
            expect_untouched(a, before_.at(c.name), c.sound_before);
        } else {
            expect_tagged(a, members_of(c.name), c.stored_diz, siteop);
        }
    }
    EXPECT_FALSE(path_exists(upload("CANARY")));
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, OddUploads, ::testing::Values("-v", "-s"),
                         mode_case_name);

} // namespace
} // namespace e2e
