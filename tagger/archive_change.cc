// The protocol, in the order things reach the disk:
//
//   1. a small archive: the record and the original's bytes in the run's
//      journal, synced (with the journal's directory entry, once a run).
//      A large one: the private directory ".velmotag_XXXXXX" beside it,
//      with "copy" (a clone where the file system can, else a copy of its
//      data) and "record"; the original synced (its bytes are usually on
//      disk long since), the record, the private directory and the
//      archive's directory synced, and the record in the journal, synced;
//      then "copy" and the archive's name exchanged in one rename, and both
//      directories synced;
//   2. each zip step, its start and end noted in the journal's progress;
//   3. the changed archive synced, its directory synced: only now is
//      "done" said; the progress marked complete (not synced);
//   4. the private directory removed and the journal emptied (nothing
//      synced: the next run finds the change complete, or nothing to put
//      back, and only tidies up).
//
// A kill or a power cut before 1 is over leaves the original at its name
// and no whole record, or a record of a change that zip never began: the
// next run tidies up. From then until 3 the original is at its name or
// kept, on disk, and the next run puts it back. After 3 the change stands;
// should the power fail before the mark or the removal reached the disk,
// the next run puts the original back and tags it again, so it still ends
// up tagged once.
#include "archive_change.h"

#include "archiver_commands.h"
#include "change_recovery.h"
#include "fd_io.h"
#include "file_copy.h"
#include "fixed_paths.h"
#include "private_dirs.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "upload_path.h"
#include "zip_leftovers.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr char kWorkDirName[] = "work";
constexpr char kWorkingCopyName[] = "archive.zip";

// Room beyond the copy and zip's rewrites for the description, the site's
// files and the file system's own bookkeeping.
constexpr long long kSpareBytes = 64 * 1024;

// Below this size the original is kept in the journal: one write and one
// sync, no files beside the archive. From it on, writing it there would
// cost more than keeping the original itself aside, where only directory
// entries need syncing, but half a dozen of them (measured on ext4).
constexpr off_t kInlineBelow = 4 * 1024 * 1024;

std::string why_errno() {
    return std::strerror(errno);
}

// True when the file system cannot exchange two names in one rename, so
// that the copy must be synced instead.
bool cannot_exchange(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

} // namespace

void ArchiveChange::fail(const char *step, const std::string &why) {
    report_failure(step, job_.path().c_str(), why);
}

bool ArchiveChange::check_site_file(const char *name) {
    const std::string path = in_conf_dir(name);
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd && fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode))
        errno = EINVAL;
    if (!fd || !S_ISREG(st.st_mode)) {
        fail("tagging", "cannot read '" + path + "': " + why_errno());
        return false;
    }
    if (!usable_by_archivers(path, S_IRUSR, "read"))
        return false;
    site_bytes_ += st.st_size;
    return true;
}

// An archiver that runs as the archive's owner reads the site's files and
// writes beside the archive with that user's rights only.
bool ArchiveChange::usable_by_archivers(const std::string &path, mode_t wanted, const char *verb) {
    const ChildCredentials &who = job_.credentials();
    if (!who.switch_user)
        return true;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 &&
        mode_allows(st.st_mode, st.st_uid, st.st_gid, who.uid, who.groups, wanted))
        return true;
    fail("tagging",
         "its owner, user " + std::to_string(who.uid) + ", cannot " + verb + " '" + path + "'");
    return false;
}

// zip writes each new archive beside the old one.
bool ArchiveChange::archivers_can_write_directory() const {
    const ChildCredentials &who = job_.credentials();
    const std::vector<PathStep> &steps = job_.path_steps();
    if (!who.switch_user || steps.empty())
        return true;
    const PathStep &dir = steps.back();
    return mode_allows(dir.mode, dir.uid, dir.gid, who.uid, who.groups, S_IWUSR | S_IXUSR);
}

