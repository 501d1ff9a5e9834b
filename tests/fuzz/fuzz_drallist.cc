// One index, and a data file for the details, through drallist's listing.
// Input: a flags byte (bit 0: details), a count n, then n * 12 + (flags >> 4)
// index bytes; the rest is the data file.
#include "drallist.h"
#include "fuzz_input.h"
#include "fuzz_split.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzSplitter input(data, size);
    std::uint8_t flags = input.byte();
    std::size_t index_size = input.byte() * 12u + (flags >> 4);
    std::string index_bytes = input.bytes(index_size);
    std::string data_bytes = input.rest();

    std::FILE *index =
        open_input(reinterpret_cast<const std::uint8_t *>(index_bytes.data()), index_bytes.size());
    std::FILE *blocks =
        open_input(reinterpret_cast<const std::uint8_t *>(data_bytes.data()), data_bytes.size());
    if (index && blocks)
        drallist_list(index, (flags & 1) ? blocks : nullptr, sink_stream());
    if (index)
        std::fclose(index);
    if (blocks)
        std::fclose(blocks);
    return 0;
}
