// Names under which an archive is handed to the Info-ZIP programs when its
// own name would make them touch another file.
//
// unzip expands * ? [ ] in its archive argument, so an upload named "*.zip"
// would make it read every archive beside it; zip adds ".zip" to a name
// without an extension, so an upload named "readme" would make it write
// "readme.zip". Such archives get an alias with a plain name, archive.zip,
// in a private directory made with mkdtemp; names without those traits are
// used as they are.
#pragma once

#include <string>

// The name unzip reads the archive by: the archive's own path, or a symbolic
// link to it in a private directory under TMP_DIR. The link and directory go
// away with the object.
class UnzipAlias {
  public:
    explicit UnzipAlias(const char *archive);
    ~UnzipAlias();
    UnzipAlias(const UnzipAlias &) = delete;
    UnzipAlias &operator=(const UnzipAlias &) = delete;

    // Empty when the alias could not be made.
    const std::string &name() const { return name_; }

  private:
    std::string name_;
    std::string dir_;
};

// The name zip rewrites the archive under: the archive's own path, or a hard
// link to it in a private directory beside it (on the same file system).
// zip replaces the link with the new archive, which put_back() then renames
// over the original; the directory, and the link if it is still there, go
// away with the object.
class ZipAlias {
  public:
    explicit ZipAlias(const char *archive);
    ~ZipAlias();
    ZipAlias(const ZipAlias &) = delete;
    ZipAlias &operator=(const ZipAlias &) = delete;

    // Empty when the alias could not be made.
    const std::string &name() const { return name_; }

    // Moves what zip wrote back to the archive's own path. Returns false
    // (errno set) when that fails.
    bool put_back();

  private:
    std::string archive_;
    std::string name_;
    std::string dir_;
};

// True when zip would add ".zip" to `path`: its last component has no dot.
bool zip_would_extend(const std::string &path);
