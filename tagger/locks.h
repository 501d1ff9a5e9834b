// The locks that keep overlapping runs apart. A run holds the lock of each
// archive it works on for the archive's whole pipeline, and the lock of the
// archive's directory from writing FILE_ID.DIZ beside it until the change
// of the archive is over; so runs over different archives of one directory
// overlap in listing and extracting, one change of a directory runs at a
// time, and two runs never work on one archive at once. A lock held by
// someone else is waited for at most LOCK_WAIT_SECONDS; a directory whose
// lock was busy that long is not waited for again in the same run, so that
// a long change elsewhere costs a run one wait, not one per archive.
//
// Both are flock locks on lock files, which end with the process that held
// them. The lock files live in the state directory's "locks" (state_dir.h),
// named after the archive's directory (its device and inode) and, for an
// archive, a hash of its name: there no uploader can create, hold or plant
// one. Without a usable state directory an archive's lock file is
// ".velmotag_lock_" and the hash beside the archive, and the directory's
// lock is the directory itself.
//
// The lock must outlive the archive's inode, which each zip step replaces.
// The holder removes the file before letting the lock go, and a new holder
// checks that the name still leads to the file it locked, so the files
// never pile up and a waiter that locked a removed file tries again.
//
// An archive's lock file also carries the intent of a change in progress
// (change_record.h): a run that takes a lock and finds one there knows that
// the run before it died in the middle of a change.
#ifndef VELMO_TAGGER_LOCKS_H
#define VELMO_TAGGER_LOCKS_H

#include "change_record.h"
#include "unique_fd.h"

#include <optional>
#include <string>

enum class LockOutcome {
    Held,    // the lock is ours
    Busy,    // someone else held it for the whole wait
    Stopped, // a stop signal came while waiting
    Failed,  // it could not be taken (errno set)
};

// One lock file in a directory.
class LockFile {
  public:
    LockFile() = default;
    ~LockFile() { release(); }
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    // Opens or creates `name` in `dir_fd` and locks it, waiting up to
    // `wait_seconds` (0: not at all). A file that is not a regular file of
    // the tagger's own user is refused (Failed, EPERM).
    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd, const std::string &name, int wait_seconds);
    // Lets the lock go, removing the file first unless `keep`.
    void release(bool keep = false);

    bool held() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    int dir_fd() const { return dir_fd_; }

  private:
    int dir_fd_ = -1;
    std::string name_;
    UniqueFd fd_;
};

// The lock of one archive.
class ArchiveLock {
  public:
    ArchiveLock() = default;
    ~ArchiveLock() { release(); }
    ArchiveLock(const ArchiveLock &) = delete;
    ArchiveLock &operator=(const ArchiveLock &) = delete;

    // Takes the lock of `archive_name` in the directory `dir_fd`, waiting
    // up to LOCK_WAIT_SECONDS (not at all unless `wait`).
    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd, const std::string &archive_name, bool wait = true);
    // Lets the lock go. Its file goes with it unless it still holds an
    // intent, which the next run then finds.
    void release();

    // The intent found in the lock file when it was taken: a change that
    // the run which held it before could not end.
    const std::optional<ChangeIntent> &left_intent() const { return left_intent_; }

    // Writes the intent of this run's change into the lock file. When
    // `durable`, the file and its entry are on disk when it returns.
    // Returns false (errno set) on failure.
    bool write_intent(const ChangeIntent &intent, bool durable);
    // Empties the lock file: the change is over, or was finished by this
    // run for one before it.
    void clear_intent();

  private:
    LockFile file_;
    std::optional<ChangeIntent> left_intent_;
    bool intent_pending_ = false;
};

// The lock of a directory.
class DirectoryLock {
  public:
    DirectoryLock() = default;
    ~DirectoryLock() { release(); }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd);
    void release();
    bool held() const { return file_.held() || flocked_dir_ >= 0; }

  private:
    LockFile file_;
    int flocked_dir_ = -1; // without a state directory
};

// The intent in a lock file, read through its descriptor; nullopt when the
// file holds none (or something else).
std::optional<ChangeIntent> read_intent(int lock_fd);

// True when `lock_name`, in the state directory's locks, is the lock file
// of `archive_name` in the directory `dir_fd` as it is now.
bool is_lock_of(const std::string &lock_name, int dir_fd, const std::string &archive_name);

#endif
