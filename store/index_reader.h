// Sequential reader of a store's index: entries in order up to the end
// marker, or up to an entry that the file ends inside of. The index is read in
// large chunks rather than one entry per call, since every lookup scans it
// from the start.
#ifndef VELMO_STORE_INDEX_READER_H
#define VELMO_STORE_INDEX_READER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "store_format.h"

namespace draldb {

class IndexReader {
  public:
    enum class Step { Entry, EndMarker, Exhausted };

    // Positions index at its start; a failed seek reads as an empty index.
    explicit IndexReader(FILE *index);

    // On Step::Entry, points `bytes` at the entry's kEntrySize bytes as they
    // stand in the file, valid until the next call. Scans match on these
    // directly rather than on a decoded copy. After Step::EndMarker,
    // position() is the marker's place in the file.
    Step next_stored(const unsigned char *&bytes) {
        if (end_ - begin_ < kEntrySize)
            return next_stored_refilling(bytes);
        bytes = chunk_.data() + begin_;
        if (is_end_marker(bytes))
            return Step::EndMarker;
        begin_ += kEntrySize;
        position_ += kEntrySize;
        return Step::Entry;
    }

    // Index position of the first byte not yet consumed.
    int64_t position() const { return position_; }

  private:
    Step next_stored_refilling(const unsigned char *&bytes);
    bool buffer_at_least(size_t count);

    FILE *index_;
    std::array<unsigned char, kEntrySize * 2048> chunk_;
    size_t begin_ = 0;
    size_t end_ = 0;
    int64_t position_ = 0;
    bool exhausted_ = false;
};

} // namespace draldb

#endif
