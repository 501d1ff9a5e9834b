#include "upload_path.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string working_directory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

} // namespace

bool resolve_archive_path(const char *arg, ResolvedPath *out) {
    std::string start = arg;
    if (start.empty()) {
        errno = ENOENT;
        return false;
    }
    if (start[0] != '/') {
        const std::string cwd = working_directory();
        if (cwd.empty())
            return false;
        start = cwd + "/" + start;
    }
    std::deque<std::string> todo = components(start);
    std::string resolved; // empty stands for "/"
    std::vector<uid_t> owners;
    int links = 0;
    while (!todo.empty()) {
        const std::string part = todo.front();
        todo.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            resolved.erase(resolved.empty() ? 0 : resolved.rfind('/'));
            continue;
        }
        const std::string candidate = resolved + "/" + part;
        struct stat st;
        if (lstat(candidate.c_str(), &st) != 0)
            return false;
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks) {
                errno = ELOOP;
                return false;
            }
            char target[PATH_MAX];
            const ssize_t n = readlink(candidate.c_str(), target, sizeof target - 1);
            if (n < 0)
                return false;
            owners.push_back(st.st_uid);
            const std::string link_target(target, static_cast<std::size_t>(n));
            std::deque<std::string> inner = components(link_target);
            todo.insert(todo.begin(), inner.begin(), inner.end());
            if (!link_target.empty() && link_target[0] == '/')
                resolved.clear();
            continue;
        }
        if (!todo.empty() && !S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        resolved = candidate;
    }
    out->path = resolved.empty() ? "/" : resolved;
    out->link_owners = std::move(owners);
    return true;
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

bool mode_allows(mode_t mode, uid_t owner, gid_t group, uid_t uid, gid_t gid, mode_t wanted) {
    if (uid == owner)
        return (mode & wanted) == wanted;
    if (gid == group)
        return (mode & (wanted >> 3)) == (wanted >> 3);
    return (mode & (wanted >> 6)) == (wanted >> 6);
}

const PathStep *not_searchable_by(const std::vector<PathStep> &steps, uid_t uid, gid_t gid) {
    for (const PathStep &step : steps) {
        if (!mode_allows(step.mode, step.uid, step.gid, uid, gid, S_IXUSR))
            return &step;
    }
    return nullptr;
}
