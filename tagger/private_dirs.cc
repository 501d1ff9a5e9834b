#include "private_dirs.h"

#include "change_journal.h"
#include "change_recovery.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// ".velmotag_XXXXXX" is the room reserved for an archive's original, or the
// directory of its working copy (archive_change.h); ".velmotag_lock_" and
// 16 hex digits is an archive's lock (locks.h); the rest are the temporary
// files and the private directory of a link handed to unzip.
const LeftoverKind kUploadDirLeftovers[2] = {
    {kPrivatePrefix, 6, LeftoverKind::FileOrDirectory, true, true},
    {kLockFilePrefix, 16, LeftoverKind::File, true, true}};
const LeftoverKind kTmpDirLeftovers[3] = {{"rt_filelist_", 6, LeftoverKind::File, false, false},
                                          {"rt_tmpdiz_", 6, LeftoverKind::File, false, false},
                                          {"velmotag_", 6, LeftoverKind::Directory, true, false}};

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

// A run makes an entry and locks it at once; the pause keeps a later run
// from taking an entry it catches in between for a leftover.
constexpr time_t kMinimumAgeSeconds = 2;

const LeftoverKind *kind_of(const char *name, std::span<const LeftoverKind> kinds) {
    for (const LeftoverKind &kind : kinds) {
        const std::size_t prefix = std::strlen(kind.prefix);
        if (std::strncmp(name, kind.prefix, prefix) == 0 &&
            std::strlen(name) == prefix + kind.suffix_length)
            return &kind;
    }
    return nullptr;
}

} // namespace

std::vector<std::string> directory_entries(int dir_fd) {
    std::vector<std::string> names;
    UniqueFd copy(fcntl(dir_fd, F_DUPFD_CLOEXEC, 3));
    if (!copy)
        return names;
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(copy.get()));
    if (!dir)
        return names;
    copy.release();
    rewinddir(dir.get());
    while (const dirent *entry = readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    return names;
}

namespace {

// Empties a private directory one level deep, and the directories in it
// one level more (a working directory a child wrote into).
void empty_directory(int dir_fd, int depth) {
    for (const std::string &name : directory_entries(dir_fd)) {
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

bool holds_record(int fd, bool directory) {
    UniqueFd record;
    if (directory)
        record.reset(openat(fd, kRecordName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    ChangeRecord read;
    std::optional<ChangeProgress> progress;
    return read_record(directory ? record.get() : fd, &read, &progress);
}

void remove_if_stale(int dir_fd, const char *name, const LeftoverKind &kind) {
    UniqueFd fd(openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0)
        return;
    const bool directory = S_ISDIR(st.st_mode);
    if (!directory && !S_ISREG(st.st_mode))
        return;
    if (directory ? kind.type == LeftoverKind::File : kind.type == LeftoverKind::Directory)
        return;
    if (kind.must_be_ours && st.st_uid != geteuid())
        return;
    // A change that a dead run left: a private directory with a record, or
    // (without a state directory) a lock file that is a journal. Whether its
    // run is gone, the archive's lock tells.
    if (kind.holds_changes && holds_record(fd.get(), directory)) {
        fd.reset();
        end_leftover_change(dir_fd, name);
        return;
    }
    if (std::time(nullptr) - st.st_ctime < kMinimumAgeSeconds)
        return;
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    // A lock file's holder removes it before letting it go, and a new one
    // may be in its place by now: only what was locked is removed.
    struct stat at_name;
    if (fstatat(dir_fd, name, &at_name, AT_SYMLINK_NOFOLLOW) != 0 || at_name.st_dev != st.st_dev ||
        at_name.st_ino != st.st_ino)
        return;
    if (directory)
        remove_private_directory(dir_fd, name, fd.get());
    else
        unlinkat(dir_fd, name, 0);
}

// Six random letters and digits after `prefix`.
bool random_name(const char *prefix, std::string *name) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char random[6];
    if (getentropy(random, sizeof random) != 0)
        return false;
    *name = prefix;
    for (unsigned char r : random)
        *name += kLetters[r % (sizeof kLetters - 1)];
    return true;
}

} // namespace

UniqueFd make_private_directory(int parent_fd, const char *prefix, std::string *name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate;
        if (!random_name(prefix, &candidate))
            return UniqueFd();
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

UniqueFd make_private_file(int parent_fd, const char *prefix, std::string *name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate;
        if (!random_name(prefix, &candidate))
            return UniqueFd();
        UniqueFd fd(openat(parent_fd, candidate.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd && errno == EEXIST)
            continue;
        if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            fd.reset();
        if (fd)
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

void remove_leftovers_once(int dir_fd, std::span<const LeftoverKind> kinds) {
    static std::set<std::pair<dev_t, ino_t>> done;
    struct stat st;
    if (fstat(dir_fd, &st) != 0 || !done.insert({st.st_dev, st.st_ino}).second)
        return;
    for (const std::string &name : directory_entries(dir_fd)) {
        if (const LeftoverKind *kind = kind_of(name.c_str(), kinds))
            remove_if_stale(dir_fd, name.c_str(), *kind);
    }
}
