// What is fixed when the tagger is built: its configuration directory, the
// two Info-ZIP programs it starts, the directories of its temporary files
// and of its state, and four limits. They are CMake cache variables
// (VELMOTAG_CONF_DIR, VELMOTAG_UNZIP_PATH, VELMOTAG_ZIP_PATH,
// VELMOTAG_TMP_DIR, VELMOTAG_STATE_DIR, VELMOTAG_DIZ_MAX,
// VELMOTAG_LOCK_WAIT, VELMOTAG_CHILD_CPU and VELMOTAG_CHILD_TIME); the
// product uses the site's hidden tool directory, /tmp, /var/lib/velmotag,
// 65,536 bytes, 5 seconds, 600 seconds and 1,800 seconds.
#ifndef VELMO_TAGGER_FIXED_PATHS_H
#define VELMO_TAGGER_FIXED_PATHS_H

extern const char *const CONF_DIR;
extern const char *const UNZIP_PATH;
extern const char *const ZIP_PATH;
extern const char *const TMP_DIR;

// The tagger's own directory: its locks and the records of the changes in
// progress (state_dir.h). Used only while it belongs to the tagger's user
// and nobody else can write it.
extern const char *const STATE_DIR;

// The largest FILE_ID.DIZ, in bytes, that the tagger extracts. A
// conventional one is ten lines of 45 characters.
extern const long long DIZ_MAX;

// How long a run waits for a lock that another run holds before it gives
// the archive up as busy.
extern const int LOCK_WAIT_SECONDS;

// Processor seconds an archiver may take before the system stops it. zip
// that cannot reopen the archive it is rewriting, as when an uploader takes
// the read permission away halfway, asks on standard input for another
// name, reads end of file and asks again, for ever; the limit ends that
// loop. Honest work stays far below it: zip copies the members it keeps
// without compressing them again.
extern const int CHILD_CPU_SECONDS;

// Seconds an archiver may run, whatever it does meanwhile: one held
// stopped, or waiting on a file an uploader keeps from it, uses no
// processor time, and is ended by this deadline instead.
extern const int CHILD_TIME_SECONDS;

#endif
