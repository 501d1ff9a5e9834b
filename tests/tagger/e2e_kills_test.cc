// Runs killed outright, as systemd's stop timeout or the OOM killer kill
// them: at every boundary of the zip steps the whole run (the tagger and
// its children at once), the real zip between its unlink of the archive
// and its rename of the new one, and zip alone. Until the next run the
// original is on disk, at its name or in the run's kept copy; after it the
// archive is tagged exactly once with every member whole, and nothing of
// the killed run or its zip is left.
#include "e2e_support.h"

#include "support/sample_text.h"
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kKept = "Cool tool\n\rTiny\n\r";

enum class Kill {
    RunBeforeZip,   // the run, before zip starts
    RunAfterZip,    // the run, after zip has ended
    RunAtZipRename, // the run, when zip has removed the archive but not yet renamed its new one
    ZipAtRename,    // zip alone, at the same point; the tagger lives on
};

class Kills : public TaggerSite {
  protected:
    void SetUp() override {
        TaggerSite::SetUp();
        steer_ = upload("steer");
        fs::create_directory(steer_);
        write_conf("keyword ZORV97\nkeyword VELMO97\n");
    }

    bool have_strace() {
        static const bool usable =
            run_program("/bin/sh", {"-c", "strace -qq -o /dev/null true"}).status == 0;
        return usable;
    }

    // An upload with a member that does not compress: `size` bytes of it.
    std::string make_upload(const std::string &name, std::size_t size) {
        data_.name = "data.bin";
        data_.bytes = velmo::test::random_bytes(size, 11);
        make_zip(upload(name), {{"FILE_ID.DIZ", kDiz}, data_});
        return read_file(upload(name));
    }

    // Puts a script at the site's zip path that counts zip's starts and, at
    // start `step`, kills as `kill` says.
    void kill_at_zip_start(int step, Kill kill) {
        const std::string real = E2E_SYSTEM_ZIP;
        const std::string at_rename = "strace -f -qq -o /dev/null -e trace=rename "
                                      "-e inject=rename:signal=KILL '" +
                                      real + "' \"$@\"";
        std::string action;
        switch (kill) {
        case Kill::RunBeforeZip:
            action = "kill_run";
            break;
        case Kill::RunAfterZip:
            action = "'" + real + "' \"$@\"; kill_run";
            break;
        case Kill::RunAtZipRename:
            action = at_rename + "; kill_run";
            break;
        case Kill::ZipAtRename:
            action = "exec " + at_rename;
            break;
        }
        put_site_script(kZip, "# The tagger and every process of this archiver's session at once.\n"
                              "kill_run() {\n"
                              "    p=$PPID\n"
                              "    while [ \"$p\" -gt 1 ] && [ \"$(cat /proc/$p/comm)\" != "
                              "velmotag_sandbo ]; do\n"
                              "        p=$(cut -d' ' -f4 /proc/$p/stat)\n"
                              "    done\n"
                              "    kill -KILL \"$p\" 0\n"
                              "}\n"
                              "n=$(($(cat '" +
                                  steer_ + "/count' 2>/dev/null || echo 0) + 1))\n" +
                                  "echo $n > '" + steer_ + "/count'\n" + "if [ $n -eq " +
                                  std::to_string(step) + " ]; then\n    " + action + "\nfi\n" +
                                  "exec '" + real + "' \"$@\"\n");
    }

    void restore_zip() {
        restore_site_program(kZip, E2E_SYSTEM_ZIP);
        fs::remove(steer_ + "/count");
    }

    // The original is whole at its name, or kept: in a private directory
    // beside it, or in a journal (or, without a state directory, a lock file).
    void expect_original_on_disk(const std::string &name, const std::string &before,
                                 const std::string &where) {
        if (path_exists(upload(name)) && read_file(upload(name)) == before)
            return;
        std::vector<fs::path> places;
        if (path_exists(kStateDir))
            places.emplace_back(kStateDir);
        for (const std::string &entry : dir_entries(upload_dir(), ".velmotag_"))
            places.emplace_back(upload(entry));
        const auto holds_it = [&](const fs::path &file) {
            return fs::is_regular_file(file) &&
                   read_file(file.string()).find(before) != std::string::npos;
        };
        for (const fs::path &place : places) {
            if (holds_it(place))
                return;
            if (fs::is_directory(place))
                for (const auto &file : fs::recursive_directory_iterator(place))
                    if (holds_it(file.path()))
                        return;
        }
        ADD_FAILURE() << where << ": the original of " << name
                      << " is neither at its name nor kept";
    }

