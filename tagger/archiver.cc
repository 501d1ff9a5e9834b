#include "archiver.h"

#include "archive_alias.h"
#include "archiver_commands.h"
#include "fixed_paths.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "stop_signals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The step a failed extraction is reported as.
constexpr char kExtractStep[] = "extracting FILE_ID.DIZ from";

// unzip's exit status when it finds no archive at the name it is given.
constexpr int kUnzipNoArchive = 9;

// The start of an archiver that runs as `job`'s archivers do.
ChildStart start_as(const ArchiveJob &job) {
    ChildStart start;
    start.credentials = job.credentials();
    start.cpu_seconds = CHILD_CPU_SECONDS;
    start.time_limit = CHILD_TIME_SECONDS;
    return start;
}

// Runs `call` with what `start` says beyond the program and its standard
// input and output. In siteop mode the child writes the listing or
// description through the tagger's own descriptor of it, `output_fd`, and
// reads the comment through one the tagger opened; in the other modes the
// shell line's redirections open them.
ChildStatus run_archiver(const ArchiverCall &call, int output_fd, ChildStart start) {
    // Before the echo: a line that is not run is not shown.
    if (stop_requested())
        return ChildStatus::not_started_for_stop();
    if (!settings.siteop) {
        const std::string line = shell_command(call);
        echo_command(line.c_str());
        return run_shell(line, start);
    }
    const DirectStart direct = direct_start(call);
    start.program = direct.argv[0];
    start.argv = direct.argv;
    UniqueFd input;
    if (!direct.stdin_path.empty()) {
        input.reset(open(direct.stdin_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!input)
            return ChildStatus::start_failed(errno);
        start.stdin_fd = input.get();
    }
    if (!direct.stdout_path.empty()) {
        // Emptied only when there is something to empty: on ext4 a file
        // truncated to zero is written out as soon as it is closed.
        struct stat st;
        if (fstat(output_fd, &st) != 0 || (st.st_size > 0 && ftruncate(output_fd, 0) != 0))
            return ChildStatus::start_failed(errno);
        start.stdout_fd = output_fd;
    }
    return run_child(start);
}

ChildStatus run_unzip(ArchiverOp op, const ArchiveJob &job, const TemporaryFile &output,
                      long long file_size_limit) {
    const UnzipAlias alias(job.path());
    if (alias.name().empty())
        return ChildStatus::start_failed(errno);
    ChildStart start = start_as(job);
    start.file_size_limit = file_size_limit;
    return run_archiver({op, alias.name(), output.path()}, output.fd(), std::move(start));
}

// Each zip step is noted in the change's record: when it began, that the
// run still waits for it, and when it ended.
ChildStatus run_zip(ArchiverOp op, const ArchiveJob &job, ArchiveChange &change,
                    const std::string &file = "") {
    ChildStart start = start_as(job);
    start.tick = [&change] { change.step_waiting(); };
    start.started = [&change](pid_t pid) { change.step_child(pid); };
    start.held_fd = change.children_lock_fd();
    change.step_starting();
    const ChildStatus status = run_archiver({op, change.zip_target(), file}, -1, std::move(start));
    change.step_ended(status);
    return status;
}

// Where unzip's archive cannot be counted (yet unzip read it), its
// listing is still read no further than this.
constexpr long long kUncountedListingLimit = 16 * 1024 * 1024;

// In siteop mode a child writes the listing or description through the
// tagger's own descriptor; only a shell, in the other modes, opens it by
// name, and needs it to be its user's while it runs.
bool hand_to_archiver(TemporaryFile &file, const ArchiveJob &job) {
    return settings.siteop || file.give_to(job.credentials());
}

// Gives up an archive that could not be opened or locked for listing.
int refuse_archive(ArchiveJob::Opened opened, const ArchiveJob &job, const char *listing) {
    const char *archive = job.path().c_str();
    switch (opened) {
    case ArchiveJob::Opened::Missing:
        say("file not found\n");
        trace("LEAVING[1] get_filelist( %s, %s )\n", archive, listing);
        log_error("stat '%s': %m", archive);
        break;
    case ArchiveJob::Opened::NotRegular:
        say("not a zipfile or no files in ZIP\n");
        trace("LEAVING[3] get_filelist( %s, %s )\n", archive, listing);
        log_error("listing '%s': not a zipfile or no files in ZIP (not a regular file)", archive);
        break;
    case ArchiveJob::Opened::Unsafe:
        note_outcome(Outcome::GivenUp);
        report_failure("opening", archive, job.refusal());
        trace("LEAVING[7] get_filelist( %s, %s )\n", archive, listing);
        break;
    case ArchiveJob::Opened::Busy:
        note_outcome(Outcome::GivenUp);
        say("busy: another run held it for %d seconds\n", LOCK_WAIT_SECONDS);
        trace("LEAVING[4] get_filelist( %s, %s )\n", archive, listing);
        log_error("busy '%s': another run held it for %d seconds", archive, LOCK_WAIT_SECONDS);
        break;
    case ArchiveJob::Opened::LockFailed:
        if (errno == EINTR)
            note_outcome(Outcome::GivenUp);
        report_failure("locking", archive,
                       errno == EINTR ? "velmotag is stopping" : std::strerror(errno));
        trace("LEAVING[5] get_filelist( %s, %s )\n", archive, listing);
        break;
    case ArchiveJob::Opened::Unfinished:
        note_outcome(Outcome::GivenUp);
        report_failure("tagging", archive,
                       "a change of it that a stopped run began cannot be ended yet");
        trace("LEAVING[9] get_filelist( %s, %s )\n", archive, listing);
        break;
    case ArchiveJob::Opened::Yes:
        return 0;
    }
    return 1;
}

} // namespace

