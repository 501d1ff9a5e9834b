#include "temporary_file.h"

#include "fixed_paths.h"

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

void TemporaryFile::take_back() {
    // Another user's processes may still hold it open; the snapshot is what
    // counts, read once and bounded.
    if (fchown(fd_.get(), geteuid(), getegid()) != 0) {
    }
}
