// One source through dralgen's conversion, into memory streams; whatever it
// writes must be a well-formed store whose blocks lie inside the data file.
#include "dralgen.h"
#include "fuzz_input.h"
#include "fuzz_split.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::FILE *source = open_input(data, size);
    if (!source)
        return 0;
    char *index_bytes = nullptr, *data_bytes = nullptr;
    std::size_t index_size = 0, data_size = 0;
    std::FILE *index = open_memstream(&index_bytes, &index_size);
    std::FILE *blocks = open_memstream(&data_bytes, &data_size);
    // A small limit now and then, so the size checks run too.
    std::int64_t limit = size > 0 && data[0] == 'L' ? 200 : kDralgenMaxFileBytes;
    DralgenStatus status = dralgen_convert(source, index, blocks, limit);
    std::fclose(source);
    std::fclose(index);
    std::fclose(blocks);

    if (status == DralgenStatus::ok) {
        std::string idx(index_bytes, index_size), dat(data_bytes, data_size);
        if (idx.size() < 8 || (idx.size() - 8) % 12 != 0 ||
            idx.compare(idx.size() - 8, 8, "\n\n\n\n\n\n\n\n") != 0)
            std::abort();
        for (std::size_t at = 0; at + 8 < idx.size(); at += 12) {
            std::int64_t offset = fuzz_le32(idx, at + 8);
            if (offset < 0 || offset + 8 > static_cast<std::int64_t>(dat.size()))
                std::abort();
            std::int64_t type = fuzz_le32(dat, offset), block = fuzz_le32(dat, offset + 4);
            if (type != 2 || block < 0 ||
                offset + 8 + block > static_cast<std::int64_t>(dat.size()))
                std::abort();
        }
    } else if (status != DralgenStatus::data_too_large &&
               status != DralgenStatus::index_too_large) {
        std::abort(); // memory streams neither fail to read nor to write
    }
    std::free(index_bytes);
    std::free(data_bytes);
    return 0;
}
