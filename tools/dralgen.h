// The store generator's conversion: marked-up text in, store files out.
//
// The source is read line by line. A line that begins with "BLOCK START"
// opens a block named by the 8 bytes that follow the character after the
// prefix; a line that begins with "BLOCK END" closes it; every other line is
// text and goes to the data file as it stands. The files written are those of
// docs/store-format.md: one string block and one index entry per source block,
// in source order, and the end marker after the last entry.
#ifndef VELMO_TOOLS_DRALGEN_H
#define VELMO_TOOLS_DRALGEN_H

#include <cstdint>
#include <cstdio>

// Largest size either store file may reach: offsets and sizes are signed
// 32-bit numbers.
inline constexpr std::int64_t kDralgenMaxFileBytes = 2147483647;

enum class DralgenStatus {
    ok,
    source_unreadable, // a read from the source failed
    index_unwritable,  // a write to the index failed
    data_unwritable,   // a write to the data file failed
    index_too_large,   // the next entry would push the index past the limit
    data_too_large,    // the next bytes would push the data file past the limit
};

// Converts the whole of `source`, writing entries and the end marker to
// `index` and blocks (and the text found outside blocks) to `data`.
//
// REQUIRES: index and data are empty, open for writing and positioned at
// their start; data can seek, since the size field of a block that has
// already left the memory buffer is written again in place.
//
// Returns ok once the end marker is written and both outputs are flushed; the
// caller still closes them and must check that. On any other status the
// conversion stops at once and the end marker is not written, so the index is
// left without one. Neither file grows past max_file_bytes.
DralgenStatus dralgen_convert(std::FILE *source, std::FILE *index, std::FILE *data,
                              std::int64_t max_file_bytes = kDralgenMaxFileBytes);

#endif
