#include "archive_change.h"

#include "archiver_commands.h"

#include "fixed_paths.h"
#include "private_dirs.h"
#include "report.h"
#include "settings.h"
#include "upload_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr char kWorkDirName[] = "work";
constexpr char kWorkingCopyName[] = "archive.zip";

// Room beyond zip's rewrites for the description, the site's files and the
// file system's own bookkeeping.
constexpr long long kSpareBytes = 64 * 1024;

std::string why_errno() {
    return std::strerror(errno);
}

// Copies `size` bytes from the start of `from` to the start of `to`.
bool copy_contents(int from, int to, off_t size) {
    off_t done = 0;
    while (done < size) {
        loff_t in = done, out = done;
        ssize_t n = copy_file_range(from, &in, to, &out, static_cast<std::size_t>(size - done), 0);
        if (n < 0 &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            char buffer[65536];
            n = pread(from, buffer, sizeof buffer, done);
            if (n > 0 && pwrite(to, buffer, static_cast<std::size_t>(n), done) != n)
                return false;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // the file got shorter meanwhile
            return false;
        }
        done += n;
    }
    return true;
}

// Gives `fd` the owner, mode and times of `st`. Only root can give a file
// away, so a failed chown is left for the run's own ownership step.
bool take_attributes(int fd, const struct stat &st) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM)
        return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return fchmod(fd, st.st_mode & 07777) == 0 && futimens(fd, times) == 0;
}

} // namespace

void ArchiveChange::fail(const char *step, const std::string &why) {
    report_failure(step, job_.path().c_str(), why);
}

bool ArchiveChange::check_site_file(const char *name, long long *bytes) {
    const std::string path = std::string(CONF_DIR) + "/" + name;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd && fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode))
        errno = EINVAL;
    if (!fd || !S_ISREG(st.st_mode)) {
        fail("tagging", "cannot read '" + path + "': " + why_errno());
        return false;
    }
    if (!usable_by_archivers(path, S_IRUSR, "read"))
        return false;
    *bytes += st.st_size;
    return true;
}

// An archiver that runs as the archive's owner reads the site's files and
// writes beside the archive with that user's rights only.
bool ArchiveChange::usable_by_archivers(const std::string &path, mode_t wanted, const char *verb) {
    const ChildCredentials &who = job_.credentials();
    if (!who.switch_user)
        return true;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 &&
        mode_allows(st.st_mode, st.st_uid, st.st_gid, who.uid, who.gid, wanted))
        return true;
    fail("tagging",
         "its owner, user " + std::to_string(who.uid) + ", cannot " + verb + " '" + path + "'");
    return false;
}

// zip writes each new archive beside the old one.
bool ArchiveChange::directory_writable_by_archivers() {
    const ChildCredentials &who = job_.credentials();
    const std::vector<PathStep> &steps = job_.path_steps();
    if (!who.switch_user || steps.empty())
        return true;
    const PathStep &dir = steps.back();
    if (mode_allows(dir.mode, dir.uid, dir.gid, who.uid, who.gid, S_IWUSR | S_IXUSR))
        return true;
    fail("tagging",
         "its owner, user " + std::to_string(who.uid) + ", cannot write '" + job_.dir_path() + "'");
    return false;
}

bool ArchiveChange::begin() {
    if (begun_)
        return true;
    long long margin = kSpareBytes + 2 * DIZ_MAX;
    const bool siteop = settings.siteop != 0;
    if (!usable_by_archivers(CONF_DIR, S_IXUSR, "search") ||
        !check_site_file(siteop ? "sitetag.asc" : settings.comment_name, &margin) ||
        !check_site_file(siteop ? "velmo97.nfo" : settings.nfo_name, &margin))
        return false;
    if (access(ZIP_PATH, X_OK) != 0) {
        fail("tagging", "cannot run '" + std::string(ZIP_PATH) + "': " + why_errno());
        return false;
    }
    if (!usable_by_archivers(ZIP_PATH, S_IXUSR, "run") || !directory_writable_by_archivers())
        return false;
    if (!job_.unchanged()) {
        fail("tagging", "it was changed while being tagged");
        return false;
    }
    const std::string &name = job_.name();
    working_copy_ = job_.archive_stat().st_nlink > 1 || zip_would_extend(name);
    begun_ = true;
    if (!(working_copy_ ? make_working_copy() : reserve_original()) || !has_room(margin)) {
        roll_back();
        return false;
    }
    return true;
}

bool ArchiveChange::reserve_original() {
    private_fd_ = make_private_file(job_.dir_fd(), ".velmotag_", &private_name_);
    const off_t size = job_.archive_stat().st_size;
    int error = private_fd_ ? 0 : errno;
    if (error == 0 && size > 0)
        error = posix_fallocate(private_fd_.get(), 0, size);
    if (error != 0) {
        errno = error;
        fail("tagging", "no room to keep its original: " + why_errno());
        return false;
    }
    zip_target_ = job_.path();
    return true;
}

