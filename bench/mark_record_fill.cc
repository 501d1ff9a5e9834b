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
#include "mark_record_format.h"
#include "settings.h"

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int main() {
    settings.verbose = 0;
    if (read_datafile() != 0)
        return 1;
    const std::uint64_t fingerprint = mark_fingerprint();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t seen = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    std::vector<mark_record::Entry> entries;
    for (std::string path; std::getline(std::cin, path);) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            std::perror(path.c_str());
            return 1;
        }
        entries.push_back({static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino),
                           static_cast<std::uint64_t>(st.st_size),
                           st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec,
                           st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec, seen, path});
    }
    mark_record::Head head{16, fingerprint, 0};
    if (getentropy(&head.salt, sizeof head.salt) != 0)
        return 1;
    std::vector<std::string> contents;
    while (!mark_record::lay_out_pages(entries, head, &contents))
        head.pages *= 2;
    std::ofstream out(std::string(STATE_DIR) + "/marks/record", std::ios::binary | std::ios::trunc);
    out << mark_record::encode_head(head);
    for (std::string &page : contents) {
        page.resize(mark_record::kPageSize, '\0');
        out << page;
    }
    out.close();
    std::printf("entries %zu pages %u\n", entries.size(), head.pages);
    return out ? 0 : 1;
}
