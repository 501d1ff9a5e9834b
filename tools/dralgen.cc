// Implementation details: one pass over the source, cut into the pieces that
// a 4096-byte line buffer holds: a line up to and including its line feed, at
// most 4095 bytes, so a longer line arrives in pieces that are each handled
// as a line of their own. A NUL byte ends a piece's text. LineReader cuts the
// pieces out of a large read buffer rather than asking stdio for each line,
// and looks for NUL bytes once per stretch of buffer rather than per piece.
//
// Both files are written through OutputBuffer, a buffer of our own rather
// than stdio's (no call and no lock per entry or line), and for the data file
// so that a block's datasize field can be filled in while the block is still
// in memory; only a block that outgrew the buffer costs a seek back into the
// file.
#include "dralgen.h"

#include "le32.h"
#include "store_layout.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>

namespace {

constexpr char kStartPrefix[] = "BLOCK START";
constexpr char kEndPrefix[] = "BLOCK END";
constexpr std::size_t kNameOffset = 12; // the character after the start prefix is skipped
using velmo::kBlockHeaderSize;
using velmo::kEndMarker;
using velmo::kEntrySize;
using velmo::kLe32Size;
using velmo::kNameSize;
using velmo::kStringType;
constexpr std::size_t kMaxPieceBytes = 4095; // a 4096-byte line buffer and its terminator
constexpr std::size_t kReadBufferBytes = 1 << 20;
constexpr std::size_t kDataBufferBytes = 1 << 20;

template <std::size_t N>
bool starts_with(const char *text, std::size_t len, const char (&prefix)[N]) {
    return len >= N - 1 && std::memcmp(text, prefix, N - 1) == 0;
}

// Hands out the source piece by piece, as a 4096-byte line buffer would take
// it in: up to and including the next line feed, at most kMaxPieceBytes.
class LineReader {
  public:
    explicit LineReader(std::FILE *file)
        : file_(file), buf_(std::make_unique_for_overwrite<char[]>(kReadBufferBytes)) {}

    // Points `piece` at the next piece, sets `len` to its length and
    // `text_len` to the length of its text (the bytes before a NUL, if it
    // holds one); false once the source has no more bytes or a read failed
    // (see failed()). The piece stays valid until the next call.
    bool next(const char *&piece, std::size_t &len, std::size_t &text_len) {
        if (end_ - pos_ < kMaxPieceBytes && !drained_)
            refill();
        if (pos_ == end_)
            return false;
        piece = buf_.get() + pos_;
        const std::size_t avail = std::min(end_ - pos_, kMaxPieceBytes);
        const void *lf = std::memchr(piece, '\n', avail);
        len = lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - piece) + 1 : avail;
        text_len = nul_ < pos_ + len ? nul_ - pos_ : len;
        pos_ += len;
        if (nul_ < pos_)
            nul_ = find_nul(pos_);
        return true;
    }

    bool failed() const { return std::ferror(file_) != 0; }

  private:
    void refill() {
        std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        nul_ -= pos_;
        pos_ = 0;
        const std::size_t kept = end_;
        const std::size_t want = kReadBufferBytes - end_;
        const std::size_t got = std::fread(buf_.get() + end_, 1, want, file_);
        end_ += got;
        drained_ = got < want; // fread comes back short only at the end or on an error
        if (nul_ == kept)
            nul_ = find_nul(kept);
    }

    // Position of the first NUL at or after `from` in the buffer, or end_.
    std::size_t find_nul(std::size_t from) const {
        const void *nul = std::memchr(buf_.get() + from, '\0', end_ - from);
        return nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - buf_.get()) : end_;
    }

    std::FILE *file_;
    std::unique_ptr<char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t nul_ = 0; // the first NUL at or after pos_, or end_ if none
    bool drained_ = false;
};

// Appends to an output file through a memory buffer and can rewrite a 4-byte
// number anywhere in what has been appended so far.
class OutputBuffer {
  public:
    explicit OutputBuffer(std::FILE *file)
        : file_(file), buf_(std::make_unique_for_overwrite<unsigned char[]>(kDataBufferBytes)) {}

    // Bytes appended so far: the data file's length once flushed.
    std::int64_t size() const { return flushed_ + static_cast<std::int64_t>(used_); }

