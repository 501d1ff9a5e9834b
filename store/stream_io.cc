#include "stream_io.h"

#include <sys/types.h>

namespace draldb {

bool seek_to(FILE *stream, int64_t offset) {
    // A failed seek leaves the position where it was; writing on would then
    // land in the wrong place, so callers stop on false.
    return offset >= 0 && fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t stream_length(FILE *stream) {
    if (fseeko(stream, 0, SEEK_END) != 0)
        return -1;
    return static_cast<int64_t>(ftello(stream));
}

bool write_all(FILE *stream, const void *bytes, size_t count) {
    return std::fwrite(bytes, 1, count, stream) == count;
}

bool probe_block(FILE *data, int64_t offset, BlockProbe &probe) {
    const int64_t length = stream_length(data);
    unsigned char header[kBlockHeaderSize];
    if (length < 0 || !seek_to(data, offset) ||
        std::fread(header, 1, sizeof header, data) != sizeof header)
        return false;
    probe.header = decode_block_header(header);
    const int64_t left = length - offset - static_cast<int64_t>(kBlockHeaderSize);
    probe.bytes_left = left > 0 ? left : 0;
    return true;
}

} // namespace draldb
