// The library's lookups and readers over arbitrary store files. A store is
// always opened empty, so the damaged bytes are written through the handle's
// own two streams before the lookups run.
// Input: a flags byte, a pattern length and the pattern, an index length n
// (n * 12 + (flags >> 4) bytes) and the index; the rest is the data file.
#include "draldb.h"
#include "fuzz_split.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

// Plain arrays, so they are still there when the exit handler runs.
char store_path[64];
char index_path[72];

void remove_store() {
    unlink(store_path);
    unlink(index_path);
}

// dral_readstr writes datasize + 1 bytes, so it is only given a buffer when
// the header's size is known and modest.
void read_as_string(dral_handle *h, const std::string &data_bytes, std::int32_t offset) {
    if (offset < 0 || static_cast<std::size_t>(offset) + 8 > data_bytes.size())
        return;
    std::int32_t size = fuzz_le32(data_bytes, offset + 4);
    if (size < 0 || size > (1 << 20))
        return;
    std::string buffer(static_cast<std::size_t>(size) + 1, '\x7f');
    dral_readstr(h, offset, buffer.data());
}

void read_block(dral_handle *h, const std::string &data_bytes, std::int32_t offset) {
    std::int32_t type = 0, size = 0;
    void *payload = nullptr;
    dral_readraw(h, offset, &type, &size, &payload);
    // Never more size than payload: without one, no positive size.
    if (!payload && size > 0)
        std::abort();
    std::free(payload);
    dral_readlong(h, offset);
    std::free(dral_readstr_alloc(h, offset));
    read_as_string(h, data_bytes, offset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (store_path[0] == '\0') {
        std::snprintf(store_path, sizeof store_path, "/tmp/velmo_fuzz_draldb_%d", int(getpid()));
        std::snprintf(index_path, sizeof index_path, "%s.dral", store_path);
        std::atexit(remove_store);
    }

    FuzzSplitter input(data, size);
    std::uint8_t flags = input.byte();
    std::string pattern = input.bytes(input.byte() % 16);
    pattern = pattern.c_str(); // up to its first NUL, as a C caller would pass it
    std::string index_bytes = input.bytes(input.byte() * 12u + (flags >> 4));
    std::string data_bytes = input.rest();

    dral_handle *h = dral_open(store_path);
    if (!h)
        return 0;
    std::fwrite(index_bytes.data(), 1, index_bytes.size(), h->index);
    std::fwrite(data_bytes.data(), 1, data_bytes.size(), h->data);
    std::fflush(h->index);
    std::fflush(h->data);

    read_block(h, data_bytes, dral_search(h, pattern.c_str()));
    dral_work(h, pattern.c_str());
    read_block(h, data_bytes, dral_best(h, pattern.c_str()));
    dral_worknode *cursor = nullptr;
    int visited = 0;
    do {
        dral_worknode *node = dral_workiter(h, &cursor);
        if (!node)
            break;
        dral_workname(node);
        read_block(h, data_bytes, dral_workpoint(node));
    } while (cursor && ++visited < 64);

    std::string uid = pattern.substr(0, 5), field = pattern.size() > 5 ? pattern.substr(5) : "";
    get_longfield(h, uid.c_str(), field.c_str());
    if (flags & 1) {
        // Writing after damage: appends and rewrites must stay in bounds.
        std::int32_t at = add_field(h, uid.c_str(), field.c_str());
        set_strfield(h, uid.c_str(), field.c_str(), pattern.data(),
                     static_cast<std::int32_t>(pattern.size()));
        set_longfield(h, uid.c_str(), field.c_str(), at);
        dral_terminate(h);
    }
    dral_workdone(h);
    dral_close(h);
    return 0;
}
