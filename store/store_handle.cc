// The store handle: opening and closing a store, and everything that writes
// to it (index entries, the end marker, blocks and block headers).
#include <climits>
#include <memory>
#include <new>
#include <string>

#include "draldb.h"
#include "file_ptr.h"
#include "index_reader.h"
#include "le32.h"
#include "stream_io.h"

using draldb::BlockHeader;
using draldb::encode_block_header;
using draldb::encode_entry;
using draldb::IndexReader;
using draldb::kBlockHeaderSize;
using draldb::kEndMarker;
using draldb::kEntrySize;
using draldb::seek_to;
using draldb::stream_length;
using draldb::write_all;

namespace {

// Where the index's entries end: at the end marker, or at the end of the file
// when there is none. -1 if that place cannot be named by a 32-bit offset.
int32_t find_index_end(FILE *index) {
    IndexReader reader(index);
    const unsigned char *stored = nullptr;
    IndexReader::Step step;
    while ((step = reader.next_stored(stored)) == IndexReader::Step::Entry) {
    }
    const int64_t end =
        step == IndexReader::Step::EndMarker ? reader.position() : stream_length(index);
    return end >= 0 && end <= INT32_MAX ? static_cast<int32_t>(end) : -1;
}

// dral_seekend, telling whether both streams are now where writes belong.
bool seek_end(dral_handle *h) {
    const bool data_at_end = fseeko(h->data, 0, SEEK_END) == 0;
    if (h->end == -1)
        h->end = find_index_end(h->index);
    return data_at_end && h->end >= 0 && seek_to(h->index, h->end);
}

FILE *open_emptied(const char *path) {
    return std::fopen(path, "w+b");
}

} // namespace

extern "C" {

dral_handle *dral_open(const char *path) {
    if (path == nullptr)
        return nullptr;
    std::unique_ptr<dral_handle> h(new (std::nothrow) dral_handle{});
    if (!h)
        return nullptr;
    velmo::FilePtr index;
    try {
        index.reset(open_emptied((std::string(path) + ".dral").c_str()));
    } catch (...) { // no exception may leave the library
        return nullptr;
    }
    if (!index)
        return nullptr;
    velmo::FilePtr data(open_emptied(path));
    if (!data)
        return nullptr;
    h->index = index.release();
    h->data = data.release();
    h->work = nullptr;
    h->end = -1;
    return h.release();
}

void dral_close(dral_handle *h) {
    if (h == nullptr)
        return;
    std::fclose(h->data);
    std::fclose(h->index);
    dral_workdone(h);
    delete h;
}

void dral_seekend(dral_handle *h) {
    seek_end(h);
}

int32_t dral_addrec(dral_handle *h, const char *name8) {
    if (!seek_end(h) || h->end > INT32_MAX - static_cast<int32_t>(kEntrySize))
        return -1;
    // Offsets are 32-bit signed in the index: a data file that has grown past
    // 2^31 - 1 bytes has no offset left to give.
    const int64_t data_length = ftello(h->data);
    if (data_length < 0 || data_length > INT32_MAX)
        return -1;
    unsigned char entry[kEntrySize];
    encode_entry(name8, static_cast<int32_t>(data_length), entry);
    if (!write_all(h->index, entry, sizeof entry))
        return -1;
    h->end += static_cast<int32_t>(kEntrySize);
    return static_cast<int32_t>(data_length);
}

void dral_terminate(dral_handle *h) {
    if (seek_end(h))
        write_all(h->index, kEndMarker, sizeof kEndMarker);
    // A terminated store is meant to be read, possibly by another program.
    std::fflush(h->index);
    std::fflush(h->data);
}

int32_t dral_write(dral_handle *h, int32_t offset, int32_t type, int32_t size,
                   const void *payload) {
    if (size < 0 || (payload == nullptr && size > 0) || !seek_to(h->data, offset))
        return 0;
    unsigned char header[kBlockHeaderSize];
    encode_block_header(BlockHeader{type, size}, header);
    if (!write_all(h->data, header, sizeof header))
        return 0;
    if (size == 0)
        return 0;
    return static_cast<int32_t>(std::fwrite(payload, 1, static_cast<size_t>(size), h->data));
}

void dral_hdr(dral_handle *h, int32_t offset, int32_t type, int32_t size) {
    if (offset < 0)
        return;
    unsigned char field[velmo::kLe32Size];
    if (type != -1 && seek_to(h->data, offset)) {
        velmo::encode_le32(type, field);
        write_all(h->data, field, sizeof field);
    }
    if (size != -1 &&
        seek_to(h->data, static_cast<int64_t>(offset) + static_cast<int64_t>(velmo::kLe32Size))) {
        velmo::encode_le32(size, field);
        write_all(h->data, field, sizeof field);
    }
}

} // extern "C"
