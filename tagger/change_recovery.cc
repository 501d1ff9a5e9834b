#include "change_recovery.h"

#include "change_journal.h"
#include "file_copy.h"
#include "fixed_paths.h"
#include "private_dirs.h"
#include "report.h"
#include "state_dir.h"
#include "unique_fd.h"
#include "upload_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// How long after the last sign of life of a run its zip may have made a
// file: the run looks in on it every second.
constexpr long kSeenMarginSeconds = 2;

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

// When the zip of a dead run may have made its temporary file: from the
// start of its latest step to the last moment the run was seen waiting for
// it, or, when the machine was restarted since, to this boot.
std::optional<ZipStepWindow> leftover_window(const ChangeRecord &record,
                                             const std::optional<ChangeProgress> &progress) {
    if (record.kind == BackupKind::WorkingCopy)
        return std::nullopt; // its zip worked in the private directory
    const bool same_boot = !record.boot_id.empty() && record.boot_id == current_boot_id();
    ZipStepWindow window;
    window.uid = record.archivers_uid;
    window.max_size = zip_leftover_max(record.original.size);
    const bool zip_ran = progress && (progress->state == ChangeState::StepRunning ||
                                      progress->state == ChangeState::StepEnded);
    if (zip_ran) {
        window.from = progress->step_start;
        window.until =
            same_boot ? time_plus(progress->last_seen, kSeenMarginSeconds) : boot_started();
        return window;
    }
    // The progress is written with the record, so only a power cut leaves
    // one without the other; then any step may have run.
    if (progress || same_boot)
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
    UniqueFd fd = make_private_file(dir_fd, ".velmotag_", &temporary);
    if (!fd)
        return false;
    const timespec times[2] = {record.atime, record.original.mtime};
    const bool written = copy_at(from, offset, fd.get(), 0, record.original.size) &&
                         (fchown(fd.get(), record.owner, record.group) == 0 || errno == EPERM) &&
                         fchmod(fd.get(), record.mode) == 0 && futimens(fd.get(), times) == 0 &&
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
// the original back unless the change was complete, removes zip's leftover
// and the private directory. `journal_fd` holds an inline backup.
bool end_change(int dir_fd, const ChangeRecord &record,
                const std::optional<ChangeProgress> &progress, int journal_fd) {
    DirectoryLock dir_lock;
    if (dir_lock.acquire(dir_fd) != LockOutcome::Held)
        return false;
    const UniqueFd private_fd = open_private_directory(dir_fd, record.private_name);
    if (private_fd && flock(private_fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false; // a live run's, which ends it itself
    const std::string path = (record.dir_path == "/" ? "" : record.dir_path) + "/" + record.archive;
    if (!progress || progress->state != ChangeState::Complete) {
        std::string why;
        switch (
            put_back_original(dir_fd, record, private_fd.get(), journal_fd, kInlineOffset, &why)) {
        case PutBack::Failed:
            report_failure("restoring", path.c_str(), why + "; a later run tries again");
            return false;
        case PutBack::Done:
            log_notice("'%s': put back as it was before a run that was stopped while tagging it",
                       path.c_str());
            break;
        case PutBack::NotNeeded:
            break;
        }
        if (const std::optional<ZipStepWindow> window = leftover_window(record, progress))
            remove_zip_leftover(dir_fd, *window);
    }
    if (private_fd)
        remove_private_directory(dir_fd, record.private_name, private_fd.get());
    return true;
}

// Ends the change in the journal `journal_fd` (a dead run's, which the
// caller holds) in the directory its record names, taking the archive's
// lock there unless `held` is the lock file itself.
bool end_journal(int journal_fd, const std::string &held_lock_name) {
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
    return end_change(dir_fd.get(), record, progress, journal_fd);
}

// Ends the change in the state directory's journal `name` when its run is
// gone, and removes the journal. The caller holds the lock `held_lock_name`
// (or none).
bool end_dead_journal(int changes, const std::string &name, const std::string &held_lock_name) {
    LockFile journal;
    if (journal.acquire(changes, name, 0) != LockOutcome::Held)
        return true; // a live run's, which ends its changes itself
    const bool ended = end_journal(journal.fd(), held_lock_name);
    journal.release(!ended);
    return ended;
}

} // namespace

off_t zip_leftover_max(off_t original_size) {
    constexpr off_t kSiteFilesAndSlack = 1024 * 1024;
    return original_size + 2 * static_cast<off_t>(DIZ_MAX) + kSiteFilesAndSlack;
}

PutBack put_back_original(int dir_fd, const ChangeRecord &record, int private_fd, int inline_fd,
                          off_t inline_offset, std::string *why) {
    if (record.kind == BackupKind::WorkingCopy)
        return PutBack::NotNeeded;
    const char *name = record.archive.c_str();
    struct stat at_name;
    if (fstatat(dir_fd, name, &at_name, AT_SYMLINK_NOFOLLOW) == 0 &&
        is_file(at_name, record.original))
        return PutBack::NotNeeded;
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

bool end_left_change(int dir_fd, const std::string &archive, ArchiveLock &lock) {
    if (lock.is_journal()) {
        ChangeRecord record;
        std::optional<ChangeProgress> progress;
        if (!read_record(lock.fd(), &record, &progress))
            return true;
        if (record.archive != archive)
            return true; // not this archive's: a stray file
        return end_change(dir_fd, record, progress, lock.fd());
    }
    const int changes = state_subdir(kChangesDir);
    const std::string journal = lock.left_journal();
    if (changes < 0 || journal.empty())
        return true;
    // Whatever that journal holds now is ended, whichever archive it is of;
    // this archive's lock is held already.
    struct stat st;
    if (fstatat(changes, journal.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return true; // ended by another run since
    (void)dir_fd;
    return end_dead_journal(changes, journal, lock.file_name());
}

void end_leftover_change(int dir_fd, const std::string &name) {
    // A lock file beside the archive that is a dead run's journal.
    if (name.rfind(".velmotag_lock_", 0) == 0) {
        LockFile file;
        if (file.acquire(dir_fd, name, 0) != LockOutcome::Held)
            return;
        ChangeRecord record;
        std::optional<ChangeProgress> progress;
        const bool ended = !read_record(file.fd(), &record, &progress) ||
                           end_change(dir_fd, record, progress, file.fd());
        file.release(!ended);
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
    end_change(dir_fd, record, std::nullopt, -1);
}

void recover_interrupted_changes() {
    const int changes = state_subdir(kChangesDir);
    if (changes >= 0) {
        for (const std::string &name : directory_entries(changes))
            end_dead_journal(changes, name, "");
    }
    // Lock files that dead runs left (a directory's lock outlives its
    // holder's change for the rest of its run).
    const int locks = state_subdir(kLocksDir);
    if (locks < 0)
        return;
    for (const std::string &name : directory_entries(locks)) {
        LockFile file;
        if (file.acquire(locks, name, 0) == LockOutcome::Held)
            file.release();
    }
}
