// Implementation details: a blocking flock is woken every 50 ms by a
// SIGALRM interval timer (its handler does nothing, and is installed
// without SA_RESTART), so that the waiter can look at the clock and at stop
// requests, yet takes the lock the moment its holder lets it go.
#include "locks.h"

#include "fd_io.h"
#include "fixed_paths.h"
#include "fnv1a.h"
#include "private_dirs.h"
#include "state_dir.h"
#include "stop_signals.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

constexpr suseconds_t kWakeMicroseconds = 50000;

// How a lock file points at a journal: this, and the journal's name.
constexpr char kPointer[] = "velmotag journal ";

LockOutcome lock_until(int fd, Clock::time_point deadline) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return LockOutcome::Held;
    if (errno != EWOULDBLOCK)
        return LockOutcome::Failed;
    if (Clock::now() >= deadline)
        return LockOutcome::Busy;
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

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The state directory's name for the lock of the directory `dir_fd`, or of
// an archive in it when `archive_name` is given.
std::string state_lock_name(int dir_fd, const std::string *archive_name) {
    struct stat st;
    if (fstat(dir_fd, &st) != 0)
        return "";
    char key[64];
    std::snprintf(key, sizeof key, "%c-%llx-%llx", archive_name ? 'a' : 'd',
                  static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return archive_name ? std::string(key) + "-" + fnv1a64_hex(*archive_name) : key;
}

// Directories whose lock someone held for a whole wait in this run: their
// archives are given up as busy at once from then on, so that a held lock
// costs a run one wait, not one per archive.
std::set<std::pair<dev_t, ino_t>> busy_directories;

std::pair<dev_t, ino_t> directory_key(int dir_fd) {
    struct stat st {};
    fstat(dir_fd, &st);
    return {st.st_dev, st.st_ino};
}

int wait_for(int dir_fd) {
    return busy_directories.count(directory_key(dir_fd)) == 0 ? LOCK_WAIT_SECONDS : 0;
}

LockOutcome noting_busy(LockOutcome outcome, int dir_fd) {
    if (outcome == LockOutcome::Busy)
        busy_directories.insert(directory_key(dir_fd));
    return outcome;
}

// The directory locks this run took in the state directory: kept from one
// change to the next, and removed at the end of the run.
std::set<std::string> directory_lock_files;

// The journal a lock file points at, read through its descriptor; empty
// when it points at none.
std::string pointed_journal(int lock_fd) {
    char buffer[128];
    const ssize_t n = pread(lock_fd, buffer, sizeof buffer - 1, 0);
    if (n <= 0)
        return "";
    const std::string_view text(buffer, static_cast<std::size_t>(n));
    const std::size_t prefix = sizeof kPointer - 1;
    const std::size_t end = text.find('\n');
    if (text.substr(0, prefix) != kPointer || end == std::string_view::npos ||
        text.substr(prefix, 4) != "run-" || text.find('/') != std::string_view::npos)
        return "";
    return std::string(text.substr(prefix, end - prefix));
}

} // namespace

