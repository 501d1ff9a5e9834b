// Options are read in a pass of their own before any archive, so an option
// given after the archive names still applies to all of them. Only an
// option's second character counts: -quiet is -q, and -qs is -q alone.
#include "driver.h"

#include "archive_job.h"
#include "archiver.h"
#include "change_journal.h"
#include "change_recovery.h"
#include "config.h"
#include "fixed_paths.h"
#include "known_marks.h"
#include "pipeline.h"
#include "private_dirs.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "stop_signals.h"
#include "unique_fd.h"
#include "upload_path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_option(const char *arg) {
    return arg[0] == '-';
}

void apply_option(const char *arg) {
    switch (arg[1]) {
    case 'V':
        std::printf("ZorvTag v1.0\n");
        std::exit(0);
    case 'c':
        settings.show_commands = 1;
        settings.verbose = 0;
        settings.siteop = 0;
        std::printf("%s: commandlines:\n", settings.progname);
        break;
    case 'd':
        std::printf("%s: debug mode on\n", settings.progname);
        settings.debug = 1;
        break;
    case 'q':
        settings.verbose = 0;
        break;
    case 's':
        settings.verbose = 0;
        settings.siteop = 1;
        open_system_log();
        std::fflush(stdout);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            log_error("reopening standard output on /dev/null: %m");
        break;
    case 'v':
        settings.verbose = 1;
        std::printf("%s: verbose mode on\n", settings.progname);
        break;
    default:
        usage();
    }
}

// The archivers read extra options from these; the tagger's commands must
// run with their fixed options only.
void drop_archiver_options_from_environment() {
    for (const char *name : {"UNZIP", "UNZIPOPT", "ZIP", "ZIPOPT"})
        unsetenv(name);
}

// A descriptor 0, 1 or 2 that the tagger was started without would be
// taken by the first file it opens, which a child would then read or write
// as its standard input or output.
void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            std::abort();
    }
}

// What killed runs left in the temporary directory goes before the first
// archive; each archive's own directory is cleared when it is opened.
void clear_temporary_directory() {
    UniqueFd tmp(open(TMP_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tmp)
        remove_leftovers_once(tmp.get(), kTmpDirLeftovers);
}

// An archive that a zip killed halfway left missing from its name is put
// back when its directory's leftovers are cleared, and, without a state
// directory, found no other way: a run over that name clears the directory
// first. True when the directory was opened.
bool end_changes_in_directory_of(const char *arg) {
    const std::string dir = directory_of(arg);
    ResolvedPath resolved;
    std::vector<PathStep> steps;
    UniqueFd dir_fd;
    if (resolve_archive_path(dir.c_str(), &resolved))
        dir_fd = open_directory_walk(resolved.path, &steps);
    if (!dir_fd)
        return false;
    remove_leftovers_once(dir_fd.get(), kUploadDirLeftovers);
    return true;
}

// Tags one archive argument and gives the rewritten archive its owner and
// group back: those of the file that was opened and checked, whatever
// stood at the name before or after. An argument that cannot be resolved
// is "file not found". The ownership step acts on the file that the change
// produced and checked, through its descriptor, and only when the archive
// was tagged: whatever else stands at the name then is never handed to
// anyone.
// An archive known to carry the mark (known_marks.h) is passed over.
// Returns the archive's resolved path (empty when it has none).
std::string tag_archive(const char *arg) {
    begin_archive();
    if (known_to_carry_mark(arg)) {
        note_outcome(Outcome::AlreadyTagged);
        end_archive();
        return "";
    }
    ResolvedPath resolved;
    bool found = resolve_archive_path(arg, &resolved);
    if (!found && errno == ENOENT && end_changes_in_directory_of(arg))
        found = resolve_archive_path(arg, &resolved);
    auto job = found ? std::make_unique<ArchiveJob>(resolved.path, resolved.link_owners)
                     : std::make_unique<ArchiveJob>(arg, std::vector<uid_t>{}, false);

    process_zipfile(*job);
    end_archive();
    if (job->result_fd() >= 0) {
        const struct stat &st = job->archive_stat();
        if (settings.show_commands)
            std::printf("chown %d.%d %s\n", static_cast<int>(st.st_uid),
                        static_cast<int>(st.st_gid), job->path().c_str());
        if (fchown(job->result_fd(), st.st_uid, st.st_gid) != 0) {
            // Not being root, the tagger cannot give files away; nothing to tell.
        }
    }
    remember_mark(*job, archive_outcome());
    return found ? job->path() : "";
}

} // namespace

void usage() {
    std::printf("Usage: %s [OPTION]... [Filename]...\n\n", settings.progname);
    std::printf("   -q    be quiet (output nothing, even on error)\n"
                "   -c    commandline output, shows what system commands are\n"
                "         being done.\n"
                "   -d    debug mode.\n"
                "   -s    siteop mode on (no output, errors to syslog)\n"
                "   -v    verbose mode on (default)\n"
                "   -?    display this help and exit\n"
                "   -V    display version information and exit\n"
                "\n"
                "Note that in this portable version long args are not allowed\n"
                "and options must be separate, i.e. use '-q -s' not '-qs'.\n");
    std::exit(1);
}

int velmotag_main(int argc, char **argv) {
    ensure_standard_descriptors();
    if (argc <= 1)
        usage();
    for (int i = 1; i < argc; ++i) {
        if (is_option(argv[i]))
            apply_option(argv[i]);
    }
    install_stop_signals();
    drop_archiver_options_from_environment();
    read_datafile();
    // Before any archive of its own, a run ends the changes that runs
    // killed before it left, wherever they were.
    recover_interrupted_changes();
    bool cleared = false;
    std::set<std::string> done;
    const auto tag = [&](const char *arg) {
        if (!cleared) {
            clear_temporary_directory();
            check_archivers();
            cleared = true;
        }
        done.insert(tag_archive(arg));
    };
    for (int i = 1; i < argc && !stop_requested(); ++i) {
        if (!is_option(argv[i]))
            tag(argv[i]);
    }
    // The archives whose originals the run put back for runs killed while
    // tagging them: nobody may name them again.
    for (std::vector<std::string> put_back = take_put_back_archives();
         !put_back.empty() && !stop_requested(); put_back = take_put_back_archives()) {
        for (const std::string &path : put_back) {
            if (done.count(path) == 0 && !stop_requested())
                tag(path.c_str());
        }
    }
    // What the run kept in the state directory goes, unless a change in it
    // could not be ended.
    ChangeJournal::end_of_run();
    remove_directory_locks();
    const Tally &tally = run_tally();
    say("%s: %d files tagged\n", settings.progname, tally.tagged);
    log_info("tagged %d, already tagged %d, given up %d, failed %d", tally.tagged,
             tally.already_tagged, tally.given_up, tally.failed);
    if (settings.siteop)
        close_system_log();
    // A run told to stop ends as a program killed by that signal would,
    // once the archive in hand is finished or put back.
    std::fflush(stdout);
    if (stop_requested())
        end_by_stop_signal();
    return tally.given_up + tally.failed > 0 ? kExitNotAllTagged : 0;
}
