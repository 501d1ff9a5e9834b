// In siteop mode, the archives known to carry the site's mark: a record
// (mark_record.h) in the state directory's "marks" of each archive that a
// run found tagged or tagged itself, as what file (device, inode, size,
// modification and change times). A later run passes over such an
// archive after one stat, starting no program, so that a pass over a
// whole upload area costs what is new in it.
//
// What the record trusts:
// - the file is the one recorded and has not changed since: the same
//   device, inode, size and times, the change time included, which no
//   uploader can set, so that a rewrite, a replacement or a rename over
//   the archive is always seen;
// - it was seen carrying the mark at least two seconds after its last
//   change: seen sooner, a write in the same tick of the file system's
//   clock could have left the same times. Such an entry (an archive this
//   run tagged has one) is trusted only once the archive's member names,
//   read through the tagger's own descriptor, show a keyword; otherwise
//   the archive is listed as any other, and recorded again;
// - nothing that decides "tagged" has changed: the keywords, the tag
//   line, the site files' names and contents, and the tagger's version
//   make a fingerprint, and an entry made under another is none.
//
// The normal modes use no record. Without a usable state directory
// (state_dir.h) the tagger works without one.
#ifndef VELMO_TAGGER_KNOWN_MARKS_H
#define VELMO_TAGGER_KNOWN_MARKS_H

#include "archive_job.h"
#include "run_tally.h"

#include <cstdint>

// True, in siteop mode, when the record knows the file that `arg` names,
// as it is now, to carry the mark: the run passes over it.
bool known_to_carry_mark(const char *arg);

// The fingerprint of everything that decides "tagged" in this run: the
// keywords, the tag line and the site files' names as read_datafile()
// left them, the site files' contents, and the tagger's version.
std::uint64_t mark_fingerprint();

// Records the archive of `job`, in siteop mode, when this run found it
// carrying the mark (`outcome` AlreadyTagged) or tagged it (Tagged, once
// its change is on disk and its owner set).
void remember_mark(const ArchiveJob &job, Outcome outcome);

#endif
