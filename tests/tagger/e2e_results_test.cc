// What a run leaves behind: the rewritten description's bytes, archives that
// a second run leaves byte-identical, the archive's owner, temporary files,
// and the cases where the tagger must refuse to write (a link at the output
// path, no temporary directory) or must ignore the archivers' option
// variables.
#include "e2e_support.h"
#include "support/sample_text.h"

#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

using velmo::test::text_of_width;

using Results = TaggerSite;

TEST_F(Results, RewrittenDescriptionBytes) {
    const std::string w72 = text_of_width(72);
    const std::string w93 = text_of_width(93);
    const std::string w94 = text_of_width(94);
    const std::string w1100 = text_of_width(1100);
    struct Case {
        const char *archive;
        std::string description;
        std::string stored;
    } cases[] = {
        // Lines of 2 or 3 characters ended by CR LF, 2 ended by LF and empty
        // lines are dropped; the last line needs no line end; the widest
        // line (72) centres the tag line 10 blanks in.
        {"mixed.zip", w72 + "\r\nab\r\nabc\r\nabcd\r\nabc\nab\n\r\n\ntail",
         tagged(w72 + "\n\rabcd\n\rabc\n\rtail\n\r", 10)},
        {"lf.zip", w72 + "\n", tagged(w72 + "\n\r", 9)},
        {"w93.zip", w93 + "\r\n", tagged(w93 + "\n\r", 20)},
        {"w94.zip", w94 + "\r\n", tagged(w94 + "\n\r", 0)},
        {"emptydiz.zip", "", tagged("", 0)},
        // Read in chunks of 1023: the rest of the line becomes a line of its
        // own, and the full chunk's width puts the indent past 20, so 1.
        {"long.zip", w1100 + "\r\n",
         tagged(w1100.substr(0, 1023) + "\n\r" + w1100.substr(1023) + "\n\r", 0)},
    };
    std::vector<std::string> args{"-q"};
    for (const Case &c : cases) {
        make_zip(upload(c.archive), {{"FILE_ID.DIZ", c.description}});
        args.push_back(upload(c.archive));
    }
    RunResult run = run_tagger(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "done\ndone\ndone\ndone\ndone\ndone\n");
    for (const Case &c : cases)
        EXPECT_EQ(zip_member(upload(c.archive), "FILE_ID.DIZ"), c.stored) << c.archive;
    // The file beside the archives is the last one written, byte for byte.
    EXPECT_EQ(read_file(upload("FILE_ID.DIZ")), cases[5].stored);
}

TEST_F(Results, ConfiguredTagLineIsSqueezedAndCentred) {
    write_conf("keyword ZORV97\ntagline   --==  our   site  ==--   # squeezed\n");
    const std::string w38 = text_of_width(38);
    make_zip(upload("a.zip"), {{"FILE_ID.DIZ", w38 + "\r\n"}});
    RunResult run = run_tagger({"-q", upload("a.zip")});
    EXPECT_EQ(run.out, "done\n");
    // (38 - 18) / 2 = 10 blanks before the 18-character tag line.
    EXPECT_EQ(zip_member(upload("a.zip"), "FILE_ID.DIZ"),
              w38 + "\n\r" + std::string(10, ' ') + "--== our site ==--\r\n");
}

class SecondRun : public TaggerSite, public ::testing::WithParamInterface<const char *> {};

TEST_P(SecondRun, LeavesTaggedArchivesByteIdentical) {
    const std::string mode = GetParam();
    write_conf("keyword ZORV97\nkeyword VELMO97\n");
    const std::vector<std::string> names = {"up.zip", "low.zip", "nodiz.zip"};
    make_zip(upload("up.zip"), {{"FILE_ID.DIZ", "Cool tool\r\n"}, {"x.txt", "x\n"}});
    make_zip(upload("low.zip"), {{"file_id.diz", "Lower case\r\n"}});
    make_zip(upload("nodiz.zip"), {{"x.txt", "x\n"}});
    std::vector<std::string> args{mode};
    for (const std::string &name : names)
        args.push_back(upload(name));
    ASSERT_EQ(run_tagger(args).status, 0);

    std::vector<std::string> tagged_bytes;
    for (const std::string &name : names)
        tagged_bytes.push_back(read_file(upload(name)));
    std::string beside = read_file(upload("FILE_ID.DIZ"));

    RunResult again = run_tagger(args);
    EXPECT_EQ(again.status, 0);
    if (mode == "-v") {
        std::string expected = "velmotag: verbose mode on\n";
        for (const std::string &name : names)
            expected += upload(name) + ": keyword 'ZORV97' found in '" +
                        listing_line_with(upload(name), "ZORV97") + "'\n";
        EXPECT_EQ(again.out, expected + "velmotag: 0 files tagged\n");
    } else {
        EXPECT_EQ(again.out, "");
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(read_file(upload(names[i])), tagged_bytes[i]) << names[i];
    EXPECT_EQ(read_file(upload("FILE_ID.DIZ")), beside);
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, SecondRun, ::testing::Values("-v", "-s"),
                         mode_case_name);

// Each variable would be observable if it reached the archivers: -aa makes
// unzip turn CR LF into LF (so the 3-character line "abc" would be kept),
// -m makes zip delete the files it stores (the site's info file and the
// rewritten description).
class ArchiverVariables
    : public TaggerSite,
      public ::testing::WithParamInterface<std::tuple<const char *, const char *>> {};

TEST_P(ArchiverVariables, HaveNoEffect) {
    const auto [mode, variable] = GetParam();
    const bool siteop = std::string(mode) == "-s";
    const std::string nfo = siteop ? "velmo97.nfo" : "zorv97.nfo";
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\nabc\r\nTiny\r\n"}});

    RunOptions options;
    options.env = {variable};
    RunResult run = run_tagger({mode, a}, options);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, siteop ? ""
                              : "velmotag: verbose mode on\n" + a +
                                    ": (FILE_ID.DIZ) done\nvelmotag: 1 files tagged\n");
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\rTiny\n\r"));
    EXPECT_EQ(zip_names(a), (std::vector<std::string>{"FILE_ID.DIZ", nfo}));
    EXPECT_EQ(zip_comment(a), kSiteComment);
    EXPECT_TRUE(path_exists(kConfDir + "/" + nfo));
    EXPECT_TRUE(path_exists(upload("FILE_ID.DIZ")));
}

