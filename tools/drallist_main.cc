// drallist: prints a store's index (docs/store-format.md).
//
//   drallist (file) (opts)
//
// Reads the index at file.dral; any second argument, whatever it says, adds
// each block's type and size from the data file. Messages and the listing go
// to standard output. Exit status 0 after a complete listing, 1 on a bad
// command line, a file that cannot be opened, an index without its end marker
// or a block header that could not be read.
#include "drallist.h"
#include "file_ptr.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kUsage[] = "\n USAGE drallist (file) (opts)\n";
constexpr char kNoData[] = "Cannot open data file.\n";
constexpr char kNoIndex[] = "Cannot open .dral file.\n";

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fputs(kUsage, stdout);
        return 1;
    }
    const bool details = argc == 3;
    const std::string index_path = std::string(argv[1]) + ".dral";

    velmo::FilePtr data;
    if (details) {
        data = velmo::open_file(argv[1], "rb");
        if (!data) {
            std::fputs(kNoData, stdout);
            return 1;
        }
        // The listing reads the data file through a window of its own.
        std::setvbuf(data.get(), nullptr, _IONBF, 0);
    }
    velmo::FilePtr index = velmo::open_file(index_path.c_str(), "rb");
    if (!index) {
        std::fputs(kNoIndex, stdout);
        return 1;
    }
    // The listing reads the index through a buffer of its own.
    std::setvbuf(index.get(), nullptr, _IONBF, 0);

    switch (drallist_list(index.get(), data.get(), stdout)) {
    case DrallistStatus::complete:
        return 0;
    case DrallistStatus::output_failed:
        std::fputs("drallist: cannot write the listing\n", stderr);
        return 1;
    case DrallistStatus::bad_format:
    case DrallistStatus::bad_block_header:
        break;
    }
    return 1;
}