    // Tagged once (by a run in quiet mode), every member whole, nothing of
    // any run left.
    void expect_tagged_once(const std::string &name, const std::string &where) {
        const std::string a = upload(name);
        EXPECT_EQ(zip_test(a).status, 0) << where;
        EXPECT_EQ(zip_names(a), (std::vector<std::string>{"FILE_ID.DIZ", "data.bin", "zorv97.nfo"}))
            << where;
        EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged(kKept)) << where;
        EXPECT_TRUE(zip_member(a, data_.name) == data_.bytes) << where;
        EXPECT_EQ(zip_comment(a), kSiteComment) << where;
        expect_nothing_left(where);
    }

    void expect_nothing_left(const std::string &where) {
        for (const std::string &entry : dir_entries(upload_dir())) {
            const bool zip_temp = entry.size() == 8 && entry.rfind("zi", 0) == 0;
            EXPECT_FALSE(zip_temp || entry.rfind(".velmotag", 0) == 0) << where << ": " << entry;
        }
        if (path_exists(kStateDir)) {
            EXPECT_TRUE(dir_entries(kStateDir + "/locks").empty()) << where;
        }
    }

    std::string steer_;
    Member data_;
};

// The whole run killed before and after each of the three zip steps, in
// siteop and verbose mode, for a small archive (its copy kept), a large
// one (the original swapped aside) and one without an extension (tagged
// in a working copy); the next run over it tags it once.
TEST_F(Kills, WholeRunKilledAtEveryStepBoundary) {
    struct Upload {
        std::string name;
        std::size_t size;
    };
    for (const Upload &u :
         {Upload{"small.zip", 3000}, Upload{"large.zip", 1200000}, Upload{"noext", 3000}}) {
        for (int step = 1; step <= 3; ++step) {
            for (Kill kill : {Kill::RunBeforeZip, Kill::RunAfterZip}) {
                const std::string mode = (step + static_cast<int>(kill)) % 2 ? "-s" : "-v";
                const std::string where = u.name + " step " + std::to_string(step) +
                                          (kill == Kill::RunBeforeZip ? " before" : " after") +
                                          " " + mode;
                const std::string before = make_upload(u.name, u.size);
                kill_at_zip_start(step, kill);
                EXPECT_EQ(run_tagger({mode, upload(u.name)}).signal, SIGKILL) << where;
                expect_original_on_disk(u.name, before, where);
                restore_zip();
                EXPECT_EQ(run_tagger({"-q", upload(u.name)}).out, "done\n") << where;
                expect_tagged_once(u.name, where);
            }
        }
    }
}

// zip killed with the whole run between its unlink of the archive and its
// rename of the new one: no archive at its name. A run over another
// directory, which never names it, puts it back, removes zip's temporary
// file and tags it.
TEST_F(Kills, ArchiveGoneFromItsNameIsPutBackByAnyRun) {
    if (!have_strace())
        GTEST_SKIP() << "needs strace to kill zip at its rename";
    const fs::path elsewhere = fs::path(upload_dir()) / "elsewhere";
    fs::create_directory(elsewhere);
    const std::string other = (elsewhere / "other.zip").string();
    for (const std::string name : {"small.zip", "large.zip"}) {
        const std::string before = make_upload(name, name == "small.zip" ? 3000 : 1200000);
        make_zip(other, {{"FILE_ID.DIZ", kDiz}});
        kill_at_zip_start(2, Kill::RunAtZipRename);
        EXPECT_EQ(run_tagger({"-s", upload(name)}).signal, SIGKILL) << name;
        EXPECT_FALSE(path_exists(upload(name))) << name;
        expect_original_on_disk(name, before, name);
        restore_zip();

        EXPECT_EQ(run_tagger({"-q", other}).out, "done\ndone\n") << name;
        expect_tagged_once(name, name);
    }
}

