// The protocol, in the order things reach the disk (an ordinary archive):
//
//   1. the private directory ".velmotag_XXXXXX" beside the archive, and in
//      it "copy": a copy of the archive (a clone where the file system can)
//      with its owner, mode and times;
//   2. a small archive: the copy synced. A large one: the original synced
//      (its bytes are usually on disk long since);
//   3. "record" (kind, archive, original's identity), synced; the private
//      directory and the archive's directory synced; the intent in the
//      archive's lock file, synced with its directory;
//   4. a large archive: "copy" and the archive's name exchanged in one
//      rename, and both directories synced;
//   5. each zip step, its start and end noted in the record's progress;
//   6. the changed archive synced, its directory synced, then the progress
//      marked complete and synced: only now is "done" said;
//   7. the private directory and the intent removed (nothing synced: the
//      next run finds the change complete and only tidies up).
//
// A kill or a power cut before 3 leaves the original at its name and no
// whole record: the next run removes the private directory. From 3 until 6
// the original is at its name or in "copy", on disk, and the next run puts
// it back. After 6 the change stands.
#include "archive_change.h"

#include "archiver_commands.h"
#include "change_recovery.h"
#include "file_copy.h"
#include "fixed_paths.h"
#include "private_dirs.h"
#include "report.h"
#include "settings.h"
#include "upload_path.h"
#include "zip_leftovers.h"

#include <cerrno>
#include <cstdio>
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

// From this size on the copy is swapped in at the archive's name instead of
// being synced: below it, syncing the copy's few blocks costs less than the
// second pair of directory syncs that the exchange needs.
constexpr off_t kExchangeFrom = 1024 * 1024;

std::string why_errno() {
    return std::strerror(errno);
}

timespec now_realtime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

const std::string &boot_id() {
    static const std::string id = current_boot_id();
    return id;
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
    const std::string path = std::string(CONF_DIR) + "/" + name;
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
        mode_allows(st.st_mode, st.st_uid, st.st_gid, who.uid, who.gid, wanted))
        return true;
    fail("tagging",
         "its owner, user " + std::to_string(who.uid) + ", cannot " + verb + " '" + path + "'");
    return false;
}

// zip writes each new archive beside the old one.
bool ArchiveChange::directory_writable_by_archivers() {
    const ChildCredentials &who = job_.credentials();
    const std::vector<PathStep> &steps = job_.path_steps();
    if (!who.switch_user || steps.empty())
        return true;
    const PathStep &dir = steps.back();
    if (mode_allows(dir.mode, dir.uid, dir.gid, who.uid, who.gid, S_IWUSR | S_IXUSR))
        return true;
    fail("tagging",
         "its owner, user " + std::to_string(who.uid) + ", cannot write '" + job_.dir_path() + "'");
    return false;
}

bool ArchiveChange::lock_directory() {
    if (dir_lock_.held())
        return true;
    const char *archive = job_.path().c_str();
    switch (dir_lock_.acquire(job_.dir_fd())) {
    case LockOutcome::Held:
        return true;
    case LockOutcome::Busy:
        say("busy: another run held its directory for %d seconds\n", LOCK_WAIT_SECONDS);
        log_error("busy '%s': another run held its directory for %d seconds", archive,
                  LOCK_WAIT_SECONDS);
        return false;
    case LockOutcome::Stopped:
    case LockOutcome::Failed:
        break;
    }
    const int error = errno;
    report_failure("locking", job_.dir_path().c_str(),
                   error == 0 ? "velmotag is stopping" : std::strerror(error));
    return false;
}

