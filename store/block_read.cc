// Reading blocks back. The data file may be damaged: a header may claim more
// payload than the file holds, or a negative size. No read allocates more than
// the file holds, and none hands back bytes it did not fill.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "draldb.h"
#include "le32.h"
#include "stream_io.h"

using draldb::BlockProbe;
using draldb::kStringType;
using draldb::probe_block;

namespace {

// The string block at offset, if there is one with a payload to read.
bool probe_string(dral_handle *h, int32_t offset, BlockProbe &probe) {
    return probe_block(h->data, offset, probe) && probe.header.type == kStringType &&
           probe.header.size > 0;
}

size_t readable_payload(const BlockProbe &probe) {
    const int64_t wanted = std::max<int64_t>(probe.header.size, 0);
    return static_cast<size_t>(std::min(wanted, probe.bytes_left));
}

} // namespace

extern "C" {

char *dral_readstr_alloc(dral_handle *h, int32_t offset) {
    BlockProbe probe;
    if (!probe_string(h, offset, probe))
        return nullptr;
    const size_t count = readable_payload(probe);
    auto *text = static_cast<char *>(std::malloc(count + 1));
    if (text == nullptr)
        return nullptr;
    const size_t got = std::fread(text, 1, count, h->data);
    if (got == 0) {
        std::free(text);
        return nullptr;
    }
    std::memset(text + got, 0, count + 1 - got);
    return text;
}

int dral_readstr(dral_handle *h, int32_t offset, char *buffer) {
    BlockProbe probe;
    if (!probe_string(h, offset, probe))
        return 0;
    const auto size = static_cast<size_t>(probe.header.size);
    const size_t got = std::fread(buffer, 1, size, h->data);
    if (got == 0)
        return 0;
    std::memset(buffer + got, 0, size + 1 - got);
    return 1;
}

int32_t dral_readlong(dral_handle *h, int32_t offset) {
    BlockProbe probe;
    if (!probe_block(h->data, offset, probe))
        return -1;
    // The value has 4 bytes; a longer payload contributes only its first 4.
    const size_t count = std::min(readable_payload(probe), velmo::kLe32Size);
    unsigned char bytes[velmo::kLe32Size] = {};
    if (count == 0 || std::fread(bytes, 1, count, h->data) == 0)
        return -1;
    return velmo::decode_le32(bytes);
}

void dral_readraw(dral_handle *h, int32_t offset, int32_t *type, int32_t *size, void **payload) {
    *type = -1;
    *size = -1;
    *payload = nullptr;
    BlockProbe probe;
    if (!probe_block(h->data, offset, probe))
        return;
    *type = probe.header.type;
    *size = probe.header.size;
    const size_t count = readable_payload(probe);
    if (count == 0) {
        *size = std::min(*size, 0);
        return;
    }
    void *bytes = std::malloc(count);
    const size_t got = bytes != nullptr ? std::fread(bytes, 1, count, h->data) : 0;
    if (got == 0) {
        std::free(bytes);
        *size = 0;
        return;
    }
    *payload = bytes;
    *size = static_cast<int32_t>(got);
}

} // extern "C"
