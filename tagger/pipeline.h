// One archive's way through the tagger: list, scan, extract, tag and store,
// then comment and info file, all as one change of the archive.
#ifndef VELMO_TAGGER_PIPELINE_H
#define VELMO_TAGGER_PIPELINE_H

#include "archive_job.h"

// Runs every step for the job's archive, stopping at the first that fails
// or finds the site's mark; a failure after the archive was first written
// puts it back as it was. Counts the archive as tagged when it reaches
// the end (run_tally.h), and prints "done" then unless in siteop mode.
void process_zipfile(ArchiveJob &job);

#endif
