// The way to an archive, as a stranger's directory can change it. An
// argument is resolved as realpath resolves it, noting who owns each
// symbolic link followed on the way; the archive's directory is then
// opened from "/" one component at a time without following any link, so
// that what the tagger works in is the directory the resolved path named,
// whatever is swapped in later; and the owner and mode of every directory
// on the way are kept, to tell who else could change the path.
#ifndef VELMO_TAGGER_UPLOAD_PATH_H
#define VELMO_TAGGER_UPLOAD_PATH_H

#include "unique_fd.h"

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

struct ResolvedPath {
    std::string path;               // absolute, without links, "." or ".." components
    std::vector<uid_t> link_owners; // the owner of each link followed
};

// Resolves `arg` against the working directory. Returns false (errno set)
// when a component is missing or unreadable, as realpath fails.
bool resolve_archive_path(const char *arg, ResolvedPath *out);

// One directory on the way to an archive.
struct PathStep {
    std::string path;
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

// Opens the absolute directory `dir_path` from "/" without following a link
// at any component, and puts the directories on the way (itself last) in
// *steps. A relative path is opened as it is, with no steps. Returns an
// empty descriptor (errno set) on failure.
UniqueFd open_directory_walk(const std::string &dir_path, std::vector<PathStep> *steps);

// The directory part of `path`: "." for a bare name, "/" for a name in the
// root directory.
std::string directory_of(const std::string &path);

// The first directory on the way whose entries someone other than root and
// `owner` could rename, replace or link: one owned by another user, or
// writable by its group or by all without the sticky bit. Null when there
// is none.
const PathStep *changeable_by_others(const std::vector<PathStep> &steps, uid_t owner);

// The first directory on the way that `uid` with the groups `groups`
// cannot search, or null.
const PathStep *not_searchable_by(const std::vector<PathStep> &steps, uid_t uid,
                                  const std::vector<gid_t> &groups);

// True when the mode bits of a file owned by `owner`:`group` give `uid`
// with the groups `groups` each right in `wanted` (a mask of the owner
// bits, such as S_IRUSR | S_IXUSR).
bool mode_allows(mode_t mode, uid_t owner, gid_t group, uid_t uid, const std::vector<gid_t> &groups,
                 mode_t wanted);

// True when `user` could remove the entry `entry` from the directory
// `dir_fd` (which it may write) by right of its own: the directory has no
// sticky bit, or `user` owns the entry or the directory. Root, acting for
// an uploader, removes nothing that the uploader could not.
bool user_could_remove(int dir_fd, const struct stat &entry, uid_t user);

#endif
