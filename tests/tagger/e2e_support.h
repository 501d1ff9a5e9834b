// Shared by the tagger's end-to-end tests: the sandboxed velmotag binary and
// the site root it was built against, a fixture that lays that site out and
// gives each test an upload directory of its own, a way to run a program and
// capture its output exactly, and archives made and read back with the
// system's zip and unzip.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>
#include <vector>

namespace e2e {

// The fixed paths compiled into the sandboxed tagger.
extern const std::string kTagger;  // the binary itself
extern const std::string kConfDir; // velmotag.conf and the site files
extern const std::string kUnzip;   // link to the system's unzip
extern const std::string kZip;     // link to the system's zip ("//..." as echoed)
extern const std::string kTmpDir;  // where the tagger makes its temporary files

// The tag line compiled in, and the site files the fixture writes.
extern const std::string kTagLine;
extern const std::string kSiteComment;  // sitetag.asc
extern const std::string kOtherComment; // other.asc
extern const std::string kZorvInfo;     // zorv97.nfo
extern const std::string kVelmoInfo;    // velmo97.nfo
extern const std::string kOtherInfo;    // other.nfo

struct RunOptions {
    std::string cwd;              // empty: the test's own
    std::vector<std::string> env; // NAME=value entries added to the child's environment
    mode_t umask = 022;
    bool new_session = false;       // no controlling terminal, so nothing can prompt on /dev/tty
    long long file_size_limit = -1; // RLIMIT_FSIZE, with SIGXFSZ ignored (a full disk's errors)
};

struct RunResult {
    int status = -1; // exit status, or -1 when killed or not started
    int signal = 0;  // the signal that killed it
    std::string out; // standard output, byte for byte
    std::string err; // standard error
};

// Runs `program` with `args` (no shell) and standard input on /dev/null,
// and waits for it. UNZIP, UNZIPOPT, ZIP and ZIPOPT of the test's own
// environment are never passed on; `options.env` may set them on purpose.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const RunOptions &options = {});

// A program started as run_program starts it, running while the test goes
// on; finish() drains its output and waits for it. A program not finished
// is killed with the object.
class Background {
  public:
    Background(const std::string &program, const std::vector<std::string> &args,
               const RunOptions &options = {});
    ~Background();
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    pid_t pid() const { return pid_; }
    RunResult finish();

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
};

// Runs `program` with a new pseudo-terminal as its controlling terminal and
// standard streams, as from an operator's shell, and returns what it wrote
// there (with the terminal's CR LF line ends). Kills it after `seconds`.
RunResult run_on_terminal(const std::string &program, const std::vector<std::string> &args,
                          int seconds);

// Puts a script at the site's `site_program` (kZip or kUnzip) that runs
// `real_program`, but the first time it is given `option` as its first
// argument runs the shell text `action` first (as the archiver would run:
// as the archive's owner when the tagger drops its rights); `dir`, which
// that user must be able to write, notes that the action ran.
void steer_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir,
                        const std::string &action);

// steer_site_program with an action that creates `dir`/ready and waits
// for `dir`/go: a run can be stopped at a known step.
void pause_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir);

// Waits up to `seconds` for `path` to exist; false when it does not.
bool wait_for_path(const std::string &path, int seconds);

// Runs the sandboxed tagger.
RunResult run_tagger(const std::vector<std::string> &args, const RunOptions &options = {});

// Whole-file helpers; read_file gives "" for a missing file.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool path_exists(const std::string &path);                    // without following a link
mode_t file_mode(const std::string &path);                    // permission bits
std::vector<std::string> dir_entries(const std::string &dir); // sorted names

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
// makes an upload directory of the test's own, removed afterwards.
class TaggerSite : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces velmotag.conf.
    static void write_conf(const std::string &text);

    const std::string &upload_dir() const { return upload_dir_; }
    std::string upload(const std::string &name) const { return upload_dir_ + "/" + name; }

  private:
    std::string upload_dir_;
};

} // namespace e2e
