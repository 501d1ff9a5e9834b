// Whole files and directory listings, as tests lay out their inputs and
// read back what a program left.
#ifndef VELMO_TESTS_SUPPORT_FILES_H
#define VELMO_TESTS_SUPPORT_FILES_H

#include <string>
#include <sys/types.h>
#include <vector>

namespace velmo::test {

// The file's bytes; "" when it cannot be opened, so that a missing file
// reads as empty without failing the test.
std::string read_file(const std::string &path);

// read_file for a file the test expects to be there: one that cannot be
// opened also fails the current test (not fatally).
std::string read_existing_file(const std::string &path);

// Replaces the file's bytes, creating it when missing; an error fails the
// current test (not fatally).
void write_file(const std::string &path, const std::string &bytes);

// Whether anything is at `path`, a dangling link included (links are not
// followed).
bool path_exists(const std::string &path);

// The permission bits (07777) of what is at `path`, links not followed;
// (mode_t)-1 when nothing is there.
mode_t file_mode(const std::string &path);

// The names in `dir`, sorted; none when it cannot be read.
std::vector<std::string> dir_entries(const std::string &dir);
// Those of them that begin with `prefix`.
std::vector<std::string> dir_entries(const std::string &dir, const std::string &prefix);

} // namespace velmo::test

#endif
