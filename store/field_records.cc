// Per-user fields: a block under an index entry named by a field key, the
// user identifier (at most 5 characters) joined with the field name (at most
// 3). Lookups use the key followed by "*" through dral_best.
#include <algorithm>
#include <cstring>

#include "draldb.h"
#include "le32.h"
#include "stream_io.h"

using draldb::BlockProbe;
using draldb::kBlockHeaderSize;
using draldb::kNameSize;
using draldb::kNumberType;
using draldb::kStringType;
using draldb::probe_block;
using draldb::stream_length;

namespace {

constexpr size_t kUidLength = 5;
constexpr size_t kFieldLength = 3;

// Key text, room for the trailing "*" of a lookup pattern and a terminator.
struct FieldKey {
    char text[kNameSize + 2] = {};
};

FieldKey make_key(const char *uid, const char *field, bool as_pattern) {
    FieldKey key;
    const size_t uid_length = strnlen(uid, kUidLength);
    const size_t field_length = strnlen(field, kFieldLength);
    std::memcpy(key.text, uid, uid_length);
    std::memcpy(key.text + uid_length, field, field_length);
    if (as_pattern)
        key.text[uid_length + field_length] = '*';
    return key;
}

// Set operations write in place. A block may grow only when nothing follows
// it in the data file; growing it elsewhere would overwrite the next block.
bool rewrite_fits(FILE *data, int32_t offset, int32_t new_size) {
    const int64_t length = stream_length(data);
    if (length < 0)
        return false;
    if (offset + static_cast<int64_t>(kBlockHeaderSize) > length)
        return true; // no block there yet: the field was just added at the end
    BlockProbe probe;
    if (!probe_block(data, offset, probe))
        return false;
    const bool is_last = probe.bytes_left <= std::max(probe.header.size, 0);
    return is_last || new_size <= probe.header.size;
}

int32_t write_field(dral_handle *h, const char *uid, const char *field, int32_t type, int32_t size,
                    const void *payload) {
    if (size < 0)
        return 0;
    const int32_t offset = dral_best(h, make_key(uid, field, true).text);
    if (offset < 0 || !rewrite_fits(h->data, offset, size))
        return 0;
    return dral_write(h, offset, type, size, payload);
}

char unf[kUidLength + 1];
char unf2[kFieldLength + 1];

} // namespace

extern "C" {

int32_t add_field(dral_handle *h, const char *uid, const char *field) {
    char name8[kNameSize] = {};
    const FieldKey key = make_key(uid, field, false);
    std::memcpy(name8, key.text, kNameSize);
    return dral_addrec(h, name8);
}

int32_t set_strfield(dral_handle *h, const char *uid, const char *field, const char *value,
                     int32_t length) {
    return write_field(h, uid, field, kStringType, length, value);
}

int32_t set_longfield(dral_handle *h, const char *uid, const char *field, int32_t value) {
    unsigned char bytes[velmo::kLe32Size];
    velmo::encode_le32(value, bytes);
    return write_field(h, uid, field, kNumberType, sizeof bytes, bytes);
}

int get_strfield(dral_handle *h, const char *uid, const char *field, char *buffer) {
    const int32_t offset = dral_best(h, make_key(uid, field, true).text);
    return offset < 0 ? 0 : dral_readstr(h, offset, buffer);
}

int32_t get_longfield(dral_handle *h, const char *uid, const char *field) {
    const int32_t offset = dral_best(h, make_key(uid, field, true).text);
    return offset < 0 ? -1 : dral_readlong(h, offset);
}

const char *dbuid(const char *key) {
    const size_t length = strnlen(key, kUidLength);
    std::memcpy(unf, key, length);
    unf[length] = '\0';
    return unf;
}

const char *dbfield(const char *key) {
    const size_t length = strnlen(key, kUidLength + kFieldLength);
    size_t field_length = 0;
    if (length > kUidLength) {
        field_length = length - kUidLength;
        std::memcpy(unf2, key + kUidLength, field_length);
    }
    unf2[field_length] = '\0';
    return unf2;
}

} // extern "C"
