#include "archive_job.h"

#include "change_recovery.h"
#include "private_dirs.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

ArchiveJob::ArchiveJob(std::string path, std::vector<uid_t> link_owners, bool resolved)
    : path_(std::move(path)), link_owners_(std::move(link_owners)),
      unresolved_errno_(resolved ? 0 : (errno != 0 ? errno : ENOENT)) {
    name_ = path_.substr(path_.rfind('/') + 1); // npos + 1 is 0
    dir_path_ = directory_of(path_);
}

bool ArchiveJob::open_directory() {
    if (dir_fd_)
        return true;
    if (unresolved_errno_ != 0) {
        errno = unresolved_errno_;
        return false;
    }
    dir_fd_ = open_directory_walk(dir_path_, &steps_);
    if (!dir_fd_)
        return false;
    remove_leftovers_once(dir_fd_.get(), kUploadDirLeftovers);
    return true;
}

// What the name holds now: opened, checked, and whom its archivers run as.
ArchiveJob::Opened ArchiveJob::open_at_name() {
    // Opening a device can do something by itself; anything but a regular
    // file is refused before it is opened.
    struct stat at_name;
    if (fstatat(dir_fd_.get(), name_.c_str(), &at_name, AT_SYMLINK_NOFOLLOW) != 0)
        return Opened::Missing;
    if (!S_ISREG(at_name.st_mode))
        return Opened::NotRegular;
    archive_fd_.reset(openat(dir_fd_.get(), name_.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!archive_fd_)
        return errno == ELOOP ? Opened::NotRegular : Opened::Missing;
    if (fstat(archive_fd_.get(), &archive_stat_) != 0)
        return Opened::Missing;
    if (!S_ISREG(archive_stat_.st_mode) || name_.empty())
        return Opened::NotRegular;
    return decide_credentials() ? Opened::Yes : Opened::Unsafe;
}

ArchiveJob::Opened ArchiveJob::open_archive() {
    if (const Opened opened = open_at_name(); opened != Opened::Yes)
        return opened;
    switch (lock_.acquire(dir_fd_.get(), name_)) {
    case LockOutcome::Held:
        break;
    case LockOutcome::Busy:
        return Opened::Busy;
    case LockOutcome::Stopped:
        errno = EINTR;
        return Opened::LockFailed;
    case LockOutcome::Failed:
        return Opened::LockFailed;
    }
    if (!lock_.found_empty() && !end_left_change(dir_fd_.get(), name_, lock_))
        return Opened::Unfinished;
    // Another run may have replaced the archive while this one waited for
    // the lock, or the change just ended put it back: go on with what the
    // name holds now.
    return unchanged() ? Opened::Yes : open_at_name();
}

namespace {

bool owner_credentials(uid_t owner, ChildCredentials *credentials) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry, *found = nullptr;
    while (getpwuid_r(owner, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found)
        return false;
    int count = 16;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0)
        groups.resize(static_cast<std::size_t>(count));
    groups.resize(static_cast<std::size_t>(count));
    *credentials = {true, owner, entry.pw_gid, std::move(groups)};
    return true;
}

} // namespace

bool ArchiveJob::decide_credentials() {
    const uid_t owner = archive_stat_.st_uid;
    for (uid_t link_owner : link_owners_) {
        if (link_owner != 0 && link_owner != owner) {
            refusal_ = "it was reached through a symbolic link of user " +
                       std::to_string(link_owner) + ", not of its owner";
            return false;
        }
    }
    credentials_ = ChildCredentials{};
    if (geteuid() != 0)
        return true;
    if (const PathStep *step = changeable_by_others(steps_, owner)) {
        refusal_ = "users other than root and its owner can change '" + step->path + "'";
        return false;
    }
    if (owner == 0)
        return true;
    // The owner's own group and memberships, as the user database has them;
    // never the archive's group alone, which a set-group-ID directory gives
    // every upload in it whoever the uploader is.
    if (!owner_credentials(owner, &credentials_)) {
        refusal_ =
            "its owner, user " + std::to_string(owner) + ", has no entry in the user database";
        return false;
    }
    if (const PathStep *step = not_searchable_by(steps_, owner, credentials_.groups)) {
        refusal_ = "its owner, user " + std::to_string(owner) + ", cannot reach it through '" +
                   step->path + "'";
        return false;
    }
    return true;
}

bool ArchiveJob::unchanged() const {
    struct stat now;
    if (fstatat(dir_fd_.get(), name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    return now.st_dev == archive_stat_.st_dev && now.st_ino == archive_stat_.st_ino &&
           now.st_size == archive_stat_.st_size &&
           now.st_mtim.tv_sec == archive_stat_.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == archive_stat_.st_mtim.tv_nsec;
}
