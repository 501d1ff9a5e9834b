// A step that fails once the archive was first written, and a run that is
// stopped: the archive is left as it was before the run (or, for a stop
// after the last step, fully tagged), never half-tagged, damaged or cut;
// the next run tags it normally.
#include "e2e_upload_site.h"

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/types.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kKept = "Cool tool\n\rTiny\n\r";
const Member kData = {"data.bin", std::string(30000, 'x') + "end"};

class Failures : public UploadSite {
  protected:
    std::string make_upload(const std::string &name) {
        make_zip(upload(name), {{"FILE_ID.DIZ", kDiz}, kData});
        return read_file(upload(name));
    }
    void expect_tagged_now(const std::string &name) {
        RunResult again = run_tagger({"-q", upload(name)});
        EXPECT_EQ(again.out, "done\n") << name;
        expect_tagged(upload(name), {kData}, tagged(kKept), false);
    }
};

// zip with a file size limit one byte short of the tagged archive (as on a
// disk that fills up) stores the description and sets the comment, but
// cannot add the info file: the archive is put back, byte for byte, and
// the next run tags it; the same for an upload without an extension.
TEST_F(Failures, FailedLaterStepPutsTheArchiveBack) {
    make_upload("sample.zip");
    ASSERT_EQ(run_tagger({"-q", upload("sample.zip")}).out, "done\n");
    const long long tagged_size = static_cast<long long>(read_file(upload("sample.zip")).size());
    for (const std::string name : {"a.zip", "noext"}) {
        const std::string before = make_upload(name);
        put_site_script(kZip,
                        "trap '' XFSZ\nexec prlimit --fsize=" + std::to_string(tagged_size - 1) +
                            " '" + E2E_SYSTEM_ZIP + "' \"$@\"\n",
                        fs::perms::owner_all);
        RunResult result = run_tagger({"-v", upload(name)});
        restore_site_program(kZip, E2E_SYSTEM_ZIP);
        const std::string failed = "(FILE_ID.DIZ) error!\nvelmotag: adding the info file to '" +
                                   upload(name) + "': zip exit status ";
        EXPECT_EQ(result.out.find("velmotag: verbose mode on\n" + upload(name) + ": " + failed), 0u)
            << result.out;
        EXPECT_NE(result.out.find("velmotag: 0 files tagged\n"), std::string::npos);
        expect_untouched(upload(name), before, true);
        expect_tagged_now(name);
    }
}

// What can be checked before the first write is: a missing comment file,
// a site without zip or unzip leave the archive alone.
TEST_F(Failures, MissingSiteFilesAreFoundBeforeTheFirstWrite) {
    const std::string before = make_upload("a.zip");
    const std::string a = upload("a.zip");
    fs::rename(kConfDir + "/sitetag.asc", kConfDir + "/sitetag.away");
    RunResult result = run_tagger({"-v", a});
    fs::rename(kConfDir + "/sitetag.away", kConfDir + "/sitetag.asc");
    EXPECT_EQ(result.out, verbose_run(a + ": (FILE_ID.DIZ) error!\nvelmotag: tagging '" + a +
                                          "': cannot read '" + kConfDir +
                                          "/sitetag.asc': No such file or directory\n",
                                      0));
    expect_untouched(a, before, true);

    // Missing archivers are found before the first archive, and each archive
    // is given up with their name.
    for (const std::string &program : {kZip, kUnzip}) {
        fs::remove(program);
        result = run_tagger({"-v", a});
        EXPECT_EQ(result.out,
                  verbose_run(a + ": error!\nvelmotag: tagging '" + a + "': cannot run '" +
                                  program + "': No such file or directory\n",
                              0));
        expect_untouched(a, before, true);
    }
}

// A fifo, a directory or a device at an archive's name is given up at
// once, before any archiver starts, nothing is given to its owner, and the
// archives after it are tagged.
TEST_F(Failures, AnythingButARegularFileIsNotAZipfile) {
    ASSERT_EQ(mkfifo(upload("pipe.zip").c_str(), 0644), 0);
    fs::create_directory(upload("dir.zip"));
    make_upload("a.zip");
    const std::string not_zip = "not a zipfile or no files in ZIP\n";
    RunResult result = run({"-c", upload("pipe.zip"), upload("dir.zip"), "/dev/null"});
    EXPECT_EQ(result.out, "velmotag: commandlines:\n");
    result = run({"-v", upload("pipe.zip"), upload("dir.zip"), upload("a.zip")});
    EXPECT_EQ(result.out,
              verbose_run(upload("pipe.zip") + ": " + not_zip + upload("dir.zip") + ": " + not_zip +
                              upload("a.zip") + ": (FILE_ID.DIZ) done\n",
                          1));
}

