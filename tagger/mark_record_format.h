// The bytes of the mark record (mark_record.h): which archives were seen
// carrying the site's mark, as what file. The record is a hash table of
// fixed-size pages, so that a run looks an archive up with one read of one
// page, whatever the number of archives:
//
// - page 0, the head: a magic line (which names the format, and with it
//   the page size), the number of entry pages (a power of two), the
//   fingerprint of everything that decides "tagged" (the site's
//   configuration and files, the tagger's version), the salt of the page
//   placement, and a checksum of these;
// - pages 1 to N: the entries of the archives whose device and inode hash
//   (with the salt) to that page, one after another, then zeros. An entry holds the file's
//   device, inode, size, modification and change times, when it was seen
//   carrying the mark, and its path, then a checksum seeded with the
//   fingerprint: a torn, foreign or stale entry never passes for one.
//
// Numbers are little-endian. Nothing here trusts the bytes it reads.
#ifndef VELMO_TAGGER_MARK_RECORD_FORMAT_H
#define VELMO_TAGGER_MARK_RECORD_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace mark_record {

inline constexpr std::size_t kPageSize = 8192;
// A page's entries, whose paths are at most this long, fit many to a page.
inline constexpr std::size_t kMaxPath = 1024;
inline constexpr std::uint32_t kMaxPages = 1U << 22;

struct Head {
    std::uint32_t pages = 0; // entry pages, a power of two
    std::uint64_t fingerprint = 0;
    // Chosen at random for each file: which page an archive's entry goes
    // to is none of an uploader's business, lest it pile its own archives
    // into one page and make the file grow for nothing.
    std::uint64_t salt = 0;
};

// The file of an archive as it was seen carrying the mark. Times are
// nanoseconds since the epoch.
struct Entry {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t ctime = 0;
    std::int64_t seen = 0;
    std::string path;
};

// `t` in nanoseconds since the epoch.
inline std::int64_t nanoseconds(const timespec &t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The entry of the file `st` at `path`, seen carrying the mark at `seen`.
inline Entry entry_of(const struct stat &st, std::int64_t seen, const std::string &path) {
    return {static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim),
            seen,
            path};
}

// The head page, kPageSize bytes.
std::string encode_head(const Head &head);
// False when `page` is not a head this format writes.
bool decode_head(std::string_view page, Head *head);

// The entry page of the file with device `dev` and inode `ino` in a file
// with `head`, 0 to head.pages - 1. REQUIRES: head.pages is a power of two.
std::uint32_t page_of(std::uint64_t dev, std::uint64_t ino, const Head &head);

// Appends the encoding of `entry` to `page`, the entries of one page so
// far. Returns false, and leaves `page` as it was, when the entry would
// not fit in kPageSize bytes or its path is longer than kMaxPath.
bool append_entry(std::string *page, const Entry &entry, std::uint64_t fingerprint);

// The entry of the file `dev`:`ino` in `page`, when the page holds one
// whose checksum is right.
bool find_entry(std::string_view page, std::uint64_t fingerprint, std::uint64_t dev,
                std::uint64_t ino, Entry *found);

// Lays `entries` out in the entry pages of a file with `head` (each page
// without its trailing zeros) in *contents. Returns false when some page
// cannot hold its entries, or an entry's path is too long.
bool lay_out_pages(const std::vector<Entry> &entries, const Head &head,
                   std::vector<std::string> *contents);

// Every entry of `page`. Returns false when some bytes of the page are not
// an entry with a right checksum (the entries before them are still
// given): the page is damaged, or was torn by a write while it was read.
bool read_entries(std::string_view page, std::uint64_t fingerprint, std::vector<Entry> *entries);

} // namespace mark_record

#endif
