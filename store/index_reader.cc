#include "index_reader.h"

#include <cstring>

#include "stream_io.h"

namespace draldb {

IndexReader::IndexReader(FILE *index) : index_(index) {
    exhausted_ = !seek_to(index_, 0);
}

bool IndexReader::buffer_at_least(size_t count) {
    if (end_ - begin_ >= count)
        return true;
    std::memmove(chunk_.data(), chunk_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    while (end_ < count && !exhausted_) {
        const size_t got = std::fread(chunk_.data() + end_, 1, chunk_.size() - end_, index_);
        if (got == 0)
            exhausted_ = true;
        end_ += got;
    }
    return end_ >= count;
}

IndexReader::Step IndexReader::next_stored_refilling(const unsigned char *&bytes) {
    if (!buffer_at_least(kNameSize))
        return Step::Exhausted;
    if (is_end_marker(chunk_.data() + begin_))
        return Step::EndMarker;
    // A name without its complete offset ends the index.
    if (!buffer_at_least(kEntrySize))
        return Step::Exhausted;
    return next_stored(bytes);
}

} // namespace draldb