// A ZIP archive has no holes. An upload that is mostly holes would be
// copied in full, filling the disk with what it does not hold.
bool ArchiveChange::mostly_holes() {
    constexpr off_t kCheckedFrom = 64 * 1024;
    constexpr int kMostRanges = 4096;
    const off_t size = job_.archive_stat().st_size;
    if (size < kCheckedFrom)
        return false;
    off_t data = 0;
    int ranges = 0;
    for (off_t at = 0; at < size && ranges < kMostRanges; ++ranges) {
        const off_t start = lseek(job_.archive_fd(), at, SEEK_DATA);
        if (start < 0)
            break; // ENXIO: no more data; EINVAL: no way to tell, and no holes
        const off_t end = lseek(job_.archive_fd(), start, SEEK_HOLE);
        if (end < 0)
            return false;
        data += end - start;
        at = end;
    }
    if (ranges == 0 && errno == EINVAL)
        return false;
    if (ranges < kMostRanges && data * 2 >= size)
        return false;
    fail("tagging", "it is a sparse file: " + std::to_string(data) + " of its " +
                        std::to_string(size) + " bytes hold data");
    return true;
}

bool ArchiveChange::lock_directory() {
    if (dir_lock_.held())
        return true;
    const char *archive = job_.path().c_str();
    switch (dir_lock_.acquire(job_.dir_fd())) {
    case LockOutcome::Held:
        return true;
    case LockOutcome::Busy:
        note_outcome(Outcome::GivenUp);
        say("busy: another run held its directory for %d seconds\n", LOCK_WAIT_SECONDS);
        log_error("busy '%s': another run held its directory for %d seconds", archive,
                  LOCK_WAIT_SECONDS);
        return false;
    case LockOutcome::Stopped:
    case LockOutcome::Failed:
        break;
    }
    const int error = errno;
    if (error == 0)
        note_outcome(Outcome::GivenUp);
    report_failure("locking", job_.dir_path().c_str(),
                   error == 0 ? "velmotag is stopping" : std::strerror(error));
    return false;
}

