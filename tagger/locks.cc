// Implementation details: a blocking flock is woken every 50 ms by a
// SIGALRM interval timer (its handler does nothing, and is installed
// without SA_RESTART), so that the waiter can look at the clock and at stop
// requests, yet takes the lock the moment its holder lets it go.
#include "locks.h"

#include "fixed_paths.h"
#include "stop_signals.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr suseconds_t kWakeMicroseconds = 50000;

LockOutcome lock_until(int fd, Clock::time_point deadline) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return LockOutcome::Held;
    if (errno != EWOULDBLOCK)
        return LockOutcome::Failed;
    const itimerval wake{{0, kWakeMicroseconds}, {0, kWakeMicroseconds}};
    const itimerval off{};
    setitimer(ITIMER_REAL, &wake, nullptr);
    LockOutcome outcome;
    int error = 0;
    for (;;) {
        if (flock(fd, LOCK_EX) == 0) {
            outcome = LockOutcome::Held;
            break;
        }
        if (errno != EINTR) {
            error = errno;
            outcome = LockOutcome::Failed;
            break;
        }
        if (stop_requested()) {
            outcome = LockOutcome::Stopped;
            break;
        }
        if (Clock::now() >= deadline) {
            outcome = LockOutcome::Busy;
            break;
        }
    }
    setitimer(ITIMER_REAL, &off, nullptr);
    errno = error;
    return outcome;
}

Clock::time_point wait_deadline() {
    return Clock::now() + std::chrono::seconds(LOCK_WAIT_SECONDS);
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string archive_lock_name(const std::string &archive_name) {
    // FNV-1a: stable across runs and builds, and enough to tell the names
    // of one directory apart.
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : archive_name) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(".velmotag_lock_") + hex;
}

// Takes an exclusive flock on `fd`, waiting at most LOCK_WAIT_SECONDS.
LockOutcome lock_exclusive(int fd) {
    return lock_until(fd, wait_deadline());
}

} // namespace

LockOutcome ArchiveLock::acquire(int dir_fd, const std::string &archive_name) {
    release();
    const std::string lock_name = archive_lock_name(archive_name);
    const Clock::time_point deadline = wait_deadline();
    for (;;) {
        UniqueFd fd(openat(dir_fd, lock_name.c_str(),
                           O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!fd)
            return LockOutcome::Failed;
        struct stat locked;
        if (fstat(fd.get(), &locked) != 0)
            return LockOutcome::Failed;
        // Only a file of the tagger's own user can be its lock; anything
        // else at that name was put there by someone else.
        if (!S_ISREG(locked.st_mode) || locked.st_uid != geteuid()) {
            errno = EPERM;
            return LockOutcome::Failed;
        }
        const LockOutcome outcome = lock_until(fd.get(), deadline);
        if (outcome != LockOutcome::Held)
            return outcome;
        struct stat at_name;
        if (fstatat(dir_fd, lock_name.c_str(), &at_name, AT_SYMLINK_NOFOLLOW) == 0 &&
            same_file(at_name, locked)) {
            dir_fd_ = dir_fd;
            lock_name_ = lock_name;
            fd_ = std::move(fd);
            return LockOutcome::Held;
        }
        if (Clock::now() >= deadline)
            return LockOutcome::Busy;
    }
}

void ArchiveLock::release() {
    if (!fd_)
        return;
    unlinkat(dir_fd_, lock_name_.c_str(), 0);
    fd_.reset();
    dir_fd_ = -1;
}

LockOutcome DirectoryLock::acquire(int dir_fd) {
    release();
    const LockOutcome outcome = lock_exclusive(dir_fd);
    if (outcome == LockOutcome::Held)
        dir_fd_ = dir_fd;
    return outcome;
}

void DirectoryLock::release() {
    if (dir_fd_ < 0)
        return;
    flock(dir_fd_, LOCK_UN);
    dir_fd_ = -1;
}
