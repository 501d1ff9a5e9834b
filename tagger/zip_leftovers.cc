#include "zip_leftovers.h"

#include "unique_fd.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool looks_like_zip_temp(const char *name) {
    if (std::strncmp(name, "zi", 2) != 0 || std::strlen(name) != 8)
        return false;
    for (const char *p = name + 2; *p; ++p) {
        const bool alnum =
            (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9');
        if (!alnum)
            return false;
    }
    return true;
}

bool not_before(const statx_timestamp &t, const timespec &limit) {
    return t.tv_sec > limit.tv_sec ||
           (t.tv_sec == limit.tv_sec && static_cast<long>(t.tv_nsec) >= limit.tv_nsec);
}

bool not_after(const statx_timestamp &t, const timespec &limit) {
    return t.tv_sec < limit.tv_sec ||
           (t.tv_sec == limit.tv_sec && static_cast<long>(t.tv_nsec) <= limit.tv_nsec);
}

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

} // namespace

bool remove_zip_leftover(int dir_fd, const ZipStepWindow &window) {
    UniqueFd copy(openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!copy)
        return false;
    std::unique_ptr<DIR, DirCloser> dir(fdopendir(copy.get()));
    if (!dir)
        return false;
    copy.release();
    std::string found;
    int candidates = 0;
    while (const dirent *entry = readdir(dir.get())) {
        if (!looks_like_zip_temp(entry->d_name))
            continue;
        struct statx st;
        if (statx(dir_fd, entry->d_name, AT_SYMLINK_NOFOLLOW,
                  STATX_TYPE | STATX_UID | STATX_NLINK | STATX_SIZE | STATX_BTIME, &st) != 0 ||
            (st.stx_mask & STATX_BTIME) == 0 || !S_ISREG(st.stx_mode) || st.stx_nlink != 1 ||
            st.stx_uid != window.uid || static_cast<off_t>(st.stx_size) > window.max_size ||
            !not_before(st.stx_btime, window.from) || !not_after(st.stx_btime, window.until))
            continue;
        found = entry->d_name;
        ++candidates;
    }
    return candidates == 1 && unlinkat(dir_fd, found.c_str(), 0) == 0;
}

timespec file_clock_now() {
    // Files are stamped from the coarse clock, which may stand a tick
    // behind the precise one: a window opened with the coarse clock is
    // never later than the stamp of a file made after it.
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

timespec time_plus(timespec t, long seconds) {
    t.tv_sec += seconds;
    return t;
}
