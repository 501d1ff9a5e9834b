#include "archive_job.h"

#include "private_dirs.h"

#include <cerrno>
#include <fcntl.h>

ArchiveJob::ArchiveJob(std::string path) : path_(std::move(path)) {
    const std::size_t slash = path_.rfind('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    name_ = path_.substr(base);
    if (slash == std::string::npos)
        dir_path_ = std::string(1, '.');
    else
        dir_path_ = path_.substr(0, slash == 0 ? 1 : slash);
}

bool ArchiveJob::open_directory() {
    if (dir_fd_)
        return true;
    dir_fd_.reset(open(dir_path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir_fd_)
        return false;
    remove_leftovers_once(dir_fd_.get(), kUploadDirLeftovers);
    return true;
}

ArchiveJob::Opened ArchiveJob::open_archive() {
    archive_fd_.reset(openat(dir_fd_.get(), name_.c_str(),
                             O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!archive_fd_) {
        if (errno == ELOOP)
            return Opened::NotRegular;
        return Opened::Missing;
    }
    if (fstat(archive_fd_.get(), &archive_stat_) != 0)
        return Opened::Missing;
    if (!S_ISREG(archive_stat_.st_mode) || name_.empty())
        return Opened::NotRegular;
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
    // Another run may have replaced the archive while this one waited for
    // the lock: go on with what the name holds now.
    if (!unchanged()) {
        archive_fd_.reset(openat(dir_fd_.get(), name_.c_str(),
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!archive_fd_ || fstat(archive_fd_.get(), &archive_stat_) != 0)
            return Opened::Missing;
        if (!S_ISREG(archive_stat_.st_mode))
            return Opened::NotRegular;
    }
    return Opened::Yes;
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
