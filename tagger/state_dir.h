// The tagger's state directory, STATE_DIR: its locks and the pointers to
// the changes in progress, where no uploader can create, hold or change
// anything. It is used only while it is a directory of the tagger's own
// user that nobody else can write; otherwise the tagger keeps its locks
// beside each archive, as it always did, and in siteop mode says why once
// in the system log.
#ifndef VELMO_TAGGER_STATE_DIR_H
#define VELMO_TAGGER_STATE_DIR_H

// A descriptor of STATE_DIR/`name` (made, mode 0700, when missing), opened
// once per run and kept open; -1 when the state directory cannot be used
// or that directory in it is not the tagger's alone.
int state_subdir(const char *name);

// The subdirectory of the locks.
inline constexpr char kLocksDir[] = "locks";

#endif