bool ArchiveChange::begin() {
    if (begun_)
        return true;
    const bool siteop = settings.siteop != 0;
    if (!usable_by_archivers(CONF_DIR, S_IXUSR, "search") ||
        !check_site_file(siteop ? "sitetag.asc" : settings.comment_name) ||
        !check_site_file(siteop ? "velmo97.nfo" : settings.nfo_name))
        return false;
    if (access(ZIP_PATH, X_OK) != 0) {
        fail("tagging", "cannot run '" + std::string(ZIP_PATH) + "': " + why_errno());
        return false;
    }
    if (!usable_by_archivers(ZIP_PATH, S_IXUSR, "run") || !directory_writable_by_archivers())
        return false;
    if (!job_.unchanged()) {
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    const struct stat &st = job_.archive_stat();
    const ChildCredentials &who = job_.credentials();
    record_.kind = st.st_nlink > 1 || zip_would_extend(job_.name()) ? BackupKind::WorkingCopy
                   : st.st_size >= kExchangeFrom                    ? BackupKind::Exchange
                                                                    : BackupKind::Copy;
    record_.archive = job_.name();
    record_.archivers_uid = who.switch_user ? who.uid : geteuid();
    record_.original = identity_of(st);
    record_.boot_id = boot_id();
    if (!has_room() || !lock_directory())
        return false;
    begun_ = true;
    private_fd_ = make_private_directory(job_.dir_fd(), ".velmotag_", &private_name_);
    if (!private_fd_) {
        fail("tagging", "cannot make a private directory beside it: " + why_errno());
        roll_back();
        return false;
    }
    if (!(record_.kind == BackupKind::WorkingCopy ? make_working_copy() : keep_original())) {
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
    if (record_.kind == BackupKind::Copy && fsync(copy.get()) != 0) {
        fail("tagging", "cannot write a copy of it to disk: " + why_errno());
        return false;
    }
    return true;
}

bool ArchiveChange::write_record() {
    record_.begun = now_realtime();
    const std::string text = encode_record(record_);
    if (!record_fd_)
        record_fd_.reset(openat(private_fd_.get(), kRecordName,
                                O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    errno = ENAMETOOLONG;
    if (!record_fd_ || text.size() > kRecordMax ||
        pwrite(record_fd_.get(), text.data(), text.size(), 0) !=
            static_cast<ssize_t>(text.size()) ||
        ftruncate(record_fd_.get(), static_cast<off_t>(text.size())) != 0) {
        fail("tagging", "cannot write the record of its change: " + why_errno());
        return false;
    }
    progress_ = ChangeProgress{};
    write_progress();
    return true;
}

bool ArchiveChange::write_progress(bool durable) {
    if (!record_fd_)
        return false;
    // Should a write fail, the next run judges by the record alone, which
    // never makes it keep a change that was not complete.
    const std::string text = encode_progress(progress_);
    return pwrite(record_fd_.get(), text.data(), text.size(), kProgressOffset) ==
               static_cast<ssize_t>(text.size()) &&
           (!durable || fsync(record_fd_.get()) == 0);
}

bool ArchiveChange::keep_original() {
    const int dir = job_.dir_fd(), kept = private_fd_.get();
    if (!make_copy(kept, kBackupName))
        return false;
    const bool exchange = record_.kind == BackupKind::Exchange;
    ChangeIntent intent{job_.dir_path(), job_.name(), private_name_};
    if ((exchange && fsync(job_.archive_fd()) != 0) || !write_record() ||
        fsync(record_fd_.get()) != 0 || !sync_directory(kept) || !sync_directory(dir) ||
        (intent.dir_path[0] == '/' && !job_.lock().write_intent(intent, true))) {
        fail("tagging", "cannot write the record of its change to disk: " + why_errno());
        return false;
    }
    zip_target_ = job_.path();
    if (!exchange)
        return true;
    const char *name = job_.name().c_str();
    if (renameat2(kept, kBackupName, dir, name, RENAME_EXCHANGE) != 0) {
        if (!cannot_exchange(errno)) {
            fail("tagging", "cannot swap a copy in at its name: " + why_errno());
            return false;
        }
        // This file system keeps the copy the plain way: on disk.
        UniqueFd copy(openat(kept, kBackupName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        record_.kind = BackupKind::Copy;
        if (!copy || fsync(copy.get()) != 0 || !write_record() || fsync(record_fd_.get()) != 0) {
            fail("tagging", "cannot write a copy of it to disk: " + why_errno());
            return false;
        }
        return true;
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
    // changes: the record only helps the next run tidy up.
    if (!make_copy(work_fd_.get(), kWorkingCopyName) || !write_record())
        return false;
    if (job_.dir_path()[0] == '/')
        job_.lock().write_intent({job_.dir_path(), job_.name(), private_name_}, false);
    zip_target_ =
        job_.dir_path() + "/" + private_name_ + "/" + kWorkDirName + "/" + kWorkingCopyName;
    return true;
}

void ArchiveChange::step_starting() {
    progress_.state = ChangeState::StepRunning;
    ++progress_.step;
    progress_.step_start = file_clock_now();
    progress_.last_seen = progress_.step_start;
    step_failed_ = false;
    write_progress();
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
        UniqueFd result(
            openat(work_fd_.get(), kWorkingCopyName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!result || fstat(result.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            fsync(result.get()) != 0 ||
            renameat(work_fd_.get(), kWorkingCopyName, dir, name) != 0 || !sync_directory(dir)) {
            fail("replacing", why_errno());
            roll_back();
            return false;
        }
    } else {
        // zip follows a link put in the archive's place and writes through it.
        UniqueFd result(openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!result || fstat(result.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            is_file(st, record_.original)) {
            fail("tagging", "something else was put in its place");
            roll_back();
            return false;
        }
        progress_.state = ChangeState::Complete;
        if (fsync(result.get()) != 0 || !sync_directory(dir) || !write_progress(true)) {
            fail("tagging", "cannot write it to disk: " + why_errno());
            roll_back();
            return false;
        }
    }
    finished_ = true;
    remove_private_files();
    job_.lock().clear_intent();
    dir_lock_.release();
    return true;
}

void ArchiveChange::roll_back() {
    if (!begun_ || finished_) {
        dir_lock_.release();
        return;
    }
    finished_ = true;
    std::string why;
    const PutBack put = private_fd_
                            ? put_back_original(job_.dir_fd(), private_fd_.get(), record_, &why)
                            : PutBack::NotNeeded;
    // A zip that was killed, or ran out of room or time, leaves its new
    // archive behind; this run knows when it ran.
    if (step_failed_ && record_.kind != BackupKind::WorkingCopy)
        remove_zip_leftover(job_.dir_fd(),
                            {progress_.step_start, time_plus(file_clock_now(), 1),
                             record_.archivers_uid, zip_leftover_max(record_.original.size)});
    if (put == PutBack::Failed) {
        // The record and the intent stay, for the next run to try again.
        fail("restoring",
             why + "; its original is kept in '" + job_.dir_path() + "/" + private_name_ + "'");
    } else {
        remove_private_files();
        job_.lock().clear_intent();
    }
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
    record_fd_.reset();
    if (unlinkat(job_.dir_fd(), private_name_.c_str(), AT_REMOVEDIR) != 0)
        remove_private_directory(job_.dir_fd(), private_name_, kept);
    private_fd_.reset();
}