void report_step_failure(const char *step, const char *archive, Archiver program,
                         const ChildStatus &status) {
    // A step that a stop request cut short leaves the archive to a later run.
    if (status.stopped || status.killed == ChildKill::Stop)
        note_outcome(Outcome::GivenUp);
    report_failure(step, archive,
                   std::string(program == Archiver::Unzip ? "unzip " : "zip ") +
                       describe_status(status, program));
}

namespace {

// errno of the first check that failed for each program, 0 when usable.
int unzip_error = 0;
int zip_error = 0;

int usability_error(const char *program) {
    struct stat st;
    if (stat(program, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EACCES;
    return access(program, X_OK) == 0 ? 0 : errno;
}

} // namespace

void check_archivers() {
    unzip_error = usability_error(UNZIP_PATH);
    zip_error = usability_error(ZIP_PATH);
}

int get_filelist(ArchiveJob &job, TemporaryFile &listing, ListingFacts *facts) {
    const char *archive = job.path().c_str();
    const char *listing_path = listing.path().c_str();
    trace("BEGIN get_filelist( %s, %s )\n", archive, listing_path);
    const ArchiveJob::Opened opened =
        job.open_directory() ? job.open_archive() : ArchiveJob::Opened::Missing;
    if (refuse_archive(opened, job, listing_path) != 0)
        return 1;
    if (unzip_error != 0 || zip_error != 0) {
        const bool unzip_missing = unzip_error != 0;
        report_failure("tagging", archive,
                       std::string("cannot run '") + (unzip_missing ? UNZIP_PATH : ZIP_PATH) +
                           "': " + std::strerror(unzip_missing ? unzip_error : zip_error));
        trace("LEAVING[8] get_filelist( %s, %s )\n", archive, listing_path);
        return 1;
    }
    if (!hand_to_archiver(listing, job)) {
        report_failure("listing", archive, std::strerror(errno));
        trace("LEAVING[2] get_filelist( %s, %s )\n", archive, listing_path);
        return 1;
    }
    const ChildStatus status = run_unzip(ArchiverOp::ListContents, job, listing, -1);
    listing.take_back();
    if (status.stopped || status.killed != ChildKill::None) {
        report_step_failure("listing", archive, Archiver::Unzip, status);
        trace("LEAVING[2] get_filelist( %s, %s )\n", archive, listing_path);
        return 1;
    }
    // Exit status 1 is a warning (such as an empty archive); from 2 on,
    // unzip could not read the archive.
    const bool read = status.exit_code >= 0 && status.exit_code < 2;
    // Room for the listing may have come free again since unzip met a full
    // disk: the archive's own member count is what tells a whole listing.
    // Its directory also bounds what the listing may hold: the listing's
    // file is read once, no further.
    ZipDirectory directory;
    const bool counted = read && read_zip_directory(job.archive_fd(), &directory);
    const long long limit = counted ? listing_limit(directory) : kUncountedListingLimit;
    if (read && !listing.take_snapshot(limit)) {
        report_failure("listing", archive,
                       errno == EFBIG ? "its listing in '" + listing.path() +
                                            "' holds more than its archive can: over " +
                                            std::to_string(limit) + " bytes"
                                      : std::strerror(errno));
        trace("LEAVING[6] get_filelist( %s, %s )\n", archive, listing_path);
        return 1;
    }
    *facts = read_listing_facts(listing.snapshot().bytes(), listing.fd());
    const unsigned long long members = directory.members;
    const bool all_listed = !counted || members == static_cast<unsigned long long>(facts->lines);
    if (read && (!facts->whole || !all_listed)) {
        std::string why = "its listing in '" + listing.path() + "' was cut short";
        if (facts->cut_error != 0)
            why += std::string(": ") + std::strerror(facts->cut_error);
        else if (!all_listed)
            why += ": it names " + std::to_string(facts->lines) + " of " + std::to_string(members) +
                   " members";
        report_failure("listing", archive, why);
        trace("LEAVING[6] get_filelist( %s, %s )\n", archive, listing_path);
        return 1;
    }
    if (!read || facts->lines == 0) {
        say("not a zipfile or no files in ZIP\n");
        trace("LEAVING[2] get_filelist( %s, %s )\n", archive, listing_path);
        // unzip's 9 says "archive not found": here the archive is there,
        // open, and unzip found no archive in it.
        const std::string why = !read ? status.exit_code == kUnzipNoArchive
                                            ? "unzip exit status 9: damaged, or not a ZIP archive"
                                            : "unzip " + describe_status(status, Archiver::Unzip)
                                      : "no members";
        log_error("listing '%s': not a zipfile or no files in ZIP (%s)", archive, why.c_str());
        return 1;
    }
    trace("LEAVING get_filelist( %s, %s )\n", archive, listing_path);
    return 0;
}

int get_dizfile(ArchiveJob &job, TemporaryFile &description, const ListingFacts &facts) {
    const char *archive = job.path().c_str();
    const char *description_path = description.path().c_str();
    trace("BEGIN get_dizfile( %s, %s )\n", archive, description_path);
    const std::string limit = "more than the limit of " + std::to_string(DIZ_MAX) + " bytes";
    if (facts.description_listed &&
        facts.description_bytes > static_cast<unsigned long long>(DIZ_MAX)) {
        report_failure(kExtractStep, archive,
                       "it has " + std::to_string(facts.description_bytes) + " bytes, " + limit);
        trace("LEAVING[2] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    if (!hand_to_archiver(description, job)) {
        report_failure(kExtractStep, archive, std::strerror(errno));
        trace("LEAVING[1] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    const ChildStatus status = run_unzip(ArchiverOp::ExtractDescription, job, description, DIZ_MAX);
    description.take_back();
    // Read once, and no further than the limit; a file that holds more is
    // one the listing lied about, or one someone else made grow.
    const bool taken = description.take_snapshot(DIZ_MAX);
    if (!taken && errno != EFBIG) {
        report_failure(kExtractStep, archive, std::strerror(errno));
        trace("LEAVING[1] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    const long long written =
        taken ? static_cast<long long>(description.snapshot().bytes().size()) : DIZ_MAX + 1;
    // The listing may lie about the length: then unzip runs into the size
    // limit, and is stopped there.
    if (!status.stopped && written >= DIZ_MAX &&
        (!status.succeeded() || !facts.description_listed ||
         static_cast<unsigned long long>(written) != facts.description_bytes)) {
        report_failure(kExtractStep, archive, "it has " + limit);
        trace("LEAVING[2] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    if (!status.succeeded()) {
        report_step_failure(kExtractStep, archive, Archiver::Unzip, status);
        trace("LEAVING[1] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    if (facts.description_listed &&
        static_cast<unsigned long long>(written) != facts.description_bytes) {
        report_failure(kExtractStep, archive,
                       "got " + std::to_string(written) + " of its " +
                           std::to_string(facts.description_bytes) + " bytes");
        trace("LEAVING[3] get_dizfile( %s, %s )\n", archive, description_path);
        return 1;
    }
    trace("LEAVING get_dizfile( %s, %s )\n", archive, description_path);
    return 0;
}

ChildStatus store_description(const ArchiveJob &job, ArchiveChange &change,
                              const std::string &file) {
    return run_zip(ArchiverOp::StoreDescription, job, change, file);
}

ChildStatus delete_member(const ArchiveJob &job, ArchiveChange &change, const std::string &member) {
    return run_zip(ArchiverOp::DeleteMember, job, change, member);
}

int add_zorv_stuff(const ArchiveJob &job, ArchiveChange &change) {
    const char *archive = job.path().c_str();
    trace("BEGIN add_zorv_stuff( %s )\n", archive);
    ChildStatus status = run_zip(ArchiverOp::SetComment, job, change);
    const char *step = "setting the comment of";
    if (status.succeeded()) {
        status = run_zip(ArchiverOp::AddInfo, job, change);
        step = "adding the info file to";
    }
    if (!status.succeeded()) {
        report_step_failure(step, archive, Archiver::Zip, status);
        trace("LEAVING[1] add_zorv_stuff( %s )\n", archive);
        return 1;
    }
    trace("LEAVING add_zorv_stuff( %s )\n", archive);
    return 0;
}
