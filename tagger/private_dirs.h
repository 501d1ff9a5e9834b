// The tagger's private directories beside an archive and in TMP_DIR, and
// clearing away what killed runs left behind. A run that ends normally
// removes its temporary files, private directories and lock files itself;
// one killed by SIGKILL or a power cut cannot. The next run over the same
// directory removes them: an entry of the tagger's own making (by its name,
// its type and, for directories and lock files, its owner) that no live run
// holds locked and that is older than a moment. A private directory that
// holds the record of a change is not simply removed: the change is ended
// first (change_recovery.h), which may put its archive back.
#ifndef VELMO_TAGGER_PRIVATE_DIRS_H
#define VELMO_TAGGER_PRIVATE_DIRS_H

#include "unique_fd.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

// Makes a new directory, mode 0700, named `prefix` and six random letters
// and digits, in the directory `parent_fd`, and locks it as in use. Returns
// its descriptor and puts its name in *name; an empty descriptor (errno
// set) on failure.
UniqueFd make_private_directory(int parent_fd, const char *prefix, std::string *name);

// Makes a new file, mode 0600, named `prefix` and six random letters and
// digits, in the directory `parent_fd`, and locks it as in use; otherwise
// as make_private_directory.
UniqueFd make_private_file(int parent_fd, const char *prefix, std::string *name);

// Removes the private directory `name` in `parent_fd`, whose descriptor is
// `fd`: its entries, those of the directories in it, and itself.
void remove_private_directory(int parent_fd, const std::string &name, int fd);

// What the tagger's entries beside an archive are named by: a private
// directory or file is kPrivatePrefix and six random characters; an
// archive's lock file there (without a state directory) kLockFilePrefix
// and 16 hex digits.
inline constexpr char kPrivatePrefix[] = ".velmotag_";
inline constexpr char kLockFilePrefix[] = ".velmotag_lock_";

struct LeftoverKind {
    enum Type { File, Directory, FileOrDirectory };
    const char *prefix;        // the name, up to the random or hashed part
    std::size_t suffix_length; // characters after the prefix
    Type type;
    bool must_be_ours;  // owned by the tagger's user
    bool holds_changes; // one of this kind may record a change
};

// The kinds a run leaves in an archive's directory, and in TMP_DIR.
extern const LeftoverKind kUploadDirLeftovers[2];
extern const LeftoverKind kTmpDirLeftovers[3];

// Removes the stale leftovers of `kinds` in the directory `dir_fd`, and
// ends the changes they record, the first time it is called for that
// directory in this run; later calls for the same directory do nothing.
// Failures are not reported: a leftover that cannot be removed now is
// tried again by a later run.
void remove_leftovers_once(int dir_fd, std::span<const LeftoverKind> kinds);

// The names in the directory `dir_fd`, but "." and "..".
std::vector<std::string> directory_entries(int dir_fd);

#endif
