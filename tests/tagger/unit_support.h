// Shared by the tagger's unit tests: fresh settings for every test,
// temporary files, and the system log and standard output captured in
// memory.
#ifndef VELMO_TESTS_TAGGER_UNIT_SUPPORT_H
#define VELMO_TESTS_TAGGER_UNIT_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

// Resets the settings record before each test and captures syslog lines.
class TaggerUnitTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Lines sent to the system log since the test began.
  public:
    static std::vector<std::string> &logged_lines();
};

// A temporary file under /tmp holding `bytes`, removed with the object; a
// failure to write it fails the current test (not fatally).
class TempFile {
  public:
    explicit TempFile(const std::string &bytes = "");
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// Runs `body` with standard output captured and returns what it printed.
template <typename F> std::string capture_stdout(F body) {
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

#endif
