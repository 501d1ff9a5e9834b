#include "archive_alias.h"

#include "archiver_commands.h"
#include "fixed_paths.h"
#include "private_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kAliasName[] = "archive.zip";

} // namespace

UnzipAlias::UnzipAlias(const std::string &archive) : name_(archive) {
    if (!unzip_would_expand(name_))
        return;
    name_.clear();
    tmp_fd_.reset(open(TMP_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tmp_fd_)
        dir_fd_ = make_private_directory(tmp_fd_.get(), "velmotag_", &dir_name_);
    // Searchable, not readable, by a child that runs as another user.
    if (dir_fd_ && fchmod(dir_fd_.get(), 0711) == 0 &&
        symlinkat(archive.c_str(), dir_fd_.get(), kAliasName) == 0)
        name_ = std::string(TMP_DIR) + "/" + dir_name_ + "/" + kAliasName;
}

UnzipAlias::~UnzipAlias() {
    if (dir_fd_)
        remove_private_directory(tmp_fd_.get(), dir_name_, dir_fd_.get());
}
