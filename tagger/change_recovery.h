// Ending the change of an archive that a run began and could not end
// itself: a run killed outright (a stop timeout's kill of every process,
// the OOM killer) or stopped by a power cut. What it wrote down
// (change_record.h) tells where the original is kept and when zip ran.
//
// The rule: unless the record says the change is complete and on disk, the
// archive is put back as it was, unless zip never replaced it (its name
// still leads to the original); the temporary file its zip left is removed;
// the private directory goes, and the lock file's intent. The next run then
// tags the archive as any other, so it ends up tagged exactly once.
//
// A run finds such changes in three ways: at its start, from the intents in
// the state directory's lock files whose runs are gone (so an archive that
// is never named again, or vanished from its name, is still put back); when
// it takes an archive's lock and finds an intent there; and when it first
// opens a directory, from the private directories that no run holds.
#ifndef VELMO_TAGGER_CHANGE_RECOVERY_H
#define VELMO_TAGGER_CHANGE_RECOVERY_H

#include "change_record.h"
#include "zip_leftovers.h"

#include <optional>
#include <string>
#include <sys/types.h>

// The private directory's entries: the record, and the copy of the
// original (or the original itself, BackupKind::Exchange).
inline constexpr char kRecordName[] = "record";
inline constexpr char kBackupName[] = "copy";

// How large a temporary file of zip's can be, rewriting an archive of
// `original_size` bytes: the archive, the description, and the site's files.
off_t zip_leftover_max(off_t original_size);

// Reads the record of the private directory `private_fd`, and its progress
// (nullopt when that was never written whole). Returns false when there is
// no whole record.
bool read_change_record(int private_fd, ChangeRecord *record,
                        std::optional<ChangeProgress> *progress);

enum class PutBack {
    NotNeeded, // zip never replaced the archive, or the change left it whole
    Done,      // the original is back at its name, and on disk
    Failed,    // it could not be put back (why in *why); it is still kept
};

// Puts the original of `record`'s archive in `dir_fd` back at its name from
// the private directory `private_fd`, unless the name still leads to the
// original or the change never touched it (a working copy).
PutBack put_back_original(int dir_fd, int private_fd, const ChangeRecord &record, std::string *why);

// Finishes or undoes the change that the private directory `private_name`
// in the directory `dir_fd` (at `dir_path`) records, whose run is gone, and
// removes what that run and its zip left. `archive`, when not empty, is the
// archive the caller expects the record to name. REQUIRES: the caller holds
// the lock of the archive (for `archive`, or the one the record names:
// lock_and_recover_leftover takes it). Returns false when the change must
// be left for a later run (its directory busy, its original not put back).
bool recover_change(int dir_fd, const std::string &dir_path, const std::string &private_name,
                    const std::string &archive);

// From a directory's leftovers: the private directory `name`, which no live
// run holds. Takes the lock of the archive its record names (without
// waiting) and recovers its change; a private directory without a whole
// record is removed (its run never got as far as zip).
void lock_and_recover_leftover(int dir_fd, const std::string &dir_path, const std::string &name);

// At the start of a run: every change whose intent stands in a lock file
// of the state directory that no live run holds.
void recover_interrupted_changes();

#endif
