#include "state_dir.h"

#include "fixed_paths.h"
#include "report.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Why a directory of the tagger's state is not its own, or "" when it is.
std::string why_not_private(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return std::strerror(errno);
    if (st.st_uid != geteuid())
        return "it belongs to user " + std::to_string(st.st_uid) + ", not to user " +
               std::to_string(geteuid());
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "users other than its owner can write it";
    return "";
}

int open_state_dir() {
    static bool tried = false;
    static UniqueFd dir;
    if (tried)
        return dir.get();
    tried = true;
    dir.reset(open(STATE_DIR, kDirFlags));
    const std::string why = dir ? why_not_private(dir.get()) : std::strerror(errno);
    if (!why.empty()) {
        dir.reset();
        log_error("state directory '%s' not used: %s", STATE_DIR, why.c_str());
    }
    return dir.get();
}

} // namespace

int state_subdir(const char *name) {
    static std::map<std::string, UniqueFd> opened;
    if (const auto found = opened.find(name); found != opened.end())
        return found->second.get();
    UniqueFd &fd = opened[name];
    const int state = open_state_dir();
    if (state < 0)
        return -1;
    if (mkdirat(state, name, 0700) != 0 && errno != EEXIST)
        return -1;
    fd.reset(openat(state, name, kDirFlags | O_NOFOLLOW));
    if (fd && !why_not_private(fd.get()).empty())
        fd.reset();
    return fd.get();
}
