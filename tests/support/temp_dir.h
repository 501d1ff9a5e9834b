// A directory of a test's own, removed with everything under it.
#ifndef VELMO_TESTS_SUPPORT_TEMP_DIR_H
#define VELMO_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

namespace velmo::test {

class TempDir {
  public:
    // Makes a fresh directory PARENT/PREFIX followed by six random
    // characters, creating PARENT first when it is missing. Throws
    // std::system_error (or std::filesystem::filesystem_error) when it
    // cannot, which fails the test that makes it, fatally.
    explicit TempDir(const std::string &prefix = "velmo-test-", const std::string &parent = "/tmp");
    // Removes the whole tree; what cannot be removed is left without a
    // failure, since a test may have taken the rights to it away.
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // `name` inside the directory.
    std::string path(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace velmo::test

#endif
