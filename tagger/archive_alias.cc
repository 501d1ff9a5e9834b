#include "archive_alias.h"

#include "command_line.h"
#include "fixed_paths.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kAliasName[] = "/archive.zip";

// Makes a private directory from `prefix` + "XXXXXX"; empty on failure.
std::string make_private_dir(const std::string &prefix) {
    std::vector<char> dir_template(prefix.begin(), prefix.end());
    for (char c : std::string("XXXXXX"))
        dir_template.push_back(c);
    dir_template.push_back('\0');
    if (!mkdtemp(dir_template.data()))
        return {};
    return dir_template.data();
}

void remove_alias(const std::string &name, const std::string &dir) {
    if (!name.empty())
        unlink(name.c_str());
    if (!dir.empty())
        rmdir(dir.c_str());
}

} // namespace

bool zip_would_extend(const std::string &path) {
    std::size_t slash = path.rfind('/');
    std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    return path.find('.', base) == std::string::npos;
}

UnzipAlias::UnzipAlias(const char *archive) : name_(archive) {
    if (!unzip_would_expand(name_))
        return;
    name_.clear();
    dir_ = make_private_dir(std::string(TMP_DIR) + "/velmotag_");
    if (dir_.empty())
        return;
    std::string link = dir_ + kAliasName;
    if (symlink(archive, link.c_str()) == 0)
        name_ = link;
}

UnzipAlias::~UnzipAlias() {
    if (!dir_.empty())
        remove_alias(name_, dir_);
}

ZipAlias::ZipAlias(const char *archive) : archive_(archive), name_(archive) {
    if (!zip_would_extend(archive_))
        return;
    name_.clear();
    std::size_t slash = archive_.rfind('/');
    std::string parent = slash == std::string::npos ? "." : archive_.substr(0, slash);
    dir_ = make_private_dir(parent + "/.velmotag_");
    if (dir_.empty())
        return;
    std::string link = dir_ + kAliasName;
    if (::link(archive, link.c_str()) == 0)
        name_ = link;
}

bool ZipAlias::put_back() {
    if (dir_.empty())
        return true;
    return std::rename(name_.c_str(), archive_.c_str()) == 0;
}

ZipAlias::~ZipAlias() {
    if (!dir_.empty())
        remove_alias(name_, dir_);
}
