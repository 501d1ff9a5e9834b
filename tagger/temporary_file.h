// The tagger's temporary files in TMP_DIR: the listing and the extracted
// description of the archive at hand. Each is made by the tagger itself
// (mkostemp, mode 0600), so nothing else can have put a file or a link at
// its name first; it is read back through the descriptor it was made with,
// never by its name again, and removed with the object, whatever the
// archive's outcome. It is locked while in use, so that a later run can
// tell a file that a killed run left behind (see leftovers.h).
#ifndef VELMO_TAGGER_TEMPORARY_FILE_H
#define VELMO_TAGGER_TEMPORARY_FILE_H

#include "child_process.h"
#include "file_ptr.h"
#include "unique_fd.h"

#include <string>

// A stream reading the file open at `fd` from its start, through a
// descriptor of its own that closes with the stream; empty (errno set) on
// failure, EBADF for a negative `fd`.
velmo::FilePtr read_from_start(int fd);

class TemporaryFile {
  public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    // Makes an empty file from TMP_DIR/`name_template` (which ends in
    // XXXXXX). Returns false (errno set) when it cannot be made.
    bool create(const char *name_template);

    const std::string &path() const { return path_; }
    int fd() const { return fd_.get(); }

    // Hands the file to the user a child runs as, so that the child can
    // write it by name. Returns false (errno set) on failure.
    bool give_to(const ChildCredentials &credentials);

  private:
    std::string path_;
    UniqueFd fd_;
};

#endif
