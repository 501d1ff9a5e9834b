// The archiver operations as the pipeline uses them: each starts one Info-ZIP
// program for the archive of a job (through the shell, or directly in siteop
// mode), waits for it, checks what it did, and reports a failure by mode.
#ifndef VELMO_TAGGER_ARCHIVER_H
#define VELMO_TAGGER_ARCHIVER_H

#include "archive_change.h"
#include "archive_job.h"
#include "child_process.h"
#include "listing_facts.h"
#include "temporary_file.h"

#include <string>

// Reports an archiver step that failed on `archive`, as
// "error!\n<progname>: <step> '<archive>': <program> <how it ended>\n" in
// verbose mode and the same words to the system log in siteop mode.
void report_step_failure(const char *step, const char *archive, Archiver program,
                         const ChildStatus &status);

// Looks, once, whether the unzip and zip the tagger was built with are
// there and can be run; get_filelist gives every archive up while one of
// them is missing.
void check_archivers();

// Opens the job's archive and takes its lock, then lists it into
// `listing` and reads the listing's facts. Returns 0 when unzip read the
// archive (exit status 0, or 1 for a warning), the listing names at least
// one member and was written whole; 1 when the archive is missing, not a
// regular file, busy, unreadable or has no members, or its listing was cut
// short (each reported).
int get_filelist(ArchiveJob &job, TemporaryFile &listing, ListingFacts *facts);

// Extracts the archive's FILE_ID.DIZ (any letter case) into `description`,
// at most DIZ_MAX bytes. Returns 0 on success, 1 when the listing gives it
// more than DIZ_MAX bytes (nothing is extracted then), when unzip failed
// (member missing, encrypted, damaged) or when it did not write the length
// the listing gives; the description file must not be used then.
int get_dizfile(ArchiveJob &job, TemporaryFile &description, const ListingFacts &facts);

// Stores `file` in the archive (its working copy, if any). Returns how zip
// ended. REQUIRES: change.begin() succeeded.
ChildStatus store_description(const ArchiveJob &job, ArchiveChange &change,
                              const std::string &file);

// Deletes the member `member` from the archive. Returns how zip ended.
// REQUIRES: change.begin() succeeded.
ChildStatus delete_member(const ArchiveJob &job, ArchiveChange &change, const std::string &member);

// Sets the archive comment from the site's comment file, then adds the
// site's info file, stopping at the first that fails. Returns 0 when both
// succeeded, 1 otherwise (reported). REQUIRES: change.begin() succeeded.
int add_zorv_stuff(const ArchiveJob &job, ArchiveChange &change);

#endif
