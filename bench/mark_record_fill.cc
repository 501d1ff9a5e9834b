// mark_record_fill: writes the bench site's mark record afresh, holding an
// entry for each file named on standard input (one path a line), as a
// siteop run that found each carrying the mark would have left it. For
// measuring a run against a record of a million archives without a
// million listings first.
//
//   mark_record_fill < PATHS
//
// The files must have been last changed more than two seconds before, or
// their entries are not trusted alone.
#include "config.h"
#include "fixed_paths.h"
#include "known_marks.h"
#include "mark_record.h"
#include "settings.h"
#include "unique_fd.h"

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

int main() {
    settings.verbose = 0;
    if (read_datafile() != 0)
        return 1;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t seen = mark_record::nanoseconds(now);
    std::vector<mark_record::Entry> entries;
    for (std::string path; std::getline(std::cin, path);) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            std::perror(path.c_str());
            return 1;
        }
        entries.push_back(mark_record::entry_of(st, seen, path));
    }
    const std::string marks = std::string(STATE_DIR) + "/marks";
    const UniqueFd dir(open(marks.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat written;
    if (!dir || !MarkRecord(dir.get(), mark_fingerprint(), marks).replace_with(entries) ||
        fstatat(dir.get(), "record", &written, 0) != 0) {
        std::fprintf(stderr, "mark_record_fill: cannot write %s/record\n", marks.c_str());
        return 1;
    }
    std::printf("entries %zu pages %lld\n", entries.size(),
                static_cast<long long>(written.st_size / mark_record::kPageSize - 1));
    return 0;
}
