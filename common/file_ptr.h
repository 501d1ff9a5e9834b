// Ownership of a stdio stream: the stream is closed when its FilePtr goes.
// A stream whose close must be checked, one that was written, is closed with
// close_checked instead, so that a failed last write is seen.
#ifndef VELMO_COMMON_FILE_PTR_H
#define VELMO_COMMON_FILE_PTR_H

#include <cstdio>
#include <memory>

namespace velmo {

struct FileCloser {
    void operator()(std::FILE *stream) const { std::fclose(stream); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens path with fopen's mode; an empty FilePtr (errno set) on failure.
inline FilePtr open_file(const char *path, const char *mode) {
    return FilePtr(std::fopen(path, mode));
}

// Closes the stream and reports whether everything written reached the
// file. The FilePtr is empty afterwards; an empty one gives false.
inline bool close_checked(FilePtr &file) {
    return file && std::fclose(file.release()) == 0;
}

} // namespace velmo

#endif
