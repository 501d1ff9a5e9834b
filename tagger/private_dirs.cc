#include "private_dirs.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// ".velmotag_XXXXXX" holds a reserved copy or a working copy of an archive
// (archive_change.h); ".velmotag_lock_" and 16 hex digits is an archive's
// lock (locks.h); the rest are the temporary files and the private
// directory of a link handed to unzip.
const LeftoverKind kUploadDirLeftovers[2] = {{".velmotag_", 6, true, true},
                                             {".velmotag_lock_", 16, false, true}};
const LeftoverKind kTmpDirLeftovers[3] = {{"rt_filelist_", 6, false, false},
                                          {"rt_tmpdiz_", 6, false, false},
                                          {"velmotag_", 6, true, true}};

namespace {

// A run makes an entry and locks it at once; the pause keeps a later run
// from taking an entry it catches in between for a leftover.
constexpr time_t kMinimumAgeSeconds = 2;

const LeftoverKind *kind_of(const char *name, const LeftoverKind *kinds, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t prefix = std::strlen(kinds[i].prefix);
        if (std::strncmp(name, kinds[i].prefix, prefix) == 0 &&
            std::strlen(name) == prefix + kinds[i].suffix_length)
            return &kinds[i];
    }
    return nullptr;
}

std::vector<std::string> entry_names(int dir_fd) {
    std::vector<std::string> names;
    const int copy = fcntl(dir_fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        return names;
    DIR *dir = fdopendir(copy);
    if (!dir) {
        close(copy);
        return names;
    }
    rewinddir(dir);
    while (const dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

// Empties a private directory one level deep, and the directories in it
// one level more (a working directory a child wrote into).
void empty_directory(int dir_fd, int depth) {
    for (const std::string &name : entry_names(dir_fd)) {
        if (unlinkat(dir_fd, name.c_str(), 0) == 0 || depth == 0)
            continue;
        UniqueFd inner(
            openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner) {
            empty_directory(inner.get(), depth - 1);
            unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR);
        }
    }
}

void remove_if_stale(int dir_fd, const char *name, const LeftoverKind &kind) {
    const int flags = kind.is_directory ? O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC
                                        : O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(openat(dir_fd, name, flags));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0)
        return;
    if (kind.is_directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode))
        return;
    if (kind.must_be_ours && st.st_uid != geteuid())
        return;
    if (std::time(nullptr) - st.st_ctime < kMinimumAgeSeconds)
        return;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    if (kind.is_directory)
        remove_private_directory(dir_fd, name, fd.get());
    else
        unlinkat(dir_fd, name, 0);
}

} // namespace

UniqueFd make_private_directory(int parent_fd, const char *prefix, std::string *name) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getentropy(random, sizeof random) != 0)
            return UniqueFd();
        std::string candidate = prefix;
        for (unsigned char r : random)
            candidate += kLetters[r % (sizeof kLetters - 1)];
        if (mkdirat(parent_fd, candidate.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return UniqueFd();
        }
        UniqueFd fd(
            openat(parent_fd, candidate.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd || flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            unlinkat(parent_fd, candidate.c_str(), AT_REMOVEDIR);
            errno = error;
            return UniqueFd();
        }
        *name = candidate;
        return fd;
    }
    errno = EEXIST;
    return UniqueFd();
}

void remove_private_directory(int parent_fd, const std::string &name, int fd) {
    empty_directory(fd, 1);
    unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR);
}

void remove_leftovers_once(int dir_fd, const LeftoverKind *kinds, std::size_t kind_count) {
    static std::set<std::pair<dev_t, ino_t>> done;
    struct stat st;
    if (fstat(dir_fd, &st) != 0 || !done.insert({st.st_dev, st.st_ino}).second)
        return;
    for (const std::string &name : entry_names(dir_fd)) {
        if (const LeftoverKind *kind = kind_of(name.c_str(), kinds, kind_count))
            remove_if_stale(dir_fd, name.c_str(), *kind);
    }
}
