#include "support/temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace velmo::test {

TempDir::TempDir(const std::string &prefix, const std::string &parent) {
    std::filesystem::create_directories(parent);
    std::string templ = parent + "/" + prefix + "XXXXXX";
    if (mkdtemp(templ.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + templ);
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

} // namespace velmo::test