bool ArchiveChange::make_working_copy() {
    private_fd_ = make_private_directory(job_.dir_fd(), ".velmotag_", &private_name_);
    // Searchable, not readable, by archivers that run as the archive's owner.
    if (private_fd_ && job_.credentials().switch_user && fchmod(private_fd_.get(), 0711) != 0)
        private_fd_.reset();
    if (!private_fd_) {
        fail("tagging", "cannot make a private directory beside it: " + why_errno());
        return false;
    }
    if (mkdirat(private_fd_.get(), kWorkDirName, 0700) == 0)
        work_fd_.reset(openat(private_fd_.get(), kWorkDirName,
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // zip writes its new archive beside the copy, as the archive's owner.
    const ChildCredentials &who = job_.credentials();
    if (work_fd_ && who.switch_user && fchown(work_fd_.get(), who.uid, who.gid) != 0)
        work_fd_.reset();
    UniqueFd copy;
    if (work_fd_)
        copy.reset(openat(work_fd_.get(), kWorkingCopyName,
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const struct stat &st = job_.archive_stat();
    if (!copy || !copy_contents(job_.archive_fd(), copy.get(), st.st_size) ||
        !take_attributes(copy.get(), st)) {
        fail("tagging", "cannot make a working copy of it: " + why_errno());
        return false;
    }
    zip_target_ =
        job_.dir_path() + "/" + private_name_ + "/" + kWorkDirName + "/" + kWorkingCopyName;
    return true;
}

// zip writes each new archive beside the old one, and the original stays
// open until the end: room for the archive twice, or once beside a working
// copy, which already has its own.
bool ArchiveChange::has_room(long long margin) {
    struct statvfs fs;
    if (fstatvfs(job_.dir_fd(), &fs) != 0)
        return true;
    const long long size = job_.archive_stat().st_size;
    const long long needed = (working_copy_ ? 1 : 2) * size + margin;
    const long long left =
        static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
    if (left >= needed)
        return true;
    fail("tagging", "it needs " + std::to_string(needed) + " bytes free on its file system, " +
                        std::to_string(left) + " are left");
    return false;
}

bool ArchiveChange::commit() {
    if (!begun_ || finished_)
        return true;
    const char *name = job_.name().c_str();
    if (working_copy_) {
        if (!job_.unchanged()) {
            fail("replacing", "it was changed while being tagged");
            roll_back();
            return false;
        }
        UniqueFd result(
            openat(work_fd_.get(), kWorkingCopyName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (!result || fstat(result.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            fsync(result.get()) != 0 ||
            renameat(work_fd_.get(), kWorkingCopyName, job_.dir_fd(), name) != 0) {
            fail("replacing", why_errno());
            roll_back();
            return false;
        }
    } else {
        // zip follows a link put in the archive's place and writes through it.
        struct stat st;
        if (fstatat(job_.dir_fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_nlink != 1) {
            fail("tagging", "something else was put in its place");
            roll_back();
            return false;
        }
    }
    finished_ = true;
    remove_private_files();
    return true;
}

void ArchiveChange::roll_back() {
    dir_lock_.release();
    if (!begun_ || finished_)
        return;
    finished_ = true;
    if (!working_copy_)
        restore_original();
    remove_private_files();
}

void ArchiveChange::restore_original() {
    const struct stat &original = job_.archive_stat();
    struct stat now;
    if (fstatat(job_.dir_fd(), job_.name().c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == original.st_dev && now.st_ino == original.st_ino)
        return; // no step got as far as replacing it
    if (!copy_contents(job_.archive_fd(), private_fd_.get(), original.st_size) ||
        fsync(private_fd_.get()) != 0 || !take_attributes(private_fd_.get(), original) ||
        renameat(job_.dir_fd(), private_name_.c_str(), job_.dir_fd(), job_.name().c_str()) != 0)
        fail("restoring", why_errno() + "; it keeps what the steps before did");
}

// The entries are known; only when zip left something of its own behind is
// the directory read to find it.
void ArchiveChange::remove_private_files() {
    if (!private_fd_)
        return;
    if (!working_copy_) {
        unlinkat(job_.dir_fd(), private_name_.c_str(), 0);
    } else {
        unlinkat(work_fd_.get(), kWorkingCopyName, 0);
        work_fd_.reset();
        unlinkat(private_fd_.get(), kWorkDirName, AT_REMOVEDIR);
        if (unlinkat(job_.dir_fd(), private_name_.c_str(), AT_REMOVEDIR) != 0)
            remove_private_directory(job_.dir_fd(), private_name_, private_fd_.get());
    }
    private_fd_.reset();
}
