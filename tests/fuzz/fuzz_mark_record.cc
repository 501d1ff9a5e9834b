// The mark record's reader on any bytes: the first 8 give the fingerprint,
// the rest are read as a head and as an entry page. Whatever entries it
// takes from a page, it must find again by their file, and write back as
// the very bytes it read them from.
#include "mark_record_format.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 8)
        return 0;
    std::uint64_t fingerprint = 0;
    for (int i = 0; i < 8; ++i)
        fingerprint |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    const std::string_view bytes(reinterpret_cast<const char *>(data) + 8, size - 8);
    mark_record::Head head;
    if (mark_record::decode_head(bytes, &head) &&
        (head.pages == 0 || (head.pages & (head.pages - 1)) != 0))
        std::abort();
    const std::string_view page = bytes.substr(0, mark_record::kPageSize);
    std::vector<mark_record::Entry> entries;
    mark_record::read_entries(page, fingerprint, &entries);
    std::string written;
    for (const mark_record::Entry &entry : entries) {
        if (!mark_record::append_entry(&written, entry, fingerprint))
            std::abort();
    }
    if (page.substr(0, written.size()) != written)
        std::abort();
    mark_record::Entry found;
    if (!entries.empty() &&
        !mark_record::find_entry(page, fingerprint, entries[0].dev, entries[0].ino, &found))
        std::abort();
    return 0;
}
