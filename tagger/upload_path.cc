#include "upload_path.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxLinks = 40; // as the system's own path resolution allows

std::deque<std::string> components(const std::string &path) {
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

// The working directory's absolute path, however long.
bool working_directory(std::string *path) {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1U << 20))
            return false;
        buffer.resize(buffer.size() * 2);
    }
    *path = buffer.data();
    return true;
}

// The target of the link `name` in `dir_fd`, however long.
bool link_target(int dir_fd, const std::string &name, off_t size, std::string *target) {
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 255) + 1);
    for (;;) {
        const ssize_t n = readlinkat(dir_fd, name.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            target->assign(buffer.data(), static_cast<std::size_t>(n));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

constexpr int kSearchFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

bool resolve_archive_path(const char *arg, ResolvedPath *out) {
    const std::string start = arg;
    if (start.empty()) {
        errno = ENOENT;
        return false;
    }
    // Every component is looked up in the directory it stands in, by its
    // descriptor: no path is ever handed whole to the system, so there is
    // no limit on its length, and what was walked is what is named.
    std::string resolved; // empty stands for "/"
    UniqueFd dir;
    if (start[0] == '/') {
        dir.reset(open("/", kSearchFlags));
    } else {
        if (!working_directory(&resolved))
            return false;
        if (resolved == "/")
            resolved.clear();
        dir.reset(open(".", kSearchFlags & ~O_NOFOLLOW));
    }
    if (!dir)
        return false;
    std::deque<std::string> todo = components(start);
    std::vector<uid_t> owners;
    int links = 0;
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            // The directory above the one walked into, as realpath goes up.
            UniqueFd up(openat(dir.get(), "..", kSearchFlags));
            if (!up)
                return false;
            dir = std::move(up);
            resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        struct stat st;
        if (fstatat(dir.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(st.st_mode)) {
            std::string target;
            if (++links > kMaxLinks) {
                errno = ELOOP;
                return false;
            }
            if (!link_target(dir.get(), part, st.st_size, &target))
                return false;
            owners.push_back(st.st_uid);
            std::deque<std::string> inner = components(target);
            todo.insert(todo.begin(), inner.begin(), inner.end());
            if (!target.empty() && target[0] == '/') {
                resolved.clear();
                dir.reset(open("/", kSearchFlags));
                if (!dir)
                    return false;
            }
            continue;
        }
        if (!todo.empty()) {
            // Opened without following a link: swapped for one since the
            // look, it is not resolved at all.
            UniqueFd next(openat(dir.get(), part.c_str(), kSearchFlags));
            if (!next)
                return false;
            dir = std::move(next);
        }
        resolved += "/" + part;
    }
    out->path = resolved.empty() ? "/" : resolved;
    out->link_owners = std::move(owners);
    // The archivers are given the path itself, which they could not use.
    if (out->path.size() >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

UniqueFd open_directory_walk(const std::string &dir_path, std::vector<PathStep> *steps) {
    steps->clear();
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    if (dir_path.empty() || dir_path[0] != '/')
        return UniqueFd(open(dir_path.c_str(), kFlags));
    UniqueFd fd(open("/", kFlags));
    std::string path;
    const std::deque<std::string> parts = components(dir_path);
    for (std::size_t i = 0;; ++i) {
        struct stat st;
        if (!fd || fstat(fd.get(), &st) != 0)
            return UniqueFd();
        steps->push_back({path.empty() ? "/" : path, st.st_uid, st.st_gid, st.st_mode});
        if (i == parts.size())
            return fd;
        path += "/" + parts[i];
        UniqueFd next(openat(fd.get(), parts[i].c_str(), kFlags));
#ifdef O_PATH
        // A directory on the way that may only be searched, not read.
        if (!next && errno == EACCES && i + 1 < parts.size())
            next.reset(
                openat(fd.get(), parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
#endif
        fd = std::move(next);
    }
}

const PathStep *changeable_by_others(const std::vector<PathStep> &steps, uid_t owner) {
    for (const PathStep &step : steps) {
        if (step.uid != 0 && step.uid != owner)
            return &step;
        if ((step.mode & (S_IWGRP | S_IWOTH)) != 0 && (step.mode & S_ISVTX) == 0)
            return &step;
    }
    return nullptr;
}

bool mode_allows(mode_t mode, uid_t owner, gid_t group, uid_t uid, const std::vector<gid_t> &groups,
                 mode_t wanted) {
    if (uid == owner)
        return (mode & wanted) == wanted;
    if (std::find(groups.begin(), groups.end(), group) != groups.end())
        return (mode & (wanted >> 3)) == (wanted >> 3);
    return (mode & (wanted >> 6)) == (wanted >> 6);
}

const PathStep *not_searchable_by(const std::vector<PathStep> &steps, uid_t uid,
                                  const std::vector<gid_t> &groups) {
    for (const PathStep &step : steps) {
        if (!mode_allows(step.mode, step.uid, step.gid, uid, groups, S_IXUSR))
            return &step;
    }
    return nullptr;
}

bool user_could_remove(int dir_fd, const struct stat &entry, uid_t user) {
    struct stat dir;
    if (fstat(dir_fd, &dir) != 0)
        return false;
    return (dir.st_mode & S_ISVTX) == 0 || entry.st_uid == user || dir.st_uid == user;
}
