// dralgen: builds a store (docs/store-format.md) from a marked-up text source.
//
//   dralgen (sourcename) (outputname)
//
// Writes the data file at outputname and its index at outputname.dral. All
// messages go to standard output. Exit status 0 after a complete run, 1 on a
// bad command line, a file that cannot be opened, or a failed read or write.
#include "dralgen.h"
#include "file_ptr.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kUsage[] = "\nUSAGE:\n  dralgen (sourcename) (outputname)\n\n"
                          "Reads data source information and creates a table-indexed output "
                          "file.\n\n";
constexpr char kNoSource[] = "\nAch! Eye canna open the file lad!\n";
constexpr char kNoIndex[] = "\nBloody'ell, eye canna very well index yer bloody database if I "
                            "cant open the file, now can I?\n";
constexpr char kNoData[] = "\nAch, cant open data file.\n";

const char *failure_message(DralgenStatus status) {
    switch (status) {
    case DralgenStatus::ok:
        break;
    case DralgenStatus::source_unreadable:
        return "\nAch, cant read the source.\n";
    case DralgenStatus::index_unwritable:
        return "\nAch, cant write index file.\n";
    case DralgenStatus::data_unwritable:
        return "\nAch, cant write data file.\n";
    case DralgenStatus::index_too_large:
        return "\nAch, index file cant grow past 2147483647 bytes.\n";
    case DralgenStatus::data_too_large:
        return "\nAch, data file cant grow past 2147483647 bytes.\n";
    }
    return "";
}

int fail_open(const char *message) {
    std::fputs(message, stdout);
    std::fputs(kUsage, stdout);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fputs(kUsage, stdout);
        return 1;
    }
    const std::string index_path = std::string(argv[2]) + ".dral";

    velmo::FilePtr source = velmo::open_file(argv[1], "rb");
    if (!source)
        return fail_open(kNoSource);
    velmo::FilePtr index = velmo::open_file(index_path.c_str(), "wb");
    if (!index)
        return fail_open(kNoIndex);
    velmo::FilePtr data = velmo::open_file(argv[2], "wb");
    if (!data)
        return fail_open(kNoData);

    // The conversion reads the source and writes both files through large
    // buffers of its own.
    std::setvbuf(source.get(), nullptr, _IONBF, 0);
    std::setvbuf(index.get(), nullptr, _IONBF, 0);
    std::setvbuf(data.get(), nullptr, _IONBF, 0);

    DralgenStatus status =
        dralgen_convert(source.get(), index.get(), data.get(), kDralgenMaxFileBytes);
    // Both files were written: a close is where their last bytes may fail.
    if (status == DralgenStatus::ok && !velmo::close_checked(index))
        status = DralgenStatus::index_unwritable;
    if (status == DralgenStatus::ok && !velmo::close_checked(data))
        status = DralgenStatus::data_unwritable;
    if (status != DralgenStatus::ok) {
        std::fputs(failure_message(status), stdout);
        return 1;
    }
    return 0;
}
