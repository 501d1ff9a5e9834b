// Changing an archive all at once or not at all, whatever stops the run.
// The tagger changes an archive in up to three zip steps (description,
// comment, info file). Before the first one, the archive's original is put
// where no step can touch it, on disk, with a record of the change in the
// run's journal (change_journal.h). When a step fails or a stop comes, the
// original is put back at once; when the run is killed or the power fails,
// the next run puts it back (change_recovery.h). Only when the changed
// archive, its directory entry and the mark that the change is complete
// are on disk is "done" said.
//
// An ordinary archive is handed to zip under its own name, and zip replaces
// it with a new file at each step. A small one (under kInlineBelow) is
// kept in the journal itself, after the record. A large one is kept in a
// private directory beside it: a copy of it is swapped in at the archive's
// name (one rename that exchanges the two), so the original itself moves
// aside and only directory entries must reach the disk, not a second copy
// of its bytes; where the file system cannot exchange, the copy is kept
// and synced instead. Never is a second name of the original kept, which
// zip would rewrite in place.
//
// An archive that zip would not replace but rewrite in place (one with
// several names), would look for under another name (one without an
// extension: zip appends ".zip"), or could not write beside (in a
// directory that only root may write) is copied into the private directory
// instead; zip works on the copy, which is renamed over the upload once
// every step has succeeded. Until then the upload is never touched.
//
// While the change runs it holds the directory's lock, so that one zip at a
// time works in a directory, and a temporary file a killed zip leaves there
// is known for its own by when it was made.
#ifndef VELMO_TAGGER_ARCHIVE_CHANGE_H
#define VELMO_TAGGER_ARCHIVE_CHANGE_H

#include "archive_job.h"
#include "change_journal.h"
#include "change_record.h"
#include "child_process.h"
#include "locks.h"
#include "unique_fd.h"

#include <optional>
#include <string>
#include <sys/types.h>

class ArchiveChange {
  public:
    explicit ArchiveChange(ArchiveJob &job) : job_(job) {}
    // Rolls the archive back unless the change was committed.
    ~ArchiveChange() { roll_back(); }
    ArchiveChange(const ArchiveChange &) = delete;
    ArchiveChange &operator=(const ArchiveChange &) = delete;

    // Locks the archive's directory, for the rest of the change. Reports
    // and returns false when another run held it for the whole wait or it
    // cannot be locked.
    bool lock_directory();

    // Prepares the first write to the archive: checks that the site's
    // comment and info files can be read, that zip can be run, that the
    // archive is still the one listed and that its file system has room for
    // a copy of it and zip's rewrites, then locks the directory, keeps the
    // original and writes the record, all on disk before it returns.
    // Reports and returns false when the archive must not be changed. Does
    // nothing once it has succeeded.
    bool begin();

    // The archive name zip is given: the archive's own path, or that of the
    // working copy. REQUIRES: begin() succeeded.
    const std::string &zip_target() const { return zip_target_; }

    // Around each zip step: the record notes when it began, the process
    // that runs it, that the run still waits for it (about once a second)
    // and that it ended.
    void step_starting();
    void step_child(pid_t pid);
    void step_waiting();
    void step_ended(const ChildStatus &status);
    // The lock that each zip step and what it starts hold (the journal's,
    // change_journal.h), or -1.
    int children_lock_fd() const;

    // Makes the change final and durable: the changed archive (or the
    // working copy, renamed over the upload) and its directory entry are
    // synced, then the record is marked complete, then the original is let
    // go; the job keeps the changed archive's descriptor (set_result).
    // Reports a failure, rolls back and returns false when the archive
    // cannot be left as the steps made it.
    bool commit();

    // Puts the archive back as it was before the run, on disk, and removes
    // what a failed zip step left; reports when that is not possible, and
    // then keeps the original for the next run. Does nothing before begin()
    // or after commit().
    void roll_back();

  private:
    bool check_site_file(const char *name);
    bool usable_by_archivers(const std::string &path, mode_t wanted, const char *verb);
    bool archivers_can_write_directory() const;
    bool mostly_holes();
    bool has_room();
    bool keep_inline();
    bool keep_beside();
    bool make_working_copy();
    bool make_private_directory_beside();
    bool make_copy(int dir_fd, const char *name);
    bool write_journal(bool durable);
    bool write_private_record();
    bool sync_result(int result_fd);
    void write_progress();
    void end_change();
    void remove_private_files();
    void fail(const char *step, const std::string &why);

    ArchiveJob &job_;
    DirectoryLock dir_lock_;
    std::optional<ChangeJournal> fallback_journal_; // the lock file, without a state directory
    ChangeJournal *journal_ = nullptr;
    UniqueFd private_fd_; // the change's private directory
    UniqueFd work_fd_;    // where the working copy is
    std::string zip_target_;
    ChangeRecord record_;
    ChangeProgress progress_;
    bool step_failed_ = false;
    long long site_bytes_ = 0; // the site's comment and info files
    bool begun_ = false;
    bool finished_ = false;
};

#endif
