// Ending the change of an archive that a run began and could not end
// itself: a run killed outright (a stop timeout's kill of every process,
// the OOM killer) or stopped by a power cut. What it wrote down
// (change_record.h, change_journal.h) tells where the original is kept and
// when zip ran.
//
// The rule: unless the record says the change is complete, the archive is
// put back as it was, unless zip never replaced it (its name still leads to
// the original); the temporary file its zip left is removed; the private
// directory goes, and the journal is emptied. The next run then tags the
// archive as any other, so it ends up tagged exactly once.
//
// A run finds such changes in three ways: at its start, from the journals
// of dead runs in the state directory (so an archive that is never named
// again, or vanished from its name, is still put back); when it takes an
// archive's lock and finds it pointing at a dead run's journal (or, without
// a state directory, holding the record itself); and when it first opens a
// directory, from the private directories and lock files that no run holds.
#ifndef VELMO_TAGGER_CHANGE_RECOVERY_H
#define VELMO_TAGGER_CHANGE_RECOVERY_H

#include "change_record.h"
#include "locks.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The private directory's entries: the record, and the copy of the
// original (or the original itself, BackupKind::Exchange).
inline constexpr char kRecordName[] = "record";
inline constexpr char kBackupName[] = "copy";

enum class PutBack {
    NotNeeded,  // zip never replaced the archive, or the change left it whole
    Done,       // the original is back at its name, and on disk
    Failed,     // it could not be put back (why in *why); it is still kept
    Superseded, // a newer file is at its name, which stays
};

// Puts the original of `record`'s archive in `dir_fd` back at its name:
// from "copy" in the private directory `private_fd`, or for an inline
// backup from the bytes at `inline_offset` in `inline_fd`; unless the name
// still leads to the original or the change never touched it (a working
// copy), or, given `replaced_after` (when a dead run ended), a file made
// or written after that moment is at the name: an upload that replaced
// the archive since, which is newer than the original.
PutBack put_back_original(int dir_fd, const ChangeRecord &record, int private_fd, int inline_fd,
                          off_t inline_offset, std::string *why,
                          const std::optional<timespec> &replaced_after = std::nullopt);

// The archives (absolute paths) whose originals this run put back for a
// dead run, since the last call: the run tags them as well, so that an
// archive is tagged after the next run even when nobody names it again.
std::vector<std::string> take_put_back_archives();

// Ends the change that `lock`, the caller's lock of `archive` in the
// directory `dir_fd`, leads to (the journal it points at, or the lock file
// itself without a state directory), and marks the lock: its change over,
// or, when it returns false, kept for a later run (its directory busy, its
// original not put back).
bool end_left_change(int dir_fd, const std::string &archive, ArchiveLock &lock);

// From a directory's leftovers: the private directory or lock file `name`,
// which no live run holds. Takes the lock of the archive its record names
// (without waiting) and ends its change.
void end_leftover_change(int dir_fd, const std::string &name);

// At the start of a run: every change in the journal of a dead run, and
// the lock files that dead runs left.
void recover_interrupted_changes();

#endif
