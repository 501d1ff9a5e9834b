#include "support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace velmo::test {
namespace {

std::string read_stream(std::ifstream &in) {
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return read_stream(in);
}

std::string read_existing_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return read_stream(in);
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
}

bool path_exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

mode_t file_mode(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

std::vector<std::string> dir_entries(const std::string &dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const std::filesystem::directory_entry &entry :
         std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> dir_entries(const std::string &dir, const std::string &prefix) {
    std::vector<std::string> names = dir_entries(dir);
    std::erase_if(names, [&](const std::string &name) { return name.rfind(prefix, 0) != 0; });
    return names;
}

} // namespace velmo::test
