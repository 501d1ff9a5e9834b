// Where a run writes down the change it has in hand (change_record.h), on
// disk before zip first touches the archive. With a state directory, each
// run has a journal of its own, STATE_DIR/changes/run-XXXXXX, locked for
// as long as the run lives and removed when it ends; a run finds the
// journals of dead runs by that lock. Without one, the archive's lock file
// beside the archive serves as the journal of its change.
//
// A small archive's original is kept in the journal itself, after the
// record: one write and one sync keep it, and no file beside the archive
// is needed.
//
// Beside the journal, run-XXXXXX.children is locked by the run as well,
// and held by every zip it starts, and by whatever that zip starts: a
// zip under a shell outlives a tagger that is killed alone, and the run
// that ends the dead run's change must first end that zip (which would go
// on to replace the archive), knowing it by that lock.
#ifndef VELMO_TAGGER_CHANGE_JOURNAL_H
#define VELMO_TAGGER_CHANGE_JOURNAL_H

#include "change_record.h"
#include "unique_fd.h"

#include <optional>
#include <string>

class ChangeJournal {
  public:
    // A journal in the file `fd` of the directory `dir_fd`, whose entry
    // there is not yet known to be on disk.
    ChangeJournal(int fd, int dir_fd) : fd_(fd), dir_fd_(dir_fd) {}

    // This run's journal in the state directory, made on first use; null
    // without a usable state directory or when it cannot be made.
    static ChangeJournal *of_run();
    // Its name in STATE_DIR/changes (empty for a lock file).
    const std::string &name() const { return name_; }
    // The descriptor of its children's lock (read-only, so that a child
    // can do nothing with it but hold it), or -1 for a lock file.
    int children_fd() const { return children_fd_.get(); }

    // Writes the record and, for an inline backup, the original's bytes
    // from `original_fd` after it. When `durable`, they and the journal's
    // own directory entry are on disk when it returns. Returns false (errno
    // set) on failure.
    bool write(const ChangeRecord &record, int original_fd, bool durable);
    // Rewrites the progress in place.
    bool write_progress(const ChangeProgress &progress, bool durable = false);
    // Empties the journal: its change is over (not synced: a change that
    // a run finds complete, or with nothing to put back, is only tidied up).
    void clear();
    // Leaves the run's journal, with the change in it that could not be
    // ended, to the next run; the run's next change gets a new journal.
    void abandon();
    // At the end of a run: removes the run's journal, unless it holds a
    // change that could not be ended.
    static void end_of_run();

  private:
    ChangeJournal() = default;
    // The one object that of_run() opens, opened or not.
    static ChangeJournal &the_run_journal();
    bool open_for_run();

    int fd_ = -1;
    int dir_fd_ = -1;
    bool entry_on_disk_ = false;
    bool holds_change_ = false;
    std::string name_;
    UniqueFd own_fd_; // the run's own journal
    UniqueFd children_fd_;
};

// What a journal or a record file holds: the record and its progress
// (nullopt when it was never written whole). Returns false when there is
// no whole record.
bool read_record(int fd, ChangeRecord *record, std::optional<ChangeProgress> *progress);

// The journals of this run and of dead runs are in this subdirectory of the
// state directory.
inline constexpr char kChangesDir[] = "changes";
// The name of a journal's children lock is the journal's and this.
inline constexpr char kChildrenSuffix[] = ".children";

#endif
