// Shared by the store tests: a fresh store in a temporary directory of its
// own, removed afterwards, and whole-file reads of its two files (files and
// directories through the shared test helpers, tests/support).
#ifndef VELMO_TESTS_STORE_STORE_TEST_SUPPORT_H
#define VELMO_TESTS_STORE_STORE_TEST_SUPPORT_H

#include <cstdio>
#include <string>

#include "draldb.h"
#include "support/files.h"
#include "support/store_bytes.h"
#include "support/temp_dir.h"

using velmo::test::le32;
using velmo::test::read_file;
using velmo::test::TempDir;
using velmo::test::write_file;

// An index name as dral_addrec takes it: 8 bytes, NUL-filled.
inline std::string name8(const std::string &name) {
    std::string bytes = name;
    bytes.resize(8, '\0');
    return bytes;
}

struct TempStore {
    TempDir dir;
    std::string path = dir.path("store");
    dral_handle *h = dral_open(path.c_str());
    ~TempStore() { dral_close(h); }

    std::string data() const { return std::fflush(h->data), read_file(path); }
    std::string index() const { return std::fflush(h->index), read_file(path + ".dral"); }

    // Adds an entry and its block the way callers are meant to: entry first,
    // then the block at the offset the entry recorded.
    int32_t add(const std::string &name, int32_t type, const std::string &payload) {
        const int32_t offset = dral_addrec(h, name8(name).data());
        dral_write(h, offset, type, static_cast<int32_t>(payload.size()), payload.data());
        return offset;
    }
};

#endif