using VariableParam = ::testing::TestParamInfo<std::tuple<const char *, const char *>>;

std::string variable_case_name(const VariableParam &info) {
    std::string name = mode_word(std::get<0>(info.param)) + "_";
    for (const char *p = std::get<1>(info.param); *p && *p != '='; ++p)
        name += *p;
    return name;
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, ArchiverVariables,
                         ::testing::Combine(::testing::Values("-v", "-s"),
                                            ::testing::Values("UNZIP=-aa", "UNZIPOPT=-aa", "ZIP=-m",
                                                              "ZIPOPT=-m")),
                         variable_case_name);

// The temporary files the command lines name are gone once the run ends;
// the rewritten description is 0644 less the umask.
TEST_F(Results, FileModesAndTheEchoedTemporaryNames) {
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    RunOptions open_umask;
    open_umask.umask = 0;
    RunResult run = run_tagger({"-c", a}, open_umask);
    ASSERT_EQ(run.status, 0);
    for (const std::string prefix : {"rt_filelist_", "rt_tmpdiz_"})
        EXPECT_NE(run.out.find(kTmpDir + "/" + prefix), std::string::npos) << prefix;
    EXPECT_EQ(dir_entries(kTmpDir), std::vector<std::string>{});
    EXPECT_EQ(file_mode(upload("FILE_ID.DIZ")), 0644u);

    fs::remove(upload("FILE_ID.DIZ"));
    const std::string b = upload("b.zip");
    make_zip(b, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    RunOptions group_umask;
    group_umask.umask = 027;
    ASSERT_EQ(run_tagger({"-q", b}, group_umask).out, "done\n");
    EXPECT_EQ(file_mode(upload("FILE_ID.DIZ")), 0640u);
}

TEST_F(Results, OwnerAndGroupAreGivenBack) {
    const passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root, to give an archive to another user, and the user nobody";
    // The upload directory is the uploader's too: zip, which then runs as
    // the uploader, writes the new archive there. The archive's group is
    // not one of the uploader's, and is given back all the same.
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    const std::string uid = std::to_string(nobody->pw_uid);
    ASSERT_EQ(chown(a.c_str(), nobody->pw_uid, 23456), 0);
    ASSERT_EQ(chown(upload_dir().c_str(), nobody->pw_uid, 23456), 0);
    ASSERT_EQ(chmod(upload_dir().c_str(), 0755), 0);
    RunResult run = run_tagger({"-c", a});
    EXPECT_TRUE(run.out.ends_with("done\nchown " + uid + ".23456 " + a + "\n")) << run.out;
    struct stat st;
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, 23456u);
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\r"));
}

// A link planted where the rewritten description goes is never followed
// and stays: the description is written beside it, in a private directory,
// and the archive tagged; the link's target (or its missing target) stays
// as it was.
TEST_F(Results, LinkAtTheDescriptionPathIsWorkedAround) {
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    write_file(upload("target.txt"), "precious\n");
    fs::create_symlink(upload("target.txt"), upload("FILE_ID.DIZ"));

    RunResult run = run_tagger({a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, a + ": (FILE_ID.DIZ) done\nvelmotag: 1 files tagged\n");
    EXPECT_EQ(read_file(upload("target.txt")), "precious\n");
    EXPECT_TRUE(fs::is_symlink(upload("FILE_ID.DIZ")));
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\r"));

    // A dangling link, in siteop mode: its target is not created.
    fs::remove(upload("FILE_ID.DIZ"));
    fs::create_symlink(upload("planted.txt"), upload("FILE_ID.DIZ"));
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    RunResult siteop = run_tagger({"-s", a});
    EXPECT_EQ(siteop.out, "");
    EXPECT_FALSE(path_exists(upload("planted.txt")));
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\r"));
    EXPECT_EQ(dir_entries(upload_dir(), ".velmotag_"), std::vector<std::string>{});
}

TEST_F(Results, MissingTemporaryDirectoryGivesTheArchiveUp) {
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", "Cool tool\r\n"}});
    const std::string before = read_file(a);
    fs::remove_all(kTmpDir);
    RunResult run = run_tagger({"-d", a});
    EXPECT_EQ(run.status, kNotAllTagged);
    EXPECT_EQ(run.out, "velmotag: debug mode on\nBEGIN read_datafile()\nLEAVING read_datafile()\n"
                       "BEGIN process_zipfile( " +
                           a + " )\n" + a + ": error!\nvelmotag: creating '" + kTmpDir +
                           "/rt_filelist_XXXXXX': No such file or directory\n"
                           "LEAVING[4] process_zipfile( " +
                           a + " )\nvelmotag: 0 files tagged\n");
    EXPECT_EQ(read_file(a), before);
}

} // namespace
} // namespace e2e
