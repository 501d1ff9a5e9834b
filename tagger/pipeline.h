// One archive's way through the tagger: list, scan, extract, tag and store,
// then comment and info file.
#pragma once

#include <string>

// Runs every step for `archive` (an absolute path, or the argument as given
// when it could not be resolved), stopping at the first that fails or finds
// the site's mark. Counts the archive in `files_tagged` when it reaches the
// end, and prints "done" then unless in siteop mode.
void process_zipfile(const char *archive);

// Creates a new empty file, mode 0600, from `name_template` (ending in
// XXXXXX) inside the tagger's temporary directory, and returns its path, or
// an empty string (errno set) when it cannot be made.
std::string make_temp_file(const char *name_template);
