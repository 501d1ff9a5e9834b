// The tagger's temporary files in TMP_DIR: the listing and the extracted
// description of the archive at hand. Each is made by the tagger itself
// (mkostemp, mode 0600), so nothing else can have put a file or a link at
// its name first; it is read back once, through the descriptor it was made
// with and no further than it may hold (file_snapshot.h), never by its name
// again, and removed with the object, whatever the archive's outcome. It is
// locked while in use, so that a later run can tell a file that a killed
// run left behind (private_dirs.h).
#ifndef VELMO_TAGGER_TEMPORARY_FILE_H
#define VELMO_TAGGER_TEMPORARY_FILE_H

#include "child_process.h"
#include "file_snapshot.h"
#include "unique_fd.h"

#include <string>

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

    // Hands the file to the user a child runs as, so that the child's shell
    // can open it by name; take_back() ends that once the child has ended.
    // Returns false (errno set) on failure.
    bool give_to(const ChildCredentials &credentials);
    void take_back();

    // Reads what the file holds, once, at most `limit` bytes (see
    // FileSnapshot::take); what was read stays in snapshot().
    bool take_snapshot(long long limit) { return snapshot_.take(fd_.get(), limit); }
    const FileSnapshot &snapshot() const { return snapshot_; }

  private:
    std::string path_;
    UniqueFd fd_;
    FileSnapshot snapshot_;
};

#endif