LockOutcome LockFile::acquire(int dir_fd, const std::string &name, int wait_seconds) {
    release();
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_seconds);
    int foreign = 0;
    for (;;) {
        UniqueFd fd(openat(dir_fd, name.c_str(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        struct stat planted;
        // A link (which a protected sticky directory may refuse with
        // EACCES) or an empty directory planted at the tagger's own name
        // goes.
        if (!fd && (errno == ELOOP || errno == EISDIR || errno == EACCES) && ++foreign < 3 &&
            fstatat(dir_fd, name.c_str(), &planted, AT_SYMLINK_NOFOLLOW) == 0 &&
            (S_ISLNK(planted.st_mode) || S_ISDIR(planted.st_mode)) &&
            unlinkat(dir_fd, name.c_str(), S_ISDIR(planted.st_mode) ? AT_REMOVEDIR : 0) == 0)
            continue;
        if (!fd)
            return LockOutcome::Failed;
        struct stat locked;
        if (fstat(fd.get(), &locked) != 0)
            return LockOutcome::Failed;
        // Only a file of the tagger's own user can be its lock; anything
        // else at that name was put there by someone else (beside an
        // archive, without a state directory), who must not hold the
        // archive up by holding it: it goes, where the tagger may remove it.
        if (!S_ISREG(locked.st_mode) || locked.st_uid != geteuid()) {
            fd.reset();
            if (++foreign < 3 && unlinkat(dir_fd, name.c_str(), 0) == 0)
                continue;
            errno = EPERM;
            return LockOutcome::Failed;
        }
        const LockOutcome outcome = lock_until(fd.get(), deadline);
        if (outcome != LockOutcome::Held)
            return outcome;
        struct stat at_name;
        if (fstatat(dir_fd, name.c_str(), &at_name, AT_SYMLINK_NOFOLLOW) == 0 &&
            same_file(at_name, locked)) {
            dir_fd_ = dir_fd;
            name_ = name;
            fd_ = std::move(fd);
            return LockOutcome::Held;
        }
        if (Clock::now() >= deadline)
            return LockOutcome::Busy;
    }
}

void remove_unheld_lock(int dir_fd, const std::string &name) {
    LockFile file;
    if (file.acquire(dir_fd, name, 0) == LockOutcome::Held)
        file.release();
}

void LockFile::release(bool keep) {
    if (!fd_)
        return;
    if (!keep)
        unlinkat(dir_fd_, name_.c_str(), 0);
    fd_.reset();
    dir_fd_ = -1;
}

bool is_lock_of(const std::string &lock_name, int dir_fd, const std::string &archive_name) {
    return lock_name == state_lock_name(dir_fd, &archive_name);
}

LockOutcome ArchiveLock::acquire(int dir_fd, const std::string &archive_name, bool wait) {
    release();
    const int locks = state_subdir(kLocksDir);
    beside_archive_ = locks < 0;
    const std::string name = locks >= 0 ? state_lock_name(dir_fd, &archive_name)
                                        : kLockFilePrefix + fnv1a64_hex(archive_name);
    const LockOutcome outcome =
        file_.acquire(locks >= 0 ? locks : dir_fd, name, wait ? LOCK_WAIT_SECONDS : 0);
    if (outcome != LockOutcome::Held)
        return outcome;
    struct stat st;
    found_empty_ = fstat(file_.fd(), &st) == 0 && st.st_size == 0;
    if (!beside_archive_)
        left_journal_ = pointed_journal(file_.fd());
    return outcome;
}

void ArchiveLock::release() {
    file_.release(keep_);
    change_over();
}

void ArchiveLock::point_at(const std::string &journal) {
    const std::string text = kPointer + journal + "\n";
    if (write_fully(file_.fd(), text.data(), text.size(), 0))
        ftruncate(file_.fd(), static_cast<off_t>(text.size()));
}

void ArchiveLock::change_over() {
    left_journal_.clear();
    found_empty_ = true;
    keep_ = false;
}

LockOutcome DirectoryLock::acquire(int dir_fd) {
    release();
    const int locks = state_subdir(kLocksDir);
    if (locks >= 0)
        return noting_busy(file_.acquire(locks, state_lock_name(dir_fd, nullptr), wait_for(dir_fd)),
                           dir_fd);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(wait_for(dir_fd));
    const LockOutcome outcome = noting_busy(lock_until(dir_fd, deadline), dir_fd);
    if (outcome == LockOutcome::Held)
        flocked_dir_ = dir_fd;
    return outcome;
}

void remove_directory_locks() {
    const int locks = state_subdir(kLocksDir);
    if (locks >= 0) {
        for (const std::string &name : directory_lock_files)
            remove_unheld_lock(locks, name);
    }
    directory_lock_files.clear();
}

void DirectoryLock::release() {
    if (file_.held())
        directory_lock_files.insert(file_.name());
    file_.release(true);
    if (flocked_dir_ >= 0)
        flock(flocked_dir_, LOCK_UN);
    flocked_dir_ = -1;
}
