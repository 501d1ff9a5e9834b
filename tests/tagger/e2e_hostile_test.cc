// Upload names are chosen by strangers. Names full of shell syntax, in the
// file name and in the directory name, must be tagged like any other and
// never run anything; names that unzip would take for a pattern must change
// that one archive and never its neighbours.
#include "e2e_support.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kKept = "Cool tool\n\rTiny\n\r";

// Each name would create a file in the tagger's working directory (CANARY,
// or CANARY.zip through ">") if a shell ever read it unquoted.
const std::vector<std::string> kHostileNames = {
    "semi;touch CANARY;.zip",
    "amp&touch CANARY&.zip",
    "pipe|touch CANARY|.zip",
    "gt>CANARY.zip",
    "sub$(touch CANARY).zip",
    "tick`touch CANARY`.zip",
    "quote'; touch CANARY; '.zip",
    "dq\"; touch CANARY; \".zip",
    "blank name.zip",
    "line\ntouch CANARY\n.zip",
};
const std::string kHostileDir = "dir ;&|>$(touch CANARY)`touch CANARY`'\" x";

// The single-quoted shell word the tagger echoes for a path that is not
// made of plain characters.
std::string sh_quoted(const std::string &path) {
    std::string out = "'";
    for (char c : path)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
        ++n;
    return n;
}

class HostileNames : public TaggerSite, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        TaggerSite::SetUp();
        make_zip(upload("template.zip"), {{"FILE_ID.DIZ", kDiz}});
        std::string archive_bytes = read_file(upload("template.zip"));
        fs::remove(upload("template.zip"));
        for (const std::string &name : kHostileNames) {
            write_file(upload(name), archive_bytes);
            archives_.push_back(upload(name));
        }
        fs::create_directory(upload(kHostileDir));
        write_file(upload(kHostileDir + "/in dir.zip"), archive_bytes);
        archives_.push_back(upload(kHostileDir + "/in dir.zip"));
    }

    std::string command_lines(const std::string &archive) const {
        std::string a = sh_quoted(archive);
        std::string dir = archive.substr(0, archive.rfind('/'));
        std::string beside = dir + "/FILE_ID.DIZ";
        if (dir != upload_dir())
            beside = sh_quoted(beside);
        return list_command(a) + extract_command(a) + store_command(a, beside) +
               comment_command(a, "sitetag.asc") + info_command(a, "zorv97.nfo") + "done\n" +
               chown_line(archive);
    }

    std::vector<std::string> archives_;
};

