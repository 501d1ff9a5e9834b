#include "mark_record_format.h"

#include "fnv1a.h"
#include "little_endian.h"

namespace mark_record {

namespace {

constexpr std::string_view kMagic = "velmotag marks 1\n";
constexpr std::size_t kPagesAt = 20;
constexpr std::size_t kFingerprintAt = 24;
constexpr std::size_t kSaltAt = 32;
constexpr std::size_t kHeadSumAt = 40;

// An entry: its length (2 bytes), six numbers of 8 bytes, the path, and
// the checksum (8 bytes).
constexpr std::size_t kLengthBytes = 2;
constexpr std::size_t kNumbers = 6;
constexpr std::size_t kPathAt = kLengthBytes + 8 * kNumbers;
constexpr std::size_t kSumBytes = 8;
constexpr std::size_t kFixedBytes = kPathAt + kSumBytes;

void put(std::string *out, std::uint64_t value, std::size_t bytes) {
    append_le(out, value, bytes);
}

std::uint64_t get(std::string_view in, std::size_t at, std::size_t bytes) {
    return read_le(reinterpret_cast<const unsigned char *>(in.data()) + at, bytes);
}

std::uint64_t entry_sum(std::string_view bytes, std::uint64_t fingerprint) {
    std::string seed;
    put(&seed, fingerprint, 8);
    return fnv1a64(bytes, fnv1a64(seed));
}

// The length of the entry at `at`, or 0 when the bytes there are none.
std::size_t entry_length(std::string_view page, std::size_t at) {
    if (at + kLengthBytes > page.size())
        return 0;
    const std::size_t length = get(page, at, kLengthBytes);
    if (length < kFixedBytes || length > kFixedBytes + kMaxPath || length > page.size() - at)
        return 0;
    return length;
}

bool sum_right(std::string_view entry, std::uint64_t fingerprint) {
    const std::size_t body = entry.size() - kSumBytes;
    return get(entry, body, kSumBytes) == entry_sum(entry.substr(0, body), fingerprint);
}

Entry decode_entry(std::string_view entry) {
    Entry decoded;
    std::uint64_t numbers[kNumbers];
    for (std::size_t i = 0; i < kNumbers; ++i)
        numbers[i] = get(entry, kLengthBytes + 8 * i, 8);
    decoded.dev = numbers[0];
    decoded.ino = numbers[1];
    decoded.size = numbers[2];
    decoded.mtime = static_cast<std::int64_t>(numbers[3]);
    decoded.ctime = static_cast<std::int64_t>(numbers[4]);
    decoded.seen = static_cast<std::int64_t>(numbers[5]);
    decoded.path.assign(entry.substr(kPathAt, entry.size() - kFixedBytes));
    return decoded;
}

// Calls `visit` with each entry of the page until it returns true; false
// at bytes that are not an entry. The page's entries end at a zero
// length, or at its end.
template <typename Visit> bool walk_entries(std::string_view page, Visit visit) {
    std::size_t at = 0;
    while (at + kLengthBytes <= page.size() && get(page, at, kLengthBytes) != 0) {
        const std::size_t length = entry_length(page, at);
        if (length == 0)
            return false;
        if (visit(page.substr(at, length)))
            return true;
        at += length;
    }
    return true;
}

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

std::string encode_head(const Head &head) {
    std::string page(kMagic);
    page.resize(kPagesAt, '\0');
    put(&page, head.pages, 4);
    put(&page, head.fingerprint, 8);
    put(&page, head.salt, 8);
    put(&page, fnv1a64(page), 8);
    page.resize(kPageSize, '\0');
    return page;
}

bool decode_head(std::string_view page, Head *head) {
    if (page.size() != kPageSize || page.substr(0, kMagic.size()) != kMagic ||
        get(page, kHeadSumAt, 8) != fnv1a64(page.substr(0, kHeadSumAt)))
        return false;
    const auto pages = static_cast<std::uint32_t>(get(page, kPagesAt, 4));
    if (pages == 0 || pages > kMaxPages || (pages & (pages - 1)) != 0)
        return false;
    head->pages = pages;
    head->fingerprint = get(page, kFingerprintAt, 8);
    head->salt = get(page, kSaltAt, 8);
    return true;
}

std::uint32_t page_of(std::uint64_t dev, std::uint64_t ino, const Head &head) {
    return static_cast<std::uint32_t>(mix(ino ^ mix(dev ^ mix(head.salt))) & (head.pages - 1));
}

bool append_entry(std::string *page, const Entry &entry, std::uint64_t fingerprint) {
    const std::size_t length = kFixedBytes + entry.path.size();
    if (entry.path.size() > kMaxPath || page->size() + length > kPageSize)
        return false;
    std::string bytes;
    put(&bytes, length, kLengthBytes);
    for (std::uint64_t number :
         {entry.dev, entry.ino, entry.size, static_cast<std::uint64_t>(entry.mtime),
          static_cast<std::uint64_t>(entry.ctime), static_cast<std::uint64_t>(entry.seen)})
        put(&bytes, number, 8);
    bytes += entry.path;
    put(&bytes, entry_sum(bytes, fingerprint), kSumBytes);
    *page += bytes;
    return true;
}

bool lay_out_pages(const std::vector<Entry> &entries, const Head &head,
                   std::vector<std::string> *contents) {
    contents->assign(head.pages, std::string());
    for (const Entry &e : entries) {
        if (!append_entry(&(*contents)[page_of(e.dev, e.ino, head)], e, head.fingerprint))
            return false;
    }
    return true;
}

bool find_entry(std::string_view page, std::uint64_t fingerprint, std::uint64_t dev,
                std::uint64_t ino, Entry *found) {
    bool hit = false;
    walk_entries(page, [&](std::string_view entry) {
        if (get(entry, kLengthBytes, 8) != dev || get(entry, kLengthBytes + 8, 8) != ino ||
            !sum_right(entry, fingerprint))
            return false;
        *found = decode_entry(entry);
        hit = true;
        return true;
    });
    return hit;
}

bool read_entries(std::string_view page, std::uint64_t fingerprint, std::vector<Entry> *entries) {
    bool whole = true;
    const bool walked = walk_entries(page, [&](std::string_view entry) {
        if (!sum_right(entry, fingerprint)) {
            whole = false;
            return true;
        }
        entries->push_back(decode_entry(entry));
        return false;
    });
    return walked && whole;
}

} // namespace mark_record