// Without a state directory the locks and the intent stand beside the
// archive: a run over the archive's directory finds the change there, even
// when the archive is missing from its name.
TEST_F(Kills, WithoutAStateDirectoryTheRunOverTheDirectoryEndsTheChange) {
    fs::remove_all(kStateDir);
    std::vector<Kill> kills{Kill::RunAfterZip};
    if (have_strace())
        kills.push_back(Kill::RunAtZipRename);
    for (const std::string name : {"small.zip", "large.zip"}) {
        for (Kill kill : kills) {
            const std::string before = make_upload(name, name == "small.zip" ? 3000 : 1200000);
            kill_at_zip_start(2, kill);
            EXPECT_EQ(run_tagger({"-s", upload(name)}).signal, SIGKILL) << name;
            expect_original_on_disk(name, before, name);
            restore_zip();
            EXPECT_EQ(run_tagger({"-q", upload(name)}).out, "done\n") << name;
            expect_tagged_once(name, name);
        }
    }
}

// An upload that replaced the archive after its run was killed is newer
// than the kept original: it stays, and is what the next run tags.
TEST_F(Kills, UploadAfterTheKillIsKept) {
    make_upload("a.zip", 3000);
    kill_at_zip_start(2, Kill::RunAfterZip);
    EXPECT_EQ(run_tagger({"-s", upload("a.zip")}).signal, SIGKILL);
    restore_zip();
    // Past the moment the dead run could still have changed anything.
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    make_zip(upload("new"), {{"FILE_ID.DIZ", kDiz}, {"new.txt", "New.\n"}});
    fs::rename(upload("new"), upload("a.zip"));
    EXPECT_EQ(run_tagger({"-q", upload("a.zip")}).out, "done\n");
    EXPECT_EQ(zip_names(upload("a.zip")),
              (std::vector<std::string>{"FILE_ID.DIZ", "new.txt", "zorv97.nfo"}));
    expect_nothing_left("new upload");
}

// Killed alone in verbose mode, the tagger leaves its zip running under
// the shell: the next run ends that zip before it ends the change, so that
// it changes nothing more, and tags the archive once.
TEST_F(Kills, ZipOutlivingItsTaggerIsEndedByTheNextRun) {
    make_upload("a.zip", 3000);
    steer_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer_,
                       "    echo $$ > '" + steer_ + "/pid'\n" + pause_action(steer_));
    Background run(kTagger, {"-v", upload("a.zip")});
    ASSERT_TRUE(wait_for_path(steer_ + "/ready", 30));
    kill(run.pid(), SIGKILL);
    run.finish();
    const pid_t orphan = std::stoi(read_file(steer_ + "/pid"));
    ASSERT_TRUE(process_running(orphan));
    restore_zip();
    EXPECT_EQ(run_tagger({"-q", upload("a.zip")}).out, "done\n");
    EXPECT_FALSE(process_running(orphan));
    write_file(steer_ + "/go", "");
    if (process_running(orphan)) // left by a failure above: not to outlive the test
        kill(orphan, SIGKILL);
    expect_tagged_once("a.zip", "orphan");
}

// zip alone killed (the OOM killer's choice) at its rename: the tagger puts
// the archive back at once, removes zip's temporary file and says so; the
// next run tags it.
TEST_F(Kills, ZipAloneKilledIsRolledBackAtOnce) {
    if (!have_strace())
        GTEST_SKIP() << "needs strace to kill zip at its rename";
    for (int step = 1; step <= 3; ++step) {
        const std::string where = "step " + std::to_string(step);
        const std::string before = make_upload("a.zip", 3000);
        kill_at_zip_start(step, Kill::ZipAtRename);
        RunResult result = run_tagger({"-v", upload("a.zip")});
        EXPECT_NE(result.out.find("': zip exit status 137 (killed by a signal)\n"),
                  std::string::npos)
            << where << result.out;
        EXPECT_EQ(read_file(upload("a.zip")), before) << where;
        expect_nothing_left(where);
        restore_zip();
        EXPECT_EQ(run_tagger({"-q", upload("a.zip")}).out, "done\n") << where;
        expect_tagged_once("a.zip", where);
    }
}

} // namespace
} // namespace e2e
