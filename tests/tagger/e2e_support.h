// Shared by the tagger's end-to-end tests: the sandboxed velmotag binary and
// the site root it was built against, a fixture that lays that site out and
// gives each test an upload directory of its own, and archives made and read
// back with the system's zip and unzip. Files and programs are run through
// the shared test helpers (tests/support).
#ifndef VELMO_TESTS_TAGGER_E2E_SUPPORT_H
#define VELMO_TESTS_TAGGER_E2E_SUPPORT_H

#include "support/files.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e {

using velmo::test::Background;
using velmo::test::dir_entries;
using velmo::test::file_mode;
using velmo::test::path_exists;
using velmo::test::process_running;
using velmo::test::read_file;
using velmo::test::run_on_terminal;
using velmo::test::run_program;
using velmo::test::RunOptions;
using velmo::test::RunResult;
using velmo::test::write_file;

// The tagger's exit status when an archive named was neither tagged nor
// found tagged already.
constexpr int kNotAllTagged = 2;

// The fixed paths compiled into the sandboxed tagger.
extern const std::string kTagger;   // the binary itself
extern const std::string kConfDir;  // velmotag.conf and the site files
extern const std::string kUnzip;    // link to the system's unzip
extern const std::string kZip;      // link to the system's zip ("//..." as echoed)
extern const std::string kTmpDir;   // where the tagger makes its temporary files
extern const std::string kStateDir; // its locks and the records of changes in progress

// The tag line compiled in, and the site files the fixture writes.
extern const std::string kTagLine;
extern const std::string kSiteComment;  // sitetag.asc
extern const std::string kOtherComment; // other.asc
extern const std::string kZorvInfo;     // zorv97.nfo
extern const std::string kVelmoInfo;    // velmo97.nfo
extern const std::string kOtherInfo;    // other.nfo

// Puts a shell script, "#!/bin/sh" and then `body`, at the site's
// `site_program` (kZip or kUnzip), mode `perms`.
void put_site_script(const std::string &site_program, const std::string &body,
                     std::filesystem::perms perms = std::filesystem::perms(0755));

// Puts the link to the system's `real_program` back at `site_program`.
void restore_site_program(const std::string &site_program, const std::string &real_program);

// Puts a script at the site's `site_program` (kZip or kUnzip) that runs
// `real_program`, but the first time it is given `option` as its first
// argument (every time, unless `once`) runs the shell text `action` first
// (as the archiver would run: as the archive's owner when the tagger drops
// its rights); `dir`, which that user must be able to write, notes that the
// action ran.
void steer_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir,
                        const std::string &action, bool once = true);

// The shell text that creates `dir`/ready and waits for `dir`/go.
std::string pause_action(const std::string &dir);

// steer_site_program with the pause_action: a run can be stopped at a
// known step.
void pause_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir);

// Waits up to `seconds` for `path` to exist; false when it does not.
bool wait_for_path(const std::string &path, int seconds);

// The lock file in the state directory that the tagger takes for the
// directory `dir` while it changes an archive there.
std::string directory_lock_path(const std::string &dir);

// The lock file that the tagger takes beside the archive `archive` when
// it has no state directory.
std::string beside_lock_path(const std::string &archive);

// An exclusive flock on a file (made when missing) or a directory, held as
// the tagger holds its locks, until the object goes.
class HeldLock {
  public:
    explicit HeldLock(const std::string &path);
    ~HeldLock();
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;

  private:
    int fd_ = -1;
};

// Runs the sandboxed tagger.
RunResult run_tagger(const std::vector<std::string> &args, const RunOptions &options = {});

// Runs it with its system log captured: each message, as "PRIORITY
// MESSAGE" (LOG_ERR is 3, LOG_NOTICE 5, LOG_INFO 6), in *log.
RunResult run_tagger_logged(const std::vector<std::string> &args, std::vector<std::string> *log,
                            RunOptions options = {});

// The build tree's test area, where tests make directories of their own.
extern const std::string kTestTmpRoot;

// Archives made with the system's zip from members given as name and bytes
// (a name may hold a directory part).
struct Member {
    std::string name;
    std::string bytes;
};
void make_zip(const std::string &archive, const std::vector<Member> &members);
// An archive with no members: only the end-of-central-directory record.
void make_empty_zip(const std::string &archive);

// Archives read back with the system's unzip (through a plain-named copy,
// so any name works).
std::vector<std::string> zip_names(const std::string &archive); // sorted
std::string zip_member(const std::string &archive, const std::string &name);
std::string zip_comment(const std::string &archive); // as "unzip -zq" shows it
std::string zip_listing(const std::string &archive); // as "unzip -vqq" shows it

// "unzip -tqq" over the archive: exit status 0 when every member tests sound.
RunResult zip_test(const std::string &archive);

// The first line of an "unzip -vqq" listing that holds `keyword` once
// upper-cased, upper-cased, with its line feed: what the tagger quotes.
std::string listing_line_with(const std::string &archive, const std::string &keyword);

// Replaces the random six characters of the tagger's temporary names
// (rt_filelist_, rt_tmpdiz_, velmotag_) with "XXXXXX".
std::string mask_temp_names(std::string text);

// The command lines the tagger echoes with -c for `archive` (already in
// its quoted form when it needs quoting), with masked temporary names, each
// ended by a line feed.
std::string list_command(const std::string &archive);
std::string extract_command(const std::string &archive);
std::string store_command(const std::string &archive, const std::string &file);
std::string comment_command(const std::string &archive, const std::string &comment_name);
std::string info_command(const std::string &archive, const std::string &nfo_name);

// A rewritten description as stored: the kept lines (already ended by LF
// CR), then the tag line after `indent` blanks (one when 0 or 1) and CR LF.
std::string tagged(const std::string &kept_lines, int indent = 0);

// "chown UID.GID PATH\n" with the file's current owner and group.
std::string chown_line(const std::string &path);

// "Verbose", "Quiet", "Commands", "Debug" or "Siteop" for a mode option,
// and a name for a case parameterised by the mode option alone.
std::string mode_word(const std::string &option);
std::string mode_case_name(const ::testing::TestParamInfo<const char *> &info);

// Lays out the sandbox site (configuration "keyword ZORV97", the site files,
// links to the system's unzip and zip, an empty temporary directory) and
// makes an upload directory of the test's own, removed with the fixture.
class TaggerSite : public ::testing::Test {
  protected:
    void SetUp() override;

    // Replaces velmotag.conf.
    static void write_conf(const std::string &text);

    const std::string &upload_dir() const { return upload_dir_.path(); }
    std::string upload(const std::string &name) const { return upload_dir_.path(name); }

  private:
    velmo::test::TempDir upload_dir_{"upload_", kTestTmpRoot};
};

} // namespace e2e

#endif
