#include "temporary_file.h"

#include "fixed_paths.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TemporaryFile::~TemporaryFile() {
    if (fd_)
        unlink(path_.c_str());
}

bool TemporaryFile::create(const char *name_template) {
    std::string path = std::string(TMP_DIR) + "/" + name_template;
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    fd_.reset(fd);
    path_ = path;
    flock(fd, LOCK_EX | LOCK_NB);
    return true;
}

bool TemporaryFile::give_to(const ChildCredentials &credentials) {
    if (!credentials.switch_user)
        return true;
    return fchown(fd_.get(), credentials.uid, credentials.gid) == 0;
}

velmo::FilePtr read_from_start(int fd) {
    if (fd < 0) {
        errno = EBADF;
        return nullptr;
    }
    if (lseek(fd, 0, SEEK_SET) < 0)
        return nullptr;
    UniqueFd copy(fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!copy)
        return nullptr;
    velmo::FilePtr stream(fdopen(copy.get(), "rb"));
    if (stream)
        copy.release();
    return stream;
}
