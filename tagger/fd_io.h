// Whole reads and writes at an offset: pread and pwrite may do part of the
// work, or be interrupted by the signals the tagger waits with.
#ifndef VELMO_TAGGER_FD_IO_H
#define VELMO_TAGGER_FD_IO_H

#include <cerrno>
#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

// Reads `size` bytes of `fd` at `at` into `data`. Returns false on a failed
// read (errno set) or when the file ends first.
inline bool read_fully(int fd, void *data, std::size_t size, off_t at) {
    auto *to = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = pread(fd, to, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return true;
}

// Writes `size` bytes from `data` to `fd` at `at`. Returns false (errno
// set) on failure.
inline bool write_fully(int fd, const void *data, std::size_t size, off_t at) {
    const auto *from = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd, from, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        from += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
    return true;
}

#endif
