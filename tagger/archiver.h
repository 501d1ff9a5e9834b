// The archiver operations as the pipeline uses them: each starts one Info-ZIP
// program, waits for it, and reports a failure by mode.
#pragma once

#include "command_line.h"

// Runs one operation (through the shell, or directly in siteop mode; the
// shell line is echoed with -c) and returns the program's exit status, or
// kChildFailed when it could not be started or was killed.
int run_archiver(ArchiverOp op, const char *archive, const char *file = "");

// Runs a zip operation on `archive` as run_archiver does, through an alias
// when zip would otherwise write another file (see archive_alias.h). Returns
// kChildFailed when the alias cannot be made or put back.
int run_zip(ArchiverOp op, const char *archive, const char *file = "");

// Reports an archiver step that failed on `archive`, as
// "error!\n<progname>: <step> '<archive>': <program> exit status N\n" in
// verbose mode and the same words to the system log in siteop mode.
void report_step_failure(const char *step, const char *archive, const char *program, int status);

// Lists `archive` into the file `listing`. Returns 0 when unzip read the
// archive (exit status 0, or 1 for warnings such as an empty archive) and
// the listing exists; 1 when the archive is missing or unreadable.
int get_filelist(const char *archive, const char *listing);

// Extracts the archive's FILE_ID.DIZ (any letter case) into `description`.
// Returns 0 on success, 1 when unzip failed (member missing, encrypted,
// damaged), in which case the description file must not be used.
int get_dizfile(const char *archive, const char *description);

// Sets the archive comment from the site's comment file, then adds the
// site's info file; always runs both. Returns 0 when both succeeded, 1 when
// either failed (each failure reported).
int add_zorv_stuff(const char *archive);
