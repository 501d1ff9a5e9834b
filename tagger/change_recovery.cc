#include "change_recovery.h"

#include "change_journal.h"
#include "file_copy.h"
#include "fixed_paths.h"
#include "private_dirs.h"
#include "report.h"
#include "state_dir.h"
#include "unique_fd.h"
#include "upload_path.h"
#include "zip_leftovers.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// How long after the last sign of life of a run its zip may have made a
// file: the run looks in on it every second.
constexpr long kSeenMarginSeconds = 2;

std::vector<std::string> put_back_archives;

void note_put_back(const std::string &path) {
    put_back_archives.push_back(path);
}

// True when the entry `name` in `dir_fd` was made or written after `limit`.
bool written_after(int dir_fd, const char *name, const timespec &limit) {
    struct statx st;
    if (statx(dir_fd, name, AT_SYMLINK_NOFOLLOW, STATX_MTIME | STATX_BTIME, &st) != 0)
        return false;
    return compare_time(st.stx_mtime, limit) > 0 ||
           ((st.stx_mask & STATX_BTIME) != 0 && compare_time(st.stx_btime, limit) > 0);
}

bool same_boot(const ChangeRecord &record) {
    return !record.boot_id.empty() && record.boot_id == current_boot_id();
}

timespec boot_started() {
    timespec real{}, since_boot{};
    clock_gettime(CLOCK_REALTIME, &real);
    clock_gettime(CLOCK_BOOTTIME, &since_boot);
    timespec started{real.tv_sec - since_boot.tv_sec, real.tv_nsec - since_boot.tv_nsec};
    if (started.tv_nsec < 0) {
        started.tv_nsec += 1000000000;
        --started.tv_sec;
    }
    return started;
}

// The last moment at which the dead run of `record`, or what it started,
// can have changed anything: the last moment it was seen waiting for its
// zip (and a margin), when its children ended (`children_ended`, when the
// ending run had to end them), or, when the machine was restarted since,
// this boot. Unknown when the run never wrote its progress.
std::optional<timespec> dead_run_ended(const ChangeRecord &record,
                                       const std::optional<ChangeProgress> &progress,
                                       const std::optional<timespec> &children_ended) {
    if (!same_boot(record))
        return boot_started();
    if (children_ended)
        return children_ended;
    if (progress)
        return time_plus(progress->last_seen, kSeenMarginSeconds);
    return std::nullopt;
}

// When the zip of a dead run may have made its temporary file: from the
// start of its latest step until the run and its children ended.
std::optional<ZipStepWindow> leftover_window(const ChangeRecord &record,
                                             const std::optional<ChangeProgress> &progress,
                                             const std::optional<timespec> &children_ended) {
    if (record.kind == BackupKind::WorkingCopy)
        return std::nullopt; // its zip worked in the private directory
    ZipStepWindow window;
    window.uid = record.archivers_uid;
    window.max_size = zip_leftover_max(record.original.size);
    const bool zip_ran = progress && (progress->state == ChangeState::StepRunning ||
                                      progress->state == ChangeState::StepEnded);
    if (zip_ran) {
        window.from = progress->step_start;
        window.until = *dead_run_ended(record, progress, children_ended);
        return window;
    }
    // The progress is written with the record, so only a power cut leaves
    // one without the other; then any step may have run.
    if (progress || same_boot(record))
        return std::nullopt;
    window.from = record.begun;
    window.until = boot_started();
    return window;
}

