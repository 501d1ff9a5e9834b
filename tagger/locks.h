// The locks that keep overlapping runs apart. A run holds the lock of each
// archive it works on for the archive's whole pipeline, and the lock of the
// archive's directory from writing FILE_ID.DIZ beside it until zip has
// stored that file; so runs over different archives of one directory
// overlap everywhere but in that window, and two runs never work on one
// archive at once. Both are flock locks, which end with the process that
// held them; a lock held by someone else is waited for at most
// LOCK_WAIT_SECONDS.
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

// The lock of one archive: a lock file ".velmotag_lock_" plus a hash of the
// archive's name, in the archive's directory. The lock must outlive the
// archive's inode, which each zip step replaces. The holder removes the file
// before letting the lock go, and a new holder checks that the name still
// leads to the file it locked, so the file never piles up and a waiter that
// locked a removed file tries again.
class ArchiveLock {
  public:
    ArchiveLock() = default;
    ~ArchiveLock() { release(); }
    ArchiveLock(const ArchiveLock &) = delete;
    ArchiveLock &operator=(const ArchiveLock &) = delete;

    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd, const std::string &archive_name);
    void release();

  private:
    int dir_fd_ = -1;
    std::string lock_name_;
    UniqueFd fd_;
};

// The lock of a directory: flock on the directory itself.
class DirectoryLock {
  public:
    DirectoryLock() = default;
    ~DirectoryLock() { release(); }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    // REQUIRES: `dir_fd` stays open while the lock is held.
    LockOutcome acquire(int dir_fd);
    void release();
    bool held() const { return dir_fd_ >= 0; }

  private:
    int dir_fd_ = -1;
};

#endif
