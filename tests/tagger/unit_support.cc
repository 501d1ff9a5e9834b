#include "unit_support.h"

#include "report.h"
#include "settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
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
    write_bytes(path_, bytes);
}

TempFile::~TempFile() {
    unlink(path_.c_str());
}

std::string read_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void write_bytes(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