TEST_P(HostileNames, AreTaggedAndRunNothing) {
    const std::string mode = GetParam();
    const bool siteop = mode == "-s";
    const std::string nfo = siteop ? "velmo97.nfo" : "zorv97.nfo";
    std::vector<std::string> args{mode};
    args.insert(args.end(), archives_.begin(), archives_.end());
    RunOptions in_upload;
    in_upload.cwd = upload_dir();

    RunResult run = run_tagger(args, in_upload);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string n = std::to_string(archives_.size());
    if (mode == "-v") {
        std::string expected = "velmotag: verbose mode on\n";
        for (const std::string &a : archives_)
            expected += a + ": (FILE_ID.DIZ) done\n";
        EXPECT_EQ(run.out, expected + "velmotag: " + n + " files tagged\n");
    } else if (mode == "-q") {
        std::string expected;
        for (std::size_t i = 0; i < archives_.size(); ++i)
            expected += "done\n";
        EXPECT_EQ(run.out, expected);
    } else if (mode == "-c") {
        std::string expected = "velmotag: commandlines:\n";
        for (const std::string &a : archives_)
            expected += command_lines(a);
        EXPECT_EQ(mask_temp_names(run.out), expected);
    } else if (mode == "-d") {
        for (const std::string &a : archives_)
            EXPECT_EQ(count_of(run.out, "done\nLEAVING process_zipfile( " + a + " )\n"), 1u) << a;
        EXPECT_EQ(count_of(run.out, "LEAVING["), 0u);
        EXPECT_EQ(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1),
                  "velmotag: " + n + " files tagged\n");
    } else {
        EXPECT_EQ(run.out, "");
    }

    for (const std::string &a : archives_) {
        EXPECT_EQ(zip_names(a), (std::vector<std::string>{"FILE_ID.DIZ", nfo})) << a;
        EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged(kKept)) << a;
        EXPECT_EQ(zip_comment(a), kSiteComment) << a;
    }
    // Nothing but the archives and the rewritten descriptions: no canary,
    // no file made by a stray redirection.
    std::vector<std::string> expected_entries = kHostileNames;
    expected_entries.push_back(kHostileDir);
    expected_entries.push_back("FILE_ID.DIZ");
    std::sort(expected_entries.begin(), expected_entries.end());
    EXPECT_EQ(dir_entries(upload_dir()), expected_entries);
    EXPECT_EQ(dir_entries(upload(kHostileDir)),
              (std::vector<std::string>{"FILE_ID.DIZ", "in dir.zip"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileNames, ::testing::Values("-v", "-q", "-c", "-d", "-s"),
                         mode_case_name);

// The quoting written out once by hand, so the helper above cannot hide a
// shared mistake.
using QuotedNames = TaggerSite;

TEST_F(QuotedNames, CommandLineForANameWithAQuote) {
    const std::string a = upload("it's $(x).zip");
    make_zip(a, {{"FILE_ID.DIZ", kDiz}});
    RunResult run = run_tagger({"-c", a});
    const std::string start = "velmotag: commandlines:\n( " + kUnzip + " -vqq '" + upload_dir() +
                              "/it'\\''s $(x).zip' > " + kTmpDir +
                              "/rt_filelist_XXXXXX ) 2> /dev/null\n";
    EXPECT_EQ(mask_temp_names(run.out).substr(0, start.size()), start);
}

// unzip expands * ? [ ] in its archive argument. Every neighbour holds a
// description of its own, so reading one of them would show in the result.
class WildcardNames : public TaggerSite,
                      public ::testing::WithParamInterface<std::tuple<const char *, const char *>> {
  protected:
    void SetUp() override {
        TaggerSite::SetUp();
        for (const char *name : kNames) {
            make_zip(upload(name), {{"FILE_ID.DIZ", std::string("I am ") + name + "\r\n"}});
            before_[name] = read_file(upload(name));
        }
    }
    static constexpr const char *kNames[] = {"*.zip", "?.zip",  "[ab].zip", "a.zip",
                                             "b.zip", "ab.zip", "x.zip"};
    std::map<std::string, std::string> before_;
};

TEST_P(WildcardNames, ChangeOnlyTheNamedArchive) {
    const auto [mode, target] = GetParam();
    const bool siteop = std::string(mode) == "-s";
    const std::string a = upload(target);
    RunResult run = run_tagger({mode, a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, siteop ? ""
                              : "velmotag: verbose mode on\n" + a +
                                    ": (FILE_ID.DIZ) done\nvelmotag: 1 files tagged\n");
    EXPECT_EQ(zip_names(a),
              (std::vector<std::string>{"FILE_ID.DIZ", siteop ? "velmo97.nfo" : "zorv97.nfo"}));
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("I am " + std::string(target) + "\n\r"));
    for (const auto &[name, bytes] : before_) {
        if (name != target) {
            EXPECT_EQ(read_file(upload(name)), bytes) << name << " was changed";
        }
    }
}

using WildcardParam = ::testing::TestParamInfo<std::tuple<const char *, const char *>>;

std::string wildcard_case_name(const WildcardParam &info) {
    const std::map<std::string, std::string> names = {
        {"*.zip", "Star"}, {"?.zip", "Question"}, {"[ab].zip", "Brackets"}};
    return mode_word(std::get<0>(info.param)) + "_" + names.at(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, WildcardNames,
                         ::testing::Combine(::testing::Values("-v", "-s"),
                                            ::testing::Values("*.zip", "?.zip", "[ab].zip")),
                         wildcard_case_name);

// unzip is handed a link with a plain name in a private directory, which is
// gone after the run; zip takes its archive name literally.
TEST_F(QuotedNames, WildcardNameCommandLinesUseAPrivateLink) {
    const std::string a = upload("*.zip");
    make_zip(a, {{"FILE_ID.DIZ", kDiz}});
    const std::string chown = chown_line(a);
    RunResult run = run_tagger({"-c", a});
    const std::string link = kTmpDir + "/velmotag_XXXXXX/archive.zip";
    EXPECT_EQ(mask_temp_names(run.out),
              "velmotag: commandlines:\n" + list_command(link) + extract_command(link) +
                  store_command("'" + a + "'", upload("FILE_ID.DIZ")) +
                  comment_command("'" + a + "'", "sitetag.asc") +
                  info_command("'" + a + "'", "zorv97.nfo") + "done\n" + chown);
    const std::string private_dir = kTmpDir + "/velmotag_";
    for (std::size_t at = run.out.find(private_dir); at != std::string::npos;
         at = run.out.find(private_dir, at + 1))
        EXPECT_FALSE(path_exists(run.out.substr(at, private_dir.size() + 6)));
}

// zip appends ".zip" to an archive name without an extension, so tagging
// the upload "noext" directly would leave it untagged and write into a
// neighbour "noext.zip" instead.
TEST_F(QuotedNames, NameWithoutExtensionChangesOnlyItself) {
    const std::string a = upload("noext");
    make_zip(a, {{"FILE_ID.DIZ", kDiz}});
    make_zip(upload("noext.zip"), {{"readme.txt", "someone else's upload\n"}});
    const std::string neighbour = read_file(upload("noext.zip"));
    RunResult run = run_tagger({"-q", a});
    EXPECT_EQ(zip_names(a), (std::vector<std::string>{"FILE_ID.DIZ", "zorv97.nfo"}));
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged(kKept));
    EXPECT_EQ(read_file(upload("noext.zip")), neighbour);
}

} // namespace
} // namespace e2e
