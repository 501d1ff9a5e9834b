// Lookups by shell pattern: one scan of the index from its start for
// dral_search and dral_work, and dral_best's two-stage order (working list
// first, then the index).
#include <algorithm>
#include <iterator>
#include <new>

#include "draldb.h"
#include "index_reader.h"
#include "name_match.h"

using draldb::decode_entry;
using draldb::IndexEntry;
using draldb::IndexReader;
using draldb::NamePattern;

extern "C" {

int32_t dral_search(dral_handle *h, const char *pattern) {
    const NamePattern matcher(pattern);
    IndexReader reader(h->index);
    const unsigned char *stored = nullptr;
    while (reader.next_stored(stored) == IndexReader::Step::Entry) {
        if (matcher.matches_stored(stored))
            return decode_entry(stored).offset;
    }
    return -1;
}

void dral_work(dral_handle *h, const char *pattern) {
    const NamePattern matcher(pattern);
    IndexReader reader(h->index);
    const unsigned char *stored = nullptr;
    while (reader.next_stored(stored) == IndexReader::Step::Entry) {
        if (!matcher.matches_stored(stored))
            continue;
        const IndexEntry entry = decode_entry(stored);
        auto *node = new (std::nothrow) dral_worknode{};
        if (node == nullptr)
            return; // the list keeps what it could take; lookups fall back to the index
        static_assert(sizeof node->name == sizeof entry.name);
        std::copy(std::begin(entry.name), std::end(entry.name), node->name);
        node->offset = entry.offset;
        node->next = h->work;
        h->work = node;
    }
}

int32_t dral_best(dral_handle *h, const char *pattern) {
    if (h->work != nullptr) {
        const int32_t found = dral_worksearch(h->work, pattern);
        if (found >= 0)
            return found;
    }
    return dral_search(h, pattern);
}

} // extern "C"
