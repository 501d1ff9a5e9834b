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
// While a change of an archive is in hand, its lock file points at the
// journal of the change (change_journal.h), or, without a state directory,
// is that journal: a run that takes a lock and finds something there knows
// that the run before it died in the middle of a change.
#ifndef VELMO_TAGGER_LOCKS_H
#define VELMO_TAGGER_LOCKS_H

#include "unique_fd.h"

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
    // `wait_seconds` (0: not at all). Anything at `name` but a regular file
    // of the tagger's own user was planted there (the name is the tagger's
    // own) and is removed and replaced, or, where it cannot be removed,
    // refused (Failed, EPERM).
    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd, const std::string &name, int wait_seconds);
    // Lets the lock go, removing the file first unless `keep`.
    void release(bool keep = false);

    bool held() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    int dir_fd() const { return dir_fd_; }
    const std::string &name() const { return name_; }

  private:
    int dir_fd_ = -1;
    std::string name_;
    UniqueFd fd_;
};

// Removes the lock file `name` in `dir_fd` unless someone holds it.
void remove_unheld_lock(int dir_fd, const std::string &name);

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
    // Lets the lock go. Its file goes with it unless it still points at, or
    // is, the journal of a change that is not over.
    void release();

    // Whether the lock file was empty when it was taken.
    bool found_empty() const { return found_empty_; }
    // The journal in the state directory that the lock file named when it
    // was taken: the one of a run that died changing the archive.
    const std::string &left_journal() const { return left_journal_; }
    // Without a state directory, the lock file stands beside the archive
    // and is the journal of its change.
    bool is_journal() const { return beside_archive_; }
    int fd() const { return file_.fd(); }
    int dir_fd() const { return file_.dir_fd(); }
    const std::string &file_name() const { return file_.name(); }

    // Points the lock file at this run's journal, named `journal`. Not
    // synced: it serves runs that meet a killed run's lock while the machine
    // stays up; after a power cut every run ends the dead runs' journals
    // before it takes any lock.
    void point_at(const std::string &journal);
    // The change is over: nothing left in the lock file to keep it.
    void change_over();
    // The change could not be ended: the file stays for the next run.
    void keep() { keep_ = true; }

  private:
    LockFile file_;
    bool found_empty_ = true;
    std::string left_journal_;
    bool beside_archive_ = false;
    bool keep_ = false;
};

// The lock of a directory. Its file in the state directory outlives each
// change for the rest of the run (remove_directory_locks).
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

// Removes the lock files of directories that this run made, unless another
// run holds them: at the end of a run.
void remove_directory_locks();

// True when `lock_name`, in the state directory's locks, is the lock file
// of `archive_name` in the directory `dir_fd` as it is now.
bool is_lock_of(const std::string &lock_name, int dir_fd, const std::string &archive_name);

#endif
