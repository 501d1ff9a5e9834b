#include "change_recovery.h"

#include "file_copy.h"
#include "fixed_paths.h"
#include "locks.h"
#include "private_dirs.h"
#include "report.h"
#include "state_dir.h"
#include "unique_fd.h"
#include "upload_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// Ends the change of the private directory `private_fd` (named
// `private_name`), which the caller holds, as the rule says.
bool end_change(int dir_fd, const std::string &dir_path, const std::string &private_name,
                int private_fd, const ChangeRecord &record,
                const std::optional<ChangeProgress> &progress) {
    DirectoryLock dir_lock;
    if (dir_lock.acquire(dir_fd) != LockOutcome::Held)
        return false;
    const std::string path = (dir_path == "/" ? "" : dir_path) + "/" + record.archive;
    if (!progress || progress->state != ChangeState::Complete) {
        std::string why;
        switch (put_back_original(dir_fd, private_fd, record, &why)) {
        case PutBack::Failed:
            report_failure("restoring", path.c_str(),
                           why + "; its original is kept in '" + dir_path + "/" + private_name +
                               "'");
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
    remove_private_directory(dir_fd, private_name, private_fd);
    return true;
}

UniqueFd open_private_directory(int dir_fd, const std::string &name) {
    UniqueFd fd(openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (fd && (fstat(fd.get(), &st) != 0 || st.st_uid != geteuid()))
        fd.reset();
    return fd;
}

} // namespace

off_t zip_leftover_max(off_t original_size) {
    constexpr off_t kSiteFilesAndSlack = 1024 * 1024;
    return original_size + 2 * static_cast<off_t>(DIZ_MAX) + kSiteFilesAndSlack;
}

bool read_change_record(int private_fd, ChangeRecord *record,
                        std::optional<ChangeProgress> *progress) {
    UniqueFd fd(openat(private_fd, kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())
        return false;
    char buffer[kProgressOffset + kProgressSize];
    const ssize_t n = pread(fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    const std::size_t got = static_cast<std::size_t>(n);
    if (!decode_record(std::string_view(buffer, std::min(got, kRecordMax)), record))
        return false;
    ChangeProgress read;
    progress->reset();
    if (got == sizeof buffer &&
        decode_progress(std::string_view(buffer + kProgressOffset, kProgressSize), &read))
        *progress = read;
    return true;
}

PutBack put_back_original(int dir_fd, int private_fd, const ChangeRecord &record,
                          std::string *why) {
    if (record.kind == BackupKind::WorkingCopy)
        return PutBack::NotNeeded;
    const char *name = record.archive.c_str();
    struct stat at_name, backup;
    if (fstatat(dir_fd, name, &at_name, AT_SYMLINK_NOFOLLOW) == 0 &&
        is_file(at_name, record.original))
        return PutBack::NotNeeded;
    if (fstatat(private_fd, kBackupName, &backup, AT_SYMLINK_NOFOLLOW) != 0 ||
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

bool recover_change(int dir_fd, const std::string &dir_path, const std::string &private_name,
                    const std::string &archive) {
    const UniqueFd private_fd = open_private_directory(dir_fd, private_name);
    if (!private_fd)
        return true; // gone: the change was ended
    if (flock(private_fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    ChangeRecord record;
    std::optional<ChangeProgress> progress;
    if (!read_change_record(private_fd.get(), &record, &progress)) {
        // The record comes before zip's first step: none, and the archive
        // was never touched.
        remove_private_directory(dir_fd, private_name, private_fd.get());
        return true;
    }
    if (!archive.empty() && record.archive != archive)
        return true; // another archive's: not this lock's to end
    return end_change(dir_fd, dir_path, private_name, private_fd.get(), record, progress);
}

void lock_and_recover_leftover(int dir_fd, const std::string &dir_path, const std::string &name) {
    const UniqueFd private_fd = open_private_directory(dir_fd, name);
    ChangeRecord record;
    std::optional<ChangeProgress> progress;
    if (!private_fd || !read_change_record(private_fd.get(), &record, &progress))
        return;
    ArchiveLock lock;
    if (lock.acquire(dir_fd, record.archive, false) != LockOutcome::Held)
        return; // a live run has the archive, and ends this change first
    if (recover_change(dir_fd, dir_path, name, record.archive))
        lock.clear_intent();
}

void recover_interrupted_changes() {
    const int locks = state_subdir(kLocksDir);
    if (locks < 0)
        return;
    for (const std::string &name : directory_entries(locks)) {
        if (name.rfind("a-", 0) != 0)
            continue;
        LockFile file;
        if (file.acquire(locks, name, 0) != LockOutcome::Held)
            continue;
        const std::optional<ChangeIntent> intent = read_intent(file.fd());
        if (!intent) {
            file.release(); // the lock of a run that died between changes
            continue;
        }
        std::vector<PathStep> steps;
        const UniqueFd dir_fd = open_directory_walk(intent->dir_path, &steps);
        if (!dir_fd) {
            // Its directory is gone or elsewhere; should it come back, the
            // first run there finds the change by its private directory.
            const std::string path = intent->dir_path + "/" + intent->archive;
            report_failure("restoring", path.c_str(),
                           std::string("its directory cannot be opened: ") + std::strerror(errno));
            file.release();
            continue;
        }
        // The lock file is named after the directory as it was; the archive
        // is locked under its name now as well, should that differ.
        ArchiveLock current;
        if (!is_lock_of(name, dir_fd.get(), intent->archive) &&
            current.acquire(dir_fd.get(), intent->archive, false) != LockOutcome::Held) {
            file.release(true);
            continue;
        }
        const bool ended =
            recover_change(dir_fd.get(), intent->dir_path, intent->private_name, intent->archive);
        if (ended)
            current.clear_intent();
        file.release(!ended);
    }
}
