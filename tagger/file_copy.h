// Copies of an archive that the tagger makes itself, and what it compares
// them by.
#ifndef VELMO_TAGGER_FILE_COPY_H
#define VELMO_TAGGER_FILE_COPY_H

#include "change_record.h"

#include <sys/stat.h>
#include <sys/types.h>

// Makes the empty file `to` a copy of the first `size` bytes of `from`: a
// clone sharing its blocks where the file system can (FICLONE), else a copy
// of its data, holes left holes. Returns false (errno set) on failure; EIO
// when `from` got shorter meanwhile.
bool clone_or_copy(int from, int to, off_t size);

// Copies `size` bytes from `from` at `from_offset` to `to` at `to_offset`,
// across file systems too. Returns false (errno set; EIO when `from` ends
// early) on failure.
bool copy_at(int from, off_t from_offset, int to, off_t to_offset, off_t size);

// Gives `fd` the owner, group, mode and times of `st`. Only root can give a
// file away, so a chown refused to another user is left for the run's own
// ownership step. Returns false (errno set) on failure.
bool take_attributes(int fd, const struct stat &st);
// The same from the attributes themselves; `times` are the access and the
// modification time.
bool take_attributes(int fd, uid_t owner, gid_t group, mode_t mode, const timespec times[2]);

FileIdentity identity_of(const struct stat &st);

// True when `st` is the file `id` names (same device and inode).
bool is_file(const struct stat &st, const FileIdentity &id);

// fsync of a directory by its descriptor; true where the file system has
// nothing to sync for directories (EINVAL).
bool sync_directory(int dir_fd);

#endif