    // REQUIRES: n <= kDataBufferBytes.
    bool append(const void *bytes, std::size_t n) {
        assert(n <= kDataBufferBytes);
        if (n > kDataBufferBytes - used_ && !flush())
            return false;
        std::memcpy(buf_.get() + used_, bytes, n);
        used_ += n;
        return true;
    }

    // REQUIRES: the 4 bytes at pos were appended in one call.
    bool rewrite_le32(std::int64_t pos, std::int32_t value) {
        unsigned char bytes[kLe32Size];
        velmo::encode_le32(value, bytes);
        if (pos >= flushed_) {
            std::memcpy(buf_.get() + (pos - flushed_), bytes, kLe32Size);
            return true;
        }
        return fseeko(file_, pos, SEEK_SET) == 0 &&
               std::fwrite(bytes, 1, kLe32Size, file_) == kLe32Size &&
               fseeko(file_, flushed_, SEEK_SET) == 0;
    }

    bool flush() {
        if (std::fwrite(buf_.get(), 1, used_, file_) != used_)
            return false;
        flushed_ += static_cast<std::int64_t>(used_);
        used_ = 0;
        return true;
    }

  private:
    std::FILE *file_;
    std::unique_ptr<unsigned char[]> buf_;
    std::size_t used_ = 0;
    std::int64_t flushed_ = 0;
};

} // namespace

DralgenStatus dralgen_convert(std::FILE *source, std::FILE *index, std::FILE *data,
                              std::int64_t max_file_bytes) {
    OutputBuffer out(data);
    OutputBuffer index_out(index);
    bool in_block = false;
    std::int64_t datasize_pos = 0;
    std::int64_t running_size = 0;
    LineReader reader(source);
    const char *line = nullptr;
    std::size_t piece_len = 0;
    std::size_t len = 0;

    while (reader.next(line, piece_len, len)) {
        if (starts_with(line, len, kStartPrefix)) {
            // Room for this entry and the end marker still to come.
            if (index_out.size() + static_cast<std::int64_t>(kEntrySize + kNameSize) >
                max_file_bytes)
                return DralgenStatus::index_too_large;
            if (out.size() + static_cast<std::int64_t>(kBlockHeaderSize) > max_file_bytes)
                return DralgenStatus::data_too_large;

            unsigned char entry[kEntrySize] = {}; // a short name stays NUL-filled
            if (len > kNameOffset)
                std::memcpy(entry, line + kNameOffset, std::min(len - kNameOffset, kNameSize));
            velmo::encode_le32(static_cast<std::int32_t>(out.size()), entry + kNameSize);
            if (!index_out.append(entry, kEntrySize))
                return DralgenStatus::index_unwritable;

            unsigned char header[kBlockHeaderSize];
            velmo::encode_le32(kStringType, header);
            velmo::encode_le32(0, header + kLe32Size); // filled in by the end line
            datasize_pos = out.size() + static_cast<std::int64_t>(kLe32Size);
            if (!out.append(header, kBlockHeaderSize))
                return DralgenStatus::data_unwritable;
            in_block = true;
            running_size = 0;
        } else if (starts_with(line, len, kEndPrefix)) {
            // An end line that closes nothing must not touch the size of a
            // block that is already closed.
            if (!in_block)
                continue;
            if (!out.rewrite_le32(datasize_pos, static_cast<std::int32_t>(running_size)))
                return DralgenStatus::data_unwritable;
            in_block = false;
            running_size = 0;
        } else {
            if (out.size() + static_cast<std::int64_t>(len) > max_file_bytes)
                return DralgenStatus::data_too_large;
            if (!out.append(line, len))
                return DralgenStatus::data_unwritable;
            running_size += static_cast<std::int64_t>(len);
        }
    }
    if (reader.failed())
        return DralgenStatus::source_unreadable;

    // The data goes out first: an index never ends with its marker while
    // the blocks it points at are missing.
    if (!out.flush() || std::fflush(data) != 0)
        return DralgenStatus::data_unwritable;
    if (!index_out.append(kEndMarker, kNameSize) || !index_out.flush() || std::fflush(index) != 0)
        return DralgenStatus::index_unwritable;
    return DralgenStatus::ok;
}
