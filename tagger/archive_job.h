// One archive argument on its way through the tagger: its path as the
// messages and command lines give it, a descriptor of its directory, and,
// once opened, a descriptor of the archive itself and its lock. The
// tagger's own file operations on the upload go through these descriptors
// and the *at calls, never through the path again.
#ifndef VELMO_TAGGER_ARCHIVE_JOB_H
#define VELMO_TAGGER_ARCHIVE_JOB_H

#include "child_process.h"
#include "locks.h"
#include "unique_fd.h"
#include "upload_path.h"

#include <string>
#include <sys/stat.h>
#include <vector>

class ArchiveJob {
  public:
    // `path` is absolute, or, not `resolved`, the argument as given when it
    // could not be resolved (errno as the resolution left it), which is
    // then never opened: it is missing. Its directory is all before its
    // last "/". `link_owners` are the owners of the links followed to
    // reach it.
    explicit ArchiveJob(std::string path, std::vector<uid_t> link_owners = {},
                        bool resolved = true);
    ArchiveJob(const ArchiveJob &) = delete;
    ArchiveJob &operator=(const ArchiveJob &) = delete;

    const std::string &path() const { return path_; }
    const std::string &dir_path() const { return dir_path_; }
    const std::string &name() const { return name_; }

    // Opens the archive's directory, once, and clears away what killed
    // runs left in it (private_dirs.h). Returns false (errno set) when it
    // cannot be opened or the path was not resolved.
    bool open_directory();
    int dir_fd() const { return dir_fd_.get(); }

    enum class Opened {
        Yes,
        Missing,    // nothing at the name, or no directory (errno set)
        NotRegular, // a fifo, a device, a directory or a link
        Unsafe,     // it cannot be tagged without acting for others (see refusal())
        Busy,       // another run holds its lock
        LockFailed, // its lock could not be made (errno set), or a stop came
        Unfinished, // a change of it that a stopped run began cannot be ended now
    };
    // Opens the archive without following a link and without blocking on a
    // fifo, decides whom its archivers run as, and takes its lock, which is
    // held until the object goes. A change of the archive that a run before
    // could not end is ended first (change_recovery.h), and the archive
    // opened as that leaves it. When the tagger runs as root, an archive is
    // refused when a user other than root and its owner could change the
    // way to it, or its owner could not reach it; always, when a link of
    // another user led to it. REQUIRES: open_directory() succeeded.
    Opened open_archive();

    // The archive's lock, which carries the intent of its change.
    ArchiveLock &lock() { return lock_; }
    // Why open_archive() gave Unsafe.
    const std::string &refusal() const { return refusal_; }
    // The directories from "/" to the archive's, itself last.
    const std::vector<PathStep> &path_steps() const { return steps_; }
    int archive_fd() const { return archive_fd_.get(); }
    const struct stat &archive_stat() const { return archive_stat_; }

    // True when the archive's name still leads to the file opened, with the
    // size and modification time it had then.
    bool unchanged() const;

    // The archive as this run's change left it: the file it produced and
    // checked (a regular file with one name, at the archive's name when
    // the change was made final). The ownership step acts on it and on
    // nothing else. Empty unless the archive was tagged.
    void set_result(UniqueFd result) { result_fd_ = std::move(result); }
    int result_fd() const { return result_fd_.get(); }

    // Whom the archiver programs run as for this archive: its owner and
    // group, when the tagger runs as root and the archive is not root's;
    // else the tagger's own user.
    const ChildCredentials &credentials() const { return credentials_; }

  private:
    Opened open_at_name();
    bool decide_credentials();

    std::string path_;
    std::string dir_path_;
    std::string name_;
    std::vector<uid_t> link_owners_;
    int unresolved_errno_ = 0;
    std::vector<PathStep> steps_;
    std::string refusal_;
    UniqueFd dir_fd_;
    UniqueFd archive_fd_;
    UniqueFd result_fd_;
    struct stat archive_stat_ {};
    ArchiveLock lock_;
    ChildCredentials credentials_;
};

#endif
