#include "unit_support.h"

#include "report.h"
#include "settings.h"
#include "support/files.h"

#include <cstdlib>
#include <unistd.h>

namespace {
void capture_log(int, const char *message) {
    TaggerUnitTest::logged_lines().push_back(message);
}
} // namespace

std::vector<std::string> &TaggerUnitTest::logged_lines() {
    static std::vector<std::string> lines;
    return lines;
}

void TaggerUnitTest::SetUp() {
    reset_settings();
    logged_lines().clear();
    set_syslog_sink(capture_log);
}

void TaggerUnitTest::TearDown() {
    set_syslog_sink(nullptr);
}

TempFile::TempFile(const std::string &bytes) {
    char name[] = "/tmp/velmotag_unit_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0)
        close(fd);
    path_ = name;
    velmo::test::write_file(path_, bytes);
}

TempFile::~TempFile() {
    unlink(path_.c_str());
}
