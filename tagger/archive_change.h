// Changing an archive all at once or not at all. The tagger changes an
// archive in up to three zip steps (description, comment, info file); when
// one of them fails, or a stop signal comes between them, the archive is
// put back as it was before the run.
//
// An ordinary archive is handed to zip under its own name, and zip replaces
// it with a new file at each step. Before the first step, the tagger keeps
// the original open and reserves room for a copy of it in a private file
// beside it (posix_fallocate: no data is written, and a full disk
// is found before anything changes). To roll back, it copies the original
// into that room and renames the copy over the archive: no step of the
// restore needs space that a full disk no longer has. On success the room
// is simply given back.
//
// An archive that zip would not replace but rewrite in place (one with
// several names) or would look for under another name (one without an
// extension: zip appends ".zip") is copied into the private directory
// instead; zip works on the copy, which is renamed over the upload once
// every step has succeeded. Until then the upload is never touched, so even
// a run killed outright leaves it whole.
#ifndef VELMO_TAGGER_ARCHIVE_CHANGE_H
#define VELMO_TAGGER_ARCHIVE_CHANGE_H

#include "archive_job.h"
#include "locks.h"
#include "unique_fd.h"

#include <string>
#include <sys/types.h>

class ArchiveChange {
  public:
    explicit ArchiveChange(ArchiveJob &job) : job_(job) {}
    // Rolls the archive back unless the change was committed.
    ~ArchiveChange() { roll_back(); }
    ArchiveChange(const ArchiveChange &) = delete;
    ArchiveChange &operator=(const ArchiveChange &) = delete;

    // Locks the archive's directory while FILE_ID.DIZ beside the archive is
    // written and stored.
    LockOutcome lock_directory() { return dir_lock_.acquire(job_.dir_fd()); }
    void unlock_directory() { dir_lock_.release(); }

    // Prepares the first write to the archive: checks that the site's
    // comment and info files can be read, that zip can be run, that the
    // archive is still the one listed and that its file system has room for
    // zip's rewrites, then reserves room for the original or makes the
    // working copy. Reports and returns false when the archive must not be
    // changed. Does nothing once it has succeeded.
    bool begin();

    // The archive name zip is given: the archive's own path, or that of the
    // working copy. REQUIRES: begin() succeeded.
    const std::string &zip_target() const { return zip_target_; }

    // Makes the change final: the working copy replaces the upload, or the
    // reserved room is given back. Reports a failure, rolls back and returns
    // false when the archive cannot be left as the steps made it.
    bool commit();

    // Puts the archive back as it was before the run, and reports when that
    // is not possible. Does nothing before begin() or after commit().
    void roll_back();

  private:
    bool check_site_file(const char *name, long long *bytes);
    bool usable_by_archivers(const std::string &path, mode_t wanted, const char *verb);
    bool directory_writable_by_archivers();
    bool reserve_original();
    bool make_working_copy();
    bool has_room(long long margin);
    void restore_original();
    void remove_private_files();
    void fail(const char *step, const std::string &why);

    ArchiveJob &job_;
    DirectoryLock dir_lock_;
    std::string private_name_;
    UniqueFd private_fd_; // the room reserved for the original, or the working copy's directory
    UniqueFd work_fd_;    // where the working copy is
    std::string zip_target_;
    bool working_copy_ = false;
    bool begun_ = false;
    bool finished_ = false;
};

#endif