bool ArchiveChange::begin() {
    if (begun_)
        return true;
    const bool siteop = settings.siteop != 0;
    if (!usable_by_archivers(CONF_DIR, S_IXUSR, "search") ||
        !check_site_file(siteop ? kSiteopCommentFile : settings.comment_name) ||
        !check_site_file(siteop ? kSiteopInfoFile : settings.nfo_name))
        return false;
    if (access(ZIP_PATH, X_OK) != 0) {
        fail("tagging", "cannot run '" + std::string(ZIP_PATH) + "': " + why_errno());
        return false;
    }
    if (!usable_by_archivers(ZIP_PATH, S_IXUSR, "run"))
        return false;
    if (!job_.unchanged()) {
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    if (mostly_holes())
        return false;
    const struct stat &st = job_.archive_stat();
    const ChildCredentials &who = job_.credentials();
    // In a directory that only root may write, zip works on a copy in a
    // directory of the owner's, and root puts the result in place.
    const bool in_place =
        st.st_nlink == 1 && !zip_would_extend(job_.name()) && archivers_can_write_directory();
    record_.kind = !in_place                   ? BackupKind::WorkingCopy
                   : st.st_size < kInlineBelow ? BackupKind::Inline
                                               : BackupKind::Exchange;
    record_.dir_path = job_.dir_path();
    record_.archive = job_.name();
    record_.archivers_uid = who.switch_user ? who.uid : geteuid();
    record_.original = identity_of(st);
    record_.owner = st.st_uid;
    record_.group = st.st_gid;
    record_.mode = st.st_mode & 07777;
    record_.atime = st.st_atim;
    record_.boot_id = current_boot_id();
    if (!has_room() || !lock_directory())
        return false;
    // The run's journal, or without a state directory the archive's lock
    // file, which stands beside the archive.
    ArchiveLock &lock = job_.lock();
    if (lock.is_journal())
        journal_ = &fallback_journal_.emplace(lock.fd(), lock.dir_fd());
    else
        journal_ = ChangeJournal::of_run();
    if (!journal_ || record_.dir_path[0] != '/') {
        fail("tagging", "its change cannot be written down: " + why_errno());
        return false;
    }
    begun_ = true;
    bool kept = false;
    switch (record_.kind) {
    case BackupKind::Inline:
        kept = keep_inline();
        break;
    case BackupKind::Copy:
    case BackupKind::Exchange:
        kept = keep_beside();
        break;
    case BackupKind::WorkingCopy:
        kept = make_working_copy();
        break;
    }
    if (!kept) {
        roll_back();
        return false;
    }
    return true;
}

// The room for a copy of the archive and for zip's new archive beside it,
// looked at before anything is written.
bool ArchiveChange::has_room() {
    struct statvfs fs;
    if (fstatvfs(job_.dir_fd(), &fs) != 0)
        return true;
    const long long size = job_.archive_stat().st_size;
    const long long needed = 2 * size + kSpareBytes + 2 * DIZ_MAX + site_bytes_;
    const long long left =
        static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
    if (left >= needed)
        return true;
    fail("tagging", "it needs " + std::to_string(needed) + " bytes free on its file system, " +
                        std::to_string(left) + " are left");
    return false;
}

// A copy of the archive as it was listed, named `name` in `dir_fd`, with
// the archive's owner, mode and times.
bool ArchiveChange::make_copy(int dir_fd, const char *name) {
    UniqueFd copy(openat(dir_fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const struct stat &st = job_.archive_stat();
    if (!copy || !clone_or_copy(job_.archive_fd(), copy.get(), st.st_size) ||
        !take_attributes(copy.get(), st)) {
        fail("tagging", "cannot make a copy of it: " + why_errno());
        return false;
    }
    if (!job_.unchanged()) {
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    return true;
}

bool ArchiveChange::make_private_directory_beside() {
    private_fd_ = make_private_directory(job_.dir_fd(), kPrivatePrefix, &record_.private_name);
    if (!private_fd_) {
        fail("tagging", "cannot make a private directory beside it: " + why_errno());
        return false;
    }
    return true;
}

bool ArchiveChange::write_journal(bool durable) {
    progress_ = ChangeProgress{};
    if (!journal_->write(record_, job_.archive_fd(), durable)) {
        fail("tagging", "cannot write the record of its change to disk: " + why_errno());
        return false;
    }
    if (!job_.lock().is_journal())
        job_.lock().point_at(journal_->name());
    return true;
}

// The record beside the kept original as well, so that a run over the
// directory finds the change even without the journal.
bool ArchiveChange::write_private_record() {
    UniqueFd fd(openat(private_fd_.get(), kRecordName,
                       O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    const std::string text = encode_record(record_);
    if (!fd || !write_fully(fd.get(), text.data(), text.size(), 0) || fsync(fd.get()) != 0) {
        fail("tagging", "cannot write the record of its change to disk: " + why_errno());
        return false;
    }
    return true;
}

bool ArchiveChange::keep_inline() {
    record_.begun = realtime_now();
    if (!write_journal(true))
        return false;
    // What was kept is what was listed.
    if (!job_.unchanged()) {
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    zip_target_ = job_.path();
    return true;
}

bool ArchiveChange::keep_beside() {
    const int dir = job_.dir_fd();
    // Named in the journal before the copy is made: a run killed while it
    // copies leaves the directory to the next run, whatever that one is
    // given. Nothing of the archive has changed yet, so this need not be on
    // disk.
    record_.begun = realtime_now();
    if (!make_private_directory_beside() || !write_journal(false) ||
        !make_copy(private_fd_.get(), kBackupName))
        return false;
    const int kept = private_fd_.get();
    record_.begun = realtime_now();
    if (fsync(job_.archive_fd()) != 0 || !write_private_record() || !sync_directory(kept) ||
        !sync_directory(dir) || !write_journal(true)) {
        fail("tagging", "cannot write the record of its change to disk: " + why_errno());
        return false;
    }
    zip_target_ = job_.path();
    const char *name = job_.name().c_str();
    if (renameat2(kept, kBackupName, dir, name, RENAME_EXCHANGE) != 0) {
        if (!cannot_exchange(errno)) {
            fail("tagging", "cannot swap a copy in at its name: " + why_errno());
            return false;
        }
        // This file system keeps the copy the plain way: on disk.
        UniqueFd copy(openat(kept, kBackupName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        record_.kind = BackupKind::Copy;
        if (!copy || fsync(copy.get()) != 0) {
            fail("tagging", "cannot write a copy of it to disk: " + why_errno());
            return false;
        }
        return write_private_record() && write_journal(true);
    }
    // The archive's owner may have replaced it just before: then its file
    // goes back to its name, and it is not changed in this run.
    struct stat swapped;
    if (fstatat(kept, kBackupName, &swapped, AT_SYMLINK_NOFOLLOW) != 0 ||
        !is_file(swapped, record_.original)) {
        renameat2(kept, kBackupName, dir, name, RENAME_EXCHANGE);
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    if (!sync_directory(kept) || !sync_directory(dir)) {
        fail("tagging", "cannot write the record of its change to disk: " + why_errno());
        return false;
    }
    return true;
}

bool ArchiveChange::make_working_copy() {
    if (!make_private_directory_beside())
        return false;
    // Searchable, not readable, by archivers that run as the archive's owner.
    const ChildCredentials &who = job_.credentials();
    if (who.switch_user && fchmod(private_fd_.get(), 0711) != 0) {
        fail("tagging", "cannot make a private directory beside it: " + why_errno());
        return false;
    }
    if (mkdirat(private_fd_.get(), kWorkDirName, 0700) == 0)
        work_fd_.reset(openat(private_fd_.get(), kWorkDirName,
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // zip writes its new archive beside the copy, as the archive's owner.
    if (work_fd_ && who.switch_user && fchown(work_fd_.get(), who.uid, who.gid) != 0)
        work_fd_.reset();
    if (!work_fd_) {
        fail("tagging", "cannot make a working copy of it: " + why_errno());
        return false;
    }
    // Until the copy is renamed over the upload nothing of the upload
    // changes: the record only helps the next run tidy up, and need not be
    // on disk.
    record_.begun = realtime_now();
    if (!write_journal(false) || !make_copy(work_fd_.get(), kWorkingCopyName))
        return false;
    zip_target_ =
        job_.dir_path() + "/" + record_.private_name + "/" + kWorkDirName + "/" + kWorkingCopyName;
    return true;
}

void ArchiveChange::write_progress() {
    if (journal_)
        journal_->write_progress(progress_);
}

void ArchiveChange::step_starting() {
    progress_.state = ChangeState::StepRunning;
    ++progress_.step;
    progress_.step_start = file_clock_now();
    progress_.last_seen = progress_.step_start;
    progress_.child = 0;
    step_failed_ = false;
    write_progress();
}

void ArchiveChange::step_child(pid_t pid) {
    progress_.child = pid;
    write_progress();
}

int ArchiveChange::children_lock_fd() const {
    return journal_ ? journal_->children_fd() : -1;
}

void ArchiveChange::step_waiting() {
    progress_.last_seen = file_clock_now();
    write_progress();
}

void ArchiveChange::step_ended(const ChildStatus &status) {
    progress_.state = ChangeState::StepEnded;
    progress_.last_seen = file_clock_now();
    step_failed_ = !status.succeeded();
    write_progress();
}

bool ArchiveChange::commit() {
    if (!begun_ || finished_)
        return true;
    const int dir = job_.dir_fd();
    const char *name = job_.name().c_str();
    struct stat st;
    if (record_.kind == BackupKind::WorkingCopy) {
        if (!job_.unchanged()) {
            fail("replacing", "it was changed while being tagged");
            roll_back();
            return false;
        }
        // Not blocking on a fifo that the owner's zip put in its place.
        UniqueFd result(openat(work_fd_.get(), kWorkingCopyName,
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        const bool opened = result && fstat(result.get(), &st) == 0;
        if (opened && (!S_ISREG(st.st_mode) || st.st_nlink != 1)) {
            fail("replacing", "something else was put in place of its working copy");
            roll_back();
            return false;
        }
        if (!opened || fsync(result.get()) != 0 ||
            renameat(work_fd_.get(), kWorkingCopyName, dir, name) != 0 || !sync_directory(dir)) {
            fail("replacing", why_errno());
            roll_back();
            return false;
        }
        job_.set_result(std::move(result));
    } else {
        // zip follows a link put in the archive's place and writes through it.
        UniqueFd result(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!result || fstat(result.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            is_file(st, record_.original)) {
            fail("tagging", "something else was put in its place");
            roll_back();
            return false;
        }
        job_.set_result(std::move(result));
        if (!sync_result(job_.result_fd()))
            return false;
    }
    finished_ = true;
    end_change();
    return true;
}

// The new archive and its directory entry on disk; then the mark that the
// change is complete, on disk before "done": a later run never puts back
// the original of a change that was told done.
bool ArchiveChange::sync_result(int result_fd) {
    progress_.state = ChangeState::Complete;
    if (fsync(result_fd) != 0 || !sync_directory(job_.dir_fd()) ||
        (journal_ && !journal_->write_progress(progress_, true))) {
        progress_.state = ChangeState::StepEnded;
        fail("tagging", "cannot write it to disk: " + why_errno());
        roll_back();
        return false;
    }
    return true;
}

void ArchiveChange::roll_back() {
    if (!begun_ || finished_) {
        dir_lock_.release();
        return;
    }
    finished_ = true;
    std::string why;
    const PutBack put =
        put_back_original(job_.dir_fd(), record_, private_fd_.get(), job_.archive_fd(), 0, &why);
    // A zip that was killed, or ran out of room or time, leaves its new
    // archive behind; this run knows when it ran.
    if (step_failed_ && record_.kind != BackupKind::WorkingCopy)
        remove_zip_leftover(job_.dir_fd(),
                            {progress_.step_start, time_plus(file_clock_now(), 1),
                             record_.archivers_uid, zip_leftover_max(record_.original.size)});
    if (put == PutBack::Failed) {
        // The journal and what it names stay, for the next run to end.
        fail("restoring", why + "; the next run puts it back");
        job_.lock().keep();
        if (!job_.lock().is_journal())
            journal_->abandon();
        dir_lock_.release();
        return;
    }
    end_change();
}

// The change is over: its files go, the journal is emptied and the lock
// file no longer points at it.
void ArchiveChange::end_change() {
    remove_private_files();
    if (journal_)
        journal_->clear();
    job_.lock().change_over();
    dir_lock_.release();
}

// The entries are known; only when zip left something of its own in the
// working directory is the directory read to find it.
void ArchiveChange::remove_private_files() {
    if (!private_fd_)
        return;
    const int kept = private_fd_.get();
    if (work_fd_) {
        unlinkat(work_fd_.get(), kWorkingCopyName, 0);
        work_fd_.reset();
        unlinkat(kept, kWorkDirName, AT_REMOVEDIR);
    }
    unlinkat(kept, kBackupName, 0);
    unlinkat(kept, kRecordName, 0);
    const char *name = record_.private_name.c_str();
    if (unlinkat(job_.dir_fd(), name, AT_REMOVEDIR) != 0)
        remove_private_directory(job_.dir_fd(), name, kept);
    private_fd_.reset();
}
