#include "file_copy.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool copy_range(int from, int to, off_t start, off_t end) {
    return copy_at(from, start, to, start, end - start);
}

} // namespace

bool clone_or_copy(int from, int to, off_t size) {
#ifdef FICLONE
    // A clone that fails leaves the file untouched. (Truncating it to zero
    // "just in case" would make ext4 write its copied data out as soon as
    // it is closed: its guard for files replaced by truncation.)
    struct stat st;
    if (ioctl(to, FICLONE, from) == 0) {
        if (fstat(to, &st) == 0 && st.st_size == size)
            return true;
        errno = EIO; // the file changed meanwhile
        return false;
    }
#endif
    // Only the data is copied, a range at a time; the holes between stay
    // holes, and the length comes last.
    for (off_t at = 0; at < size;) {
        off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break;
        off_t hole = data < 0 ? -1 : lseek(from, data, SEEK_HOLE);
        if (data < 0 || hole < 0) {
            if (errno != EINVAL)
                return false;
            data = at; // no SEEK_DATA here: copy the rest whole
            hole = size;
        }
        if (data >= size)
            break;
        hole = std::min(hole, size);
        if (!copy_range(from, to, data, hole))
            return false;
        at = hole;
    }
    // A hole at the end is the length alone.
    struct stat copied;
    return fstat(to, &copied) == 0 && (copied.st_size == size || ftruncate(to, size) == 0);
}

bool copy_at(int from, off_t from_offset, int to, off_t to_offset, off_t size) {
    for (off_t done = 0; done < size;) {
        loff_t in = from_offset + done, out = to_offset + done;
        ssize_t n = copy_file_range(from, &in, to, &out, static_cast<std::size_t>(size - done), 0);
        if (n < 0 &&
            (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
            char buffer[65536];
            const std::size_t want =
                static_cast<std::size_t>(std::min<off_t>(size - done, sizeof buffer));
            n = pread(from, buffer, want, from_offset + done);
            if (n > 0 && pwrite(to, buffer, static_cast<std::size_t>(n), to_offset + done) != n)
                return false;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

bool take_attributes(int fd, uid_t owner, gid_t group, mode_t mode, const timespec times[2]) {
    if (fchown(fd, owner, group) != 0 && errno != EPERM)
        return false;
    return fchmod(fd, mode & 07777) == 0 && futimens(fd, times) == 0;
}

bool take_attributes(int fd, const struct stat &st) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return take_attributes(fd, st.st_uid, st.st_gid, st.st_mode, times);
}

FileIdentity identity_of(const struct stat &st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool is_file(const struct stat &st, const FileIdentity &id) {
    return st.st_dev == id.dev && st.st_ino == id.ino;
}

bool sync_directory(int dir_fd) {
    return fsync(dir_fd) == 0 || errno == EINVAL;
}