UniqueFd open_private_directory(int dir_fd, const std::string &name) {
    if (name.empty())
        return UniqueFd();
    UniqueFd fd(openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (fd && (fstat(fd.get(), &st) != 0 || st.st_uid != geteuid()))
        fd.reset();
    return fd;
}

// Writes the inline copy into a new file beside the archive, with the
// original's owner, mode and times, syncs it and renames it over the name.
bool put_back_inline(int dir_fd, const ChangeRecord &record, int from, off_t offset) {
    std::string temporary;
    UniqueFd fd = make_private_file(dir_fd, kPrivatePrefix, &temporary);
    if (!fd)
        return false;
    const timespec times[2] = {record.atime, record.original.mtime};
    const bool written =
        copy_at(from, offset, fd.get(), 0, record.original.size) &&
        take_attributes(fd.get(), record.owner, record.group, record.mode, times) &&
        fsync(fd.get()) == 0 &&
        renameat(dir_fd, temporary.c_str(), dir_fd, record.archive.c_str()) == 0;
    if (!written) {
        const int error = errno;
        unlinkat(dir_fd, temporary.c_str(), 0);
        errno = error;
    }
    return written;
}

// Ends the change `record` describes, whose run is gone, in `dir_fd`: puts
// the original back unless the change was complete or the archive was
// replaced since, removes zip's leftover and the private directory.
// `journal_fd` holds an inline backup; `children_ended` is when the
// children that outlived the run were ended, if any did.
bool end_change(int dir_fd, const ChangeRecord &record,
                const std::optional<ChangeProgress> &progress, int journal_fd,
                const std::optional<timespec> &children_ended = std::nullopt) {
    DirectoryLock dir_lock;
    if (dir_lock.acquire(dir_fd) != LockOutcome::Held)
        return false;
    const UniqueFd private_fd = open_private_directory(dir_fd, record.private_name);
    if (private_fd && flock(private_fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false; // a live run's, which ends it itself
    const std::string path = (record.dir_path == "/" ? "" : record.dir_path) + "/" + record.archive;
    if (!progress || progress->state != ChangeState::Complete) {
        std::string why;
        switch (put_back_original(dir_fd, record, private_fd.get(), journal_fd, kInlineOffset, &why,
                                  dead_run_ended(record, progress, children_ended))) {
        case PutBack::Failed:
            report_failure("restoring", path.c_str(), why + "; a later run tries again");
            return false;
        case PutBack::Done:
            log_notice("'%s': put back as it was before a run that was stopped while tagging it",
                       path.c_str());
            note_put_back(path);
            break;
        case PutBack::Superseded:
            log_notice("'%s': replaced since a run was stopped while tagging it; kept as it is",
                       path.c_str());
            break;
        case PutBack::NotNeeded:
            break;
        }
        if (const std::optional<ZipStepWindow> window =
                leftover_window(record, progress, children_ended))
            remove_zip_leftover(dir_fd, *window);
    }
    if (private_fd)
        remove_private_directory(dir_fd, record.private_name, private_fd.get());
    return true;
}

// Ends the change in the journal `journal_fd` (a dead run's, which the
// caller holds) in the directory its record names, taking the archive's
// lock there unless `held_lock_name` is that lock's file.
bool end_journal(int journal_fd, const std::string &held_lock_name,
                 const std::optional<timespec> &children_ended) {
    ChangeRecord record;
    std::optional<ChangeProgress> progress;
    if (!read_record(journal_fd, &record, &progress))
        return true; // empty, or no whole record: nothing to end
    std::vector<PathStep> steps;
    const UniqueFd dir_fd = open_directory_walk(record.dir_path, &steps);
    if (!dir_fd) {
        // Its directory is gone or elsewhere; should it come back, the first
        // run there finds a large archive's change by its private directory.
        const std::string path = record.dir_path + "/" + record.archive;
        report_failure("restoring", path.c_str(),
                       std::string("its directory cannot be opened: ") + std::strerror(errno));
        return true;
    }
    ArchiveLock lock;
    if (!is_lock_of(held_lock_name, dir_fd.get(), record.archive) &&
        lock.acquire(dir_fd.get(), record.archive, false) != LockOutcome::Held)
        return false;
    return end_change(dir_fd.get(), record, progress, journal_fd, children_ended);
}

// Waits for the children of the dead run of the journal `name` (open in
// `journal_fd`) to be gone, ending those that are not: a zip under a shell
// outlives its tagger. Returns false when they cannot be ended now;
// otherwise when they were, in *ended.
bool end_children(int changes, const std::string &name, int journal_fd,
                  std::optional<timespec> *ended) {
    constexpr int kChildrenWaitSeconds = 10;
    const std::string lock_name = name + kChildrenSuffix;
    LockFile lock;
    LockOutcome outcome = lock.acquire(changes, lock_name, 0);
    if (outcome == LockOutcome::Busy) {
        // The lock is held, so the session of the step's child lives on,
        // and its number is the dead run's child's still: no other process
        // can be given it while that session lasts.
        ChangeRecord record;
        std::optional<ChangeProgress> progress;
        if (read_record(journal_fd, &record, &progress) && progress && progress->child > 0)
            kill(-progress->child, SIGKILL);
        outcome = lock.acquire(changes, lock_name, kChildrenWaitSeconds);
        if (outcome == LockOutcome::Held)
            *ended = realtime_now();
    }
    if (outcome != LockOutcome::Held)
        return false;
    lock.release();
    return true;
}

// Ends the change in the state directory's journal `name` when its run is
// gone (and what the run started), and removes the journal. The caller
// holds the lock `held_lock_name` (or none). Returns false when the change
// must be left for a later run.
bool end_dead_journal(int changes, const std::string &name, const std::string &held_lock_name) {
    LockFile journal;
    if (journal.acquire(changes, name, 0) != LockOutcome::Held)
        return true; // a live run's, which ends its changes itself
    std::optional<timespec> children_ended;
    if (!end_children(changes, name, journal.fd(), &children_ended)) {
        journal.release(true);
        return false;
    }
    const bool ended = end_journal(journal.fd(), held_lock_name, children_ended);
    journal.release(!ended);
    return ended;
}

} // namespace

std::vector<std::string> take_put_back_archives() {
    return std::exchange(put_back_archives, {});
}

PutBack put_back_original(int dir_fd, const ChangeRecord &record, int private_fd, int inline_fd,
                          off_t inline_offset, std::string *why,
                          const std::optional<timespec> &replaced_after) {
    if (record.kind == BackupKind::WorkingCopy)
        return PutBack::NotNeeded;
    const char *name = record.archive.c_str();
    struct stat at_name;
    const bool present = fstatat(dir_fd, name, &at_name, AT_SYMLINK_NOFOLLOW) == 0;
    if (present && is_file(at_name, record.original))
        return PutBack::NotNeeded;
    if (present && replaced_after && written_after(dir_fd, name, *replaced_after))
        return PutBack::Superseded;
    if (record.kind == BackupKind::Inline) {
        if (!put_back_inline(dir_fd, record, inline_fd, inline_offset) || !sync_directory(dir_fd)) {
            *why = std::strerror(errno);
            return PutBack::Failed;
        }
        return PutBack::Done;
    }
    struct stat backup;
    if (private_fd < 0 || fstatat(private_fd, kBackupName, &backup, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(backup.st_mode)) {
        *why = "its kept original is gone";
        return PutBack::Failed;
    }
    // Swapped in, the original is the kept file; until then it never left
    // its name, and whatever stands there now is not the change's doing.
    if (record.kind == BackupKind::Exchange && !is_file(backup, record.original))
        return PutBack::NotNeeded;
    if (renameat(private_fd, kBackupName, dir_fd, name) != 0 || !sync_directory(dir_fd)) {
        *why = std::strerror(errno);
        return PutBack::Failed;
    }
    return PutBack::Done;
}

namespace {

// Ends the change that the lock file `fd` in `dir_fd` records itself
// (without a state directory), if any; given `archive`, only when it is
// that archive's. Returns false when it must be left for a later run.
bool end_change_in_lock_file(int dir_fd, int fd, const std::string *archive) {
    ChangeRecord record;
    std::optional<ChangeProgress> progress;
    if (!read_record(fd, &record, &progress))
        return true;
    if (archive && record.archive != *archive)
        return true; // not this archive's: a stray file
    return end_change(dir_fd, record, progress, fd);
}

bool end_change_of_lock(int dir_fd, const std::string &archive, ArchiveLock &lock) {
    if (lock.is_journal())
        return end_change_in_lock_file(dir_fd, lock.fd(), &archive);
    const int changes = state_subdir(kChangesDir);
    const std::string journal = lock.left_journal();
    if (changes < 0 || journal.empty())
        return true;
    // Whatever that journal holds now is ended, whichever archive it is of;
    // this archive's lock is held already.
    struct stat st;
    if (fstatat(changes, journal.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return true; // ended by another run since
    return end_dead_journal(changes, journal, lock.file_name());
}

} // namespace

bool end_left_change(int dir_fd, const std::string &archive, ArchiveLock &lock) {
    const bool ended = end_change_of_lock(dir_fd, archive, lock);
    if (ended)
        lock.change_over();
    else
        lock.keep(); // what it leads to stays for a later run
    return ended;
}

void end_leftover_change(int dir_fd, const std::string &name) {
    // A lock file beside the archive that is a dead run's journal.
    if (name.rfind(kLockFilePrefix, 0) == 0) {
        LockFile file;
        if (file.acquire(dir_fd, name, 0) != LockOutcome::Held)
            return;
        file.release(!end_change_in_lock_file(dir_fd, file.fd(), nullptr));
        return;
    }
    // A private directory: its record names the archive.
    const UniqueFd private_fd = open_private_directory(dir_fd, name);
    UniqueFd record_fd;
    if (private_fd)
        record_fd.reset(openat(private_fd.get(), kRecordName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    ChangeRecord record;
    std::optional<ChangeProgress> progress;
    if (!record_fd || !read_record(record_fd.get(), &record, &progress) ||
        record.private_name != name)
        return;
    ArchiveLock lock;
    if (lock.acquire(dir_fd, record.archive, false) != LockOutcome::Held)
        return; // a live run has the archive, and ends this change first
    // The journal that the archive's lock leads to knows how far the change
    // got (it may be complete): it ends the change, this directory with it.
    if (!lock.found_empty()) {
        end_left_change(dir_fd, record.archive, lock);
        return;
    }
    end_change(dir_fd, record, std::nullopt, -1);
}

void recover_interrupted_changes() {
    const int changes = state_subdir(kChangesDir);
    if (changes >= 0) {
        const std::vector<std::string> names = directory_entries(changes);
        for (const std::string &name : names) {
            const std::size_t suffix =
                name.size() - std::min(name.size(), sizeof kChildrenSuffix - 1);
            if (name.compare(suffix, std::string::npos, kChildrenSuffix) != 0) {
                end_dead_journal(changes, name, "");
                continue;
            }
            // A children's lock whose journal is gone: its run died between
            // removing the two.
            struct stat st;
            if (fstatat(changes, name.substr(0, suffix).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                remove_unheld_lock(changes, name);
        }
    }
    // Lock files that dead runs left (a directory's lock outlives its
    // holder's change for the rest of its run).
    const int locks = state_subdir(kLocksDir);
    if (locks < 0)
        return;
    for (const std::string &name : directory_entries(locks))
        remove_unheld_lock(locks, name);
}
