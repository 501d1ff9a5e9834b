// What a file that someone else may write holds, read into memory once and
// never past what it may hold. The archivers write the listing and the
// extracted description as the archive's owner, who can keep them open and
// let them grow, to terabytes of holes, while the tagger reads: so the
// tagger looks at the size first, reads once, and parses only the copy.
#ifndef VELMO_TAGGER_FILE_SNAPSHOT_H
#define VELMO_TAGGER_FILE_SNAPSHOT_H

#include "file_ptr.h"

#include <string>

class FileSnapshot {
  public:
    // Reads the file `fd` from its start. Returns false with errno EFBIG
    // when it holds more than `limit` bytes (by fstat, before anything is
    // read, or once read), or the errno of a failed read.
    bool take(int fd, long long limit);

    const std::string &bytes() const { return bytes_; }

    // A stream that reads the snapshot; empty (errno set) on failure.
    velmo::FilePtr stream() const;

  private:
    std::string bytes_;
};

#endif
