// The names under which an archive is handed to the Info-ZIP programs when
// its own name would make them touch another file.
//
// unzip expands * ? [ ] and takes \ for an escape in its archive argument,
// so an upload named "*.zip" would make it read every archive beside it:
// such an archive is handed to unzip as a link with a plain name,
// archive.zip, in a private directory in TMP_DIR. zip adds ".zip" to a
// name without an extension, so an upload named "readme" would make it
// write "readme.zip": such an archive is tagged in a working copy (see
// archive_change.h). Both checks are in archiver_commands.h.
#ifndef VELMO_TAGGER_ARCHIVE_ALIAS_H
#define VELMO_TAGGER_ARCHIVE_ALIAS_H

#include "unique_fd.h"

#include <string>

// The name unzip reads the archive by: the archive's own path, or a
// symbolic link to it in a private directory under TMP_DIR. The link and
// directory go away with the object.
class UnzipAlias {
  public:
    explicit UnzipAlias(const std::string &archive);
    ~UnzipAlias();
    UnzipAlias(const UnzipAlias &) = delete;
    UnzipAlias &operator=(const UnzipAlias &) = delete;

    // Empty when the alias could not be made.
    const std::string &name() const { return name_; }

  private:
    std::string name_;
    UniqueFd tmp_fd_;
    std::string dir_name_;
    UniqueFd dir_fd_;
};

#endif
