// The index lister's listing: one line per index entry of a store
// (docs/store-format.md), optionally with the type and size of the block that
// each entry points at.
//
// Each entry prints as "DRAL <n>: name: <name> (data offset <offset>)", with
// details "( datatype <type> datasize <size> )" directly after it, and a line
// feed. The name's bytes are printed as they stand, so a name holding a line
// feed breaks the line. The end marker prints "DRALEND detected.".
#ifndef VELMO_TOOLS_DRALLIST_H
#define VELMO_TOOLS_DRALLIST_H

#include <cstdio>

enum class DrallistStatus {
    complete,         // listed up to the end marker, every detail read
    bad_format,       // the index ended before its end marker
    bad_block_header, // listed up to the end marker, but some block header was unreadable
    output_failed,    // a write to the output failed; the listing stopped
};

// Lists the entries of `index` on `out`. With `data` non-null, reads each
// entry's block header from it and adds the details; an entry whose header
// cannot be read (a negative offset, or a data file that ends inside or
// before the header) gets a detail text that says so instead of numbers.
//
// When the index ends before its end marker, the entries up to that point are
// listed and then "Bad .dral format." is printed. Nothing past the end marker
// is read. The output is flushed to `out` before returning.
DrallistStatus drallist_list(std::FILE *index, std::FILE *data, std::FILE *out);

#endif