// SIGTERM, SIGINT or SIGHUP while zip sets the comment: that zip is killed
// at once, nothing more is started, the archive is put back (and the
// temporary file of the killed zip removed), the summary line is printed
// and the run ends by the signal.
TEST_F(Failures, StopSignalRollsBackAndEndsTheRun) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        const std::string before = make_upload("a.zip");
        const std::string later = make_upload("b.zip");
        const std::string steer = upload("steer");
        fs::remove_all(steer);
        fs::create_directory(steer);
        pause_site_program(kZip, E2E_SYSTEM_ZIP, "-zqq", steer);
        Background tagger(kTagger, {"-v", upload("a.zip"), upload("b.zip")});
        ASSERT_TRUE(wait_for_path(steer + "/ready", 10));
        kill(tagger.pid(), sig);
        write_file(steer + "/go", "");
        RunResult result = tagger.finish();
        EXPECT_EQ(result.signal, sig);
        EXPECT_EQ(result.out,
                  verbose_run(upload("a.zip") +
                                  ": (FILE_ID.DIZ) error!\nvelmotag: setting the comment of '" +
                                  upload("a.zip") + "': zip was killed: velmotag is stopping\n",
                              0))
            << sig;
        expect_untouched(upload("a.zip"), before, true);
        expect_untouched(upload("b.zip"), later, true);
    }
}

// SIGKILL to the run's process group while zip rewrites an upload without
// an extension: the upload is whole and unchanged; the run's private files
// stay until the next run over the directory, which tags it.
TEST_F(Failures, KilledRunLeavesTheUploadWhole) {
    const std::string before = make_upload("noext");
    const std::string steer = upload("steer");
    fs::create_directory(steer);
    pause_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer);
    RunOptions own_group;
    own_group.new_session = true;
    Background tagger(kTagger, {"-q", upload("noext")}, own_group);
    ASSERT_TRUE(wait_for_path(steer + "/ready", 10));
    kill(-tagger.pid(), SIGKILL);
    // The orphaned zip, in a session of its own, goes on and ends; its
    // shell holds the run's output open until then.
    write_file(steer + "/go", "");
    EXPECT_EQ(tagger.finish().signal, SIGKILL);
    expect_untouched(upload("noext"), before, true);
    const std::vector<std::string> left = dir_entries(upload_dir(), ".velmotag_");
    EXPECT_FALSE(left.empty());

    // Leftovers older than a moment, and not locked, are the next run's.
    sleep(2);
    restore_site_program(kZip, E2E_SYSTEM_ZIP);
    expect_tagged_now("noext");
    for (const std::string &name : left)
        EXPECT_FALSE(path_exists(upload(name))) << name;
}

// An encrypted FILE_ID.DIZ, tagged by hand from a terminal: unzip cannot
// ask for the password there, so the step fails at once instead of waiting.
TEST_F(Failures, EncryptedDescriptionNeverPromptsOnTheTerminal) {
    write_file(upload("FILE_ID.DIZ"), kDiz);
    RunOptions in_upload;
    in_upload.cwd = upload_dir();
    ASSERT_EQ(
        run_program(E2E_SYSTEM_ZIP, {"-q", "-P", "secret", "locked.zip", "FILE_ID.DIZ"}, in_upload)
            .status,
        0);
    fs::remove(upload("FILE_ID.DIZ"));
    const std::string before = read_file(upload("locked.zip"));
    RunResult result = run_on_terminal(kTagger, {"-v", upload("locked.zip")}, 20);
    EXPECT_EQ(result.status, kNotAllTagged);
    EXPECT_NE(result.out.find("error!\r\nvelmotag: extracting FILE_ID.DIZ from '" +
                              upload("locked.zip") + "': unzip exit status "),
              std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("password:"), std::string::npos) << result.out;
    expect_untouched(upload("locked.zip"), before, false);
}

} // namespace
} // namespace e2e
