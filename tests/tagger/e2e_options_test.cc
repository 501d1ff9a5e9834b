// The command line as users and site scripts meet it: usage and version
// texts, the option quirks (-qs, -v -V, -s -c against -c -s, options after
// archive names), how archive arguments are resolved, and a missing
// configuration file.
#include "e2e_support.h"

#include <filesystem>

namespace e2e {
namespace {

const std::string kUsage = "Usage: velmotag [OPTION]... [Filename]...\n"
                           "\n"
                           "   -q    be quiet (output nothing, even on error)\n"
                           "   -c    commandline output, shows what system commands are\n"
                           "         being done.\n"
                           "   -d    debug mode.\n"
                           "   -s    siteop mode on (no output, errors to syslog)\n"
                           "   -v    verbose mode on (default)\n"
                           "   -?    display this help and exit\n"
                           "   -V    display version information and exit\n"
                           "\n"
                           "Note that in this portable version long args are not allowed\n"
                           "and options must be separate, i.e. use '-q -s' not '-qs'.\n";

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kKept = "Cool tool\n\rTiny\n\r";

class Options : public TaggerSite {
  protected:
    std::string archive(const std::string &name) {
        std::string path = upload(name);
        make_zip(path, {{"FILE_ID.DIZ", kDiz}});
        return path;
    }

    // The archive as the shell modes leave it (configured info and comment
    // files) or as siteop mode does (always velmo97.nfo and sitetag.asc).
    void expect_tagged(const std::string &path, const std::string &nfo,
                       const std::string &nfo_bytes, const std::string &comment) {
        EXPECT_EQ(zip_names(path), (std::vector<std::string>{"FILE_ID.DIZ", nfo})) << path;
        EXPECT_EQ(zip_member(path, "FILE_ID.DIZ"), tagged(kKept)) << path;
        EXPECT_EQ(zip_member(path, nfo), nfo_bytes) << path;
        EXPECT_EQ(zip_comment(path), comment) << path;
    }
    void expect_shell_mode_tagged(const std::string &path) {
        expect_tagged(path, "zorv97.nfo", kZorvInfo, kSiteComment);
    }
};

TEST_F(Options, UsageEndsWithStatusOneBeforeAnythingIsRead) {
    std::string a = archive("a.zip");
    std::string before = read_file(a);
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"-?"}, {"-"}, {"-x", a}, {"--", a}, {a, "-?"}}) {
        RunResult run = run_tagger(args);
        EXPECT_EQ(run.status, 1) << testing::PrintToString(args);
        EXPECT_EQ(run.out, kUsage) << testing::PrintToString(args);
    }
    // The configuration is never read: no trace of read_datafile.
    RunResult debug = run_tagger({"-d", "-z", a});
    EXPECT_EQ(debug.status, 1);
    EXPECT_EQ(debug.out, "velmotag: debug mode on\n" + kUsage);
    EXPECT_EQ(read_file(a), before);
}

