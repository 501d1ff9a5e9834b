// In siteop mode, the archives known to carry the site's mark: a record
// (mark_record.h) in the state directory's "marks" of each archive that a
// run found tagged, as what file (device, inode, size, modification and
// change times). A later run passes over such an archive after one stat,
// starting no program, so that a pass over a whole upload area costs what
// is new in it.
//
// What an entry says, and when it is made: the archive's listing found the
// mark, and then its member names, read through the tagger's own
// descriptor, show a keyword as unzip lists them (unzip reads the archive
// by its name, which an owner swapping directories could point at another
// file meanwhile; and the tagger cannot read a compressed description, so
// an archive whose mark is in its description only is not recorded). Its
// dirty pages are written out first, on a file system whose mapped writes
// then move the change time again (ext2 to ext4, XFS, Btrfs; elsewhere no
// entry is made), so that no write through a mapping goes unseen.
//
// What the record trusts:
// - the file is the one recorded and has not changed since: the same
//   device, inode, size and times, the change time included, which no
//   uploader can set, so that a rewrite, a replacement or a rename over
//   the archive is always seen;
// - it was seen carrying the mark at least two seconds after its last
//   change: seen sooner, a write in the same tick of the file system's
//   clock could have left the same times, and the archive is listed again.
//   An archive a run tags is not recorded: the run's own change is the
//   last, a moment before (its owner could write in the same tick); the
//   next pass lists it, and records it then;
// - nothing that decides "tagged" has changed: the keywords, the tag
//   line, the site files' names and contents, and the tagger's version
//   make a fingerprint, and an entry made under another is none.
//
// The normal modes use no record. Without a usable state directory
// (state_dir.h) the tagger works without one.
#ifndef VELMO_TAGGER_KNOWN_MARKS_H
#define VELMO_TAGGER_KNOWN_MARKS_H

#include "archive_job.h"
#include "listing_facts.h"
#include "run_tally.h"

#include <cstdint>

// True, in siteop mode, when the record knows the file that `arg` names,
// as it is now, to carry the mark: the run passes over it.
bool known_to_carry_mark(const char *arg);

// True when a keyword occurs in `member`'s name as unzip lists it, in the
// bytes it lists: up to a NUL, and only for a member without a Unicode
// path of its own, which unzip would show instead.
bool listed_name_holds_keyword(const MemberName &member);

// The fingerprint of everything that decides "tagged" in this run: the
// keywords, the tag line and the site files' names as read_datafile()
// left them, the site files' contents, and the tagger's version.
std::uint64_t mark_fingerprint();

// Records the archive of `job`, in siteop mode, when this run found it
// carrying the mark (`outcome` AlreadyTagged) and its own names show it.
void remember_mark(const ArchiveJob &job, Outcome outcome);

#endif
