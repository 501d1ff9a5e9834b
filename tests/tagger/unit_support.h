// Shared by the tagger's unit tests: fresh settings for every test, files
// written and read back as bytes, and the system log captured in memory.
#pragma once

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

// A temporary file holding `bytes`, removed with the object.
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

std::string read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::string &bytes);

// Runs `body` with standard output captured and returns what it printed.
template <typename F> std::string capture_stdout(F body) {
    ::testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}