TEST_F(Options, VersionStopsTheOptionPass) {
    std::string a = archive("a.zip");
    std::string before = read_file(a);
    RunResult plain = run_tagger({"-V"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "ZorvTag v1.0\n");

    RunResult after_verbose = run_tagger({"-v", "-V", a});
    EXPECT_EQ(after_verbose.status, 0);
    EXPECT_EQ(after_verbose.out, "velmotag: verbose mode on\nZorvTag v1.0\n");

    // Options after -V are never applied, not even a bad one.
    RunResult before_bad = run_tagger({a, "-V", "-x"});
    EXPECT_EQ(before_bad.status, 0);
    EXPECT_EQ(before_bad.out, "ZorvTag v1.0\n");
    EXPECT_EQ(read_file(a), before);
}

TEST_F(Options, OnlyOptionsEndWithTheSummary) {
    RunResult verbose = run_tagger({"-v"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, "velmotag: verbose mode on\nvelmotag: 0 files tagged\n");
    RunResult quiet = run_tagger({"-q"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(Options, OnlyTheSecondCharacterCounts) {
    // -qs is quiet mode alone, -quiet is -q: shell mode with "done" lines.
    std::string a = archive("a.zip");
    std::string b = archive("b.zip");
    RunResult run = run_tagger({"-qs", a, "-quiet", b});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "done\ndone\n");
    expect_shell_mode_tagged(a);
    expect_shell_mode_tagged(b);
}

TEST_F(Options, OptionsAfterArchiveNamesApplyToAll) {
    std::string a = archive("a.zip");
    std::string b = archive("b.zip");
    std::string chown_b = chown_line(b);
    RunResult quiet = run_tagger({a, "-q"});
    EXPECT_EQ(quiet.out, "done\n");
    expect_shell_mode_tagged(a);

    RunResult commands = run_tagger({b, "-c"});
    EXPECT_EQ(mask_temp_names(commands.out),
              "velmotag: commandlines:\n" + list_command(b) + extract_command(b) +
                  store_command(b, upload("FILE_ID.DIZ")) + comment_command(b, "sitetag.asc") +
                  info_command(b, "zorv97.nfo") + "done\n" + chown_b);
    expect_shell_mode_tagged(b);
}

// -s after -c leaves siteop on (no shell, no echo, fixed site files); -c
// after -s switches siteop off again, but standard output stays on
// /dev/null. The configured info and comment files tell the two apart.
TEST_F(Options, SiteopAndCommandsInEitherOrder) {
    write_conf("keyword ZORV97\nnfo other.nfo\ncomment other.asc\n");
    std::string a = archive("a.zip");
    std::string b = archive("b.zip");

    RunResult commands_then_siteop = run_tagger({"-c", "-s", a});
    EXPECT_EQ(commands_then_siteop.status, 0);
    EXPECT_EQ(commands_then_siteop.out, "velmotag: commandlines:\n");
    EXPECT_EQ(commands_then_siteop.err, "");
    expect_tagged(a, "velmo97.nfo", kVelmoInfo, kSiteComment);

    RunResult siteop_then_commands = run_tagger({"-s", "-c", b});
    EXPECT_EQ(siteop_then_commands.status, 0);
    EXPECT_EQ(siteop_then_commands.out, "");
    EXPECT_EQ(siteop_then_commands.err, "");
    expect_tagged(b, "other.nfo", kOtherInfo, kOtherComment);
}

TEST_F(Options, ArchiveArgumentsAreResolvedOrUsedAsGiven) {
    archive("a.zip");
    RunOptions in_upload;
    in_upload.cwd = upload_dir();
    // Default mode (no option at all) is verbose.
    RunResult run = run_tagger({"a.zip", "missing.zip"}, in_upload);
    EXPECT_EQ(run.status, kNotAllTagged);
    EXPECT_EQ(run.out, upload("a.zip") + ": (FILE_ID.DIZ) done\nmissing.zip: file not found\n"
                                         "velmotag: 1 files tagged\n");
    expect_shell_mode_tagged(upload("a.zip"));

    // An archive that cannot be resolved or stat'ed gets no ownership step.
    RunResult commands = run_tagger({"-c", "missing.zip"}, in_upload);
    EXPECT_EQ(commands.status, kNotAllTagged);
    EXPECT_EQ(commands.out, "velmotag: commandlines:\n");
}

TEST_F(Options, MissingConfigurationIsReportedAndTheRunGoesOn) {
    std::filesystem::remove(kConfDir + "/velmotag.conf");
    std::string a = archive("a.zip");
    RunResult run = run_tagger({a});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "error!\nvelmotag: Error opening '" + kConfDir +
                           "/velmotag.conf': No such file or directory\n" + a +
                           ": (FILE_ID.DIZ) done\nvelmotag: 1 files tagged\n");
    expect_shell_mode_tagged(a);
}

} // namespace
} // namespace e2e
