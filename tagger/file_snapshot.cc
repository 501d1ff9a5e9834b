#include "file_snapshot.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

bool FileSnapshot::take(int fd, long long limit) {
    bytes_.clear();
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    if (st.st_size > limit) {
        errno = EFBIG;
        return false;
    }
    // One byte more than the limit tells a file that grew past it.
    bytes_.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    while (got < bytes_.size()) {
        const ssize_t n =
            pread(fd, bytes_.data() + got, bytes_.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes_.resize(got);
    if (static_cast<long long>(got) > limit) {
        bytes_.clear();
        errno = EFBIG;
        return false;
    }
    return true;
}

velmo::FilePtr FileSnapshot::stream() const {
    // fmemopen refuses an empty buffer on some systems.
    if (bytes_.empty())
        return velmo::open_file("/dev/null", "rb");
    return velmo::FilePtr(fmemopen(const_cast<char *>(bytes_.data()), bytes_.size(), "rb"));
}
