// Implementation details: the listing is assembled in a buffer of our own and
// written in large pieces, rather than with one formatted print per entry;
// the numbers are printed in plain decimal, as printf's %d would. The index
// is taken from a large buffer of our own too (IndexBytes), rather than with
// two stdio reads per entry. Block headers are read through a window of the
// data file (HeaderReader), since a seek on a stdio stream costs a system
// call even when the bytes are buffered.
#include "drallist.h"

#include "le32.h"
#include "store_layout.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

using velmo::kBlockHeaderSize;
using velmo::kEndMarker;
using velmo::kLe32Size;
using velmo::kNameSize;
constexpr std::size_t kOutBufferBytes = 1 << 16;

// Collects output text and hands it to a stream in large pieces.
class Output {
  public:
    explicit Output(std::FILE *file)
        : file_(file), buf_(std::make_unique<char[]>(kOutBufferBytes)) {}

    // REQUIRES: n <= kOutBufferBytes.
    void text(const char *s, std::size_t n) {
        if (n > kOutBufferBytes - used_)
            flush();
        std::memcpy(buf_.get() + used_, s, n);
        used_ += n;
    }
    template <std::size_t N> void text(const char (&s)[N]) { text(s, N - 1); }

    void number(std::int64_t v) {
        char digits[24];
        const auto res = std::to_chars(digits, digits + sizeof digits, v);
        text(digits, static_cast<std::size_t>(res.ptr - digits));
    }

    // False once any write has failed.
    bool flush() {
        if (used_ > 0 && std::fwrite(buf_.get(), 1, used_, file_) != used_)
            failed_ = true;
        used_ = 0;
        if (std::fflush(file_) != 0)
            failed_ = true;
        return !failed_;
    }

    bool failed() const { return failed_; }

  private:
    std::FILE *file_;
    std::unique_ptr<char[]> buf_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

// Hands out the index's bytes a few at a time from a large buffer that is
// refilled with one read.
class IndexBytes {
  public:
    explicit IndexBytes(std::FILE *index)
        : index_(index), buf_(std::make_unique<unsigned char[]>(kBufferBytes)) {}

    // Points `bytes` at the next n bytes and moves past them; false when the
    // index ends before n bytes. REQUIRES: n <= kBufferBytes.
    bool take(std::size_t n, const unsigned char *&bytes) {
        if (end_ - pos_ < n && !refill(n))
            return false;
        bytes = buf_.get() + pos_;
        pos_ += n;
        return true;
    }

  private:
    static constexpr std::size_t kBufferBytes = 1 << 16;

    bool refill(std::size_t n) {
        std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
        while (end_ < n) {
            const std::size_t got = std::fread(buf_.get() + end_, 1, kBufferBytes - end_, index_);
            if (got == 0)
                return false;
            end_ += got;
        }
        return true;
    }

    std::FILE *index_;
    std::unique_ptr<unsigned char[]> buf_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
};

// Reads block headers through a window of the data file kept in memory, so
// that the headers of neighbouring blocks cost no seek and no read each; a
// header outside the window moves the window to it.
class HeaderReader {
  public:
    explicit HeaderReader(std::FILE *data)
        : data_(data), window_(std::make_unique<unsigned char[]>(kWindowBytes)) {}

    // Copies the 8 header bytes at `offset` to out; false if the data file
    // ends before them.
    bool read(std::int64_t offset, unsigned char *out) {
        const std::int64_t want = static_cast<std::int64_t>(kBlockHeaderSize);
        if (offset < start_ || offset + want > start_ + static_cast<std::int64_t>(len_)) {
            len_ = 0;
            if (fseeko(data_, offset, SEEK_SET) != 0)
                return false;
            start_ = offset;
            len_ = std::fread(window_.get(), 1, kWindowBytes, data_);
            if (len_ < kBlockHeaderSize)
                return false;
        }
        std::memcpy(out, window_.get() + (offset - start_), kBlockHeaderSize);
        return true;
    }

  private:
    static constexpr std::size_t kWindowBytes = 1 << 14;
    std::FILE *data_;
    std::unique_ptr<unsigned char[]> window_;
    std::int64_t start_ = 0;
    std::size_t len_ = 0;
};

// Appends the block details of the entry at `offset`; false if its header
// could not be read.
bool list_details(HeaderReader &headers, std::int32_t offset, Output &out) {
    unsigned char header[kBlockHeaderSize];
    if (offset < 0) {
        out.text("( bad data offset )");
        return false;
    }
    if (!headers.read(offset, header)) {
        out.text("( truncated block header )");
        return false;
    }
    out.text("( datatype ");
    out.number(velmo::decode_le32(header));
    out.text(" datasize ");
    out.number(velmo::decode_le32(header + kLe32Size));
    out.text(" )");
    return true;
}

} // namespace

DrallistStatus drallist_list(std::FILE *index, std::FILE *data, std::FILE *out_file) {
    Output out(out_file);
    HeaderReader headers(data);
    bool headers_ok = true;
    bool reached_end = false;

    IndexBytes entries(index);
    for (std::int64_t n = 0; !out.failed(); ++n) {
        const unsigned char *name_bytes = nullptr;
        const unsigned char *offset_bytes = nullptr;
        if (!entries.take(kNameSize, name_bytes))
            break;
        if (std::memcmp(name_bytes, kEndMarker, kNameSize) == 0) {
            reached_end = true;
            break;
        }
        const char *name = reinterpret_cast<const char *>(name_bytes);
        if (!entries.take(kLe32Size, offset_bytes))
            break;
        const std::int32_t offset = velmo::decode_le32(offset_bytes);

        out.text("DRAL ");
        out.number(n);
        out.text(": name: ");
        const void *nul = std::memchr(name, '\0', kNameSize);
        out.text(name,
                 nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - name) : kNameSize);
        out.text(" (data offset ");
        out.number(offset);
        out.text(")");
        if (data != nullptr && !list_details(headers, offset, out))
            headers_ok = false;
        out.text("\n");
    }
    out.text(reached_end ? "DRALEND detected.\n" : "Bad .dral format.\n");

    if (!out.flush())
        return DrallistStatus::output_failed;
    if (!reached_end)
        return DrallistStatus::bad_format;
    return headers_ok ? DrallistStatus::complete : DrallistStatus::bad_block_header;
}
