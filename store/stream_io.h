// Thin, checked wrappers over the stdio positioning and transfer calls that
// the store uses on its two streams. Positions are 64-bit here so that a file
// grown past what a 32-bit offset can name is seen as such.
#ifndef VELMO_STORE_STREAM_IO_H
#define VELMO_STORE_STREAM_IO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "store_format.h"

namespace draldb {

// Positions stream at offset from its start; false for a negative offset or a
// failed seek, in which case no read or write may follow.
bool seek_to(FILE *stream, int64_t offset);

// Length of the stream's file, pending writes included, or -1. Leaves the
// stream at its end.
int64_t stream_length(FILE *stream);

bool write_all(FILE *stream, const void *bytes, size_t count);

// What lies at a block's offset: its header and how many payload bytes the
// file still holds after that header.
struct BlockProbe {
    BlockHeader header;
    int64_t bytes_left;
};

// Reads the block header at offset and leaves the stream at the payload;
// false if the header cannot be read whole.
bool probe_block(FILE *data, int64_t offset, BlockProbe &probe);

} // namespace draldb

#endif
