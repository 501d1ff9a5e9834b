#include "zip_leftovers.h"

#include "fixed_paths.h"
#include "private_dirs.h"

#include <cstring>
#include <fcntl.h>
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

} // namespace

bool remove_zip_leftover(int dir_fd, const ZipStepWindow &window) {
    std::string found;
    int candidates = 0;
    for (const std::string &name : directory_entries(dir_fd)) {
        if (!looks_like_zip_temp(name.c_str()))
            continue;
        struct statx st;
        if (statx(dir_fd, name.c_str(), AT_SYMLINK_NOFOLLOW,
                  STATX_TYPE | STATX_UID | STATX_NLINK | STATX_SIZE | STATX_BTIME, &st) != 0 ||
            (st.stx_mask & STATX_BTIME) == 0 || !S_ISREG(st.stx_mode) || st.stx_nlink != 1 ||
            st.stx_uid != window.uid || static_cast<off_t>(st.stx_size) > window.max_size ||
            compare_time(st.stx_btime, window.from) < 0 ||
            compare_time(st.stx_btime, window.until) > 0)
            continue;
        found = name;
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

timespec realtime_now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

int compare_time(const statx_timestamp &t, const timespec &limit) {
    if (t.tv_sec != limit.tv_sec)
        return t.tv_sec < limit.tv_sec ? -1 : 1;
    const long nsec = static_cast<long>(t.tv_nsec);
    return nsec < limit.tv_nsec ? -1 : nsec > limit.tv_nsec ? 1 : 0;
}

off_t zip_leftover_max(off_t original_size) {
    constexpr off_t kSiteFilesAndSlack = 1024 * 1024;
    return original_size + 2 * static_cast<off_t>(DIZ_MAX) + kSiteFilesAndSlack;
}

timespec time_plus(timespec t, long seconds) {
    t.tv_sec += seconds;
    return t;
}
