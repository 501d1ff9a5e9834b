// What the tagger needs to know of an archive's listing besides what
// description discovery finds: whether unzip's output is whole, and how
// long the description member is. The listing is the output of "unzip -v"
// with -qq: one line per member, "LENGTH METHOD SIZE CMPR DATE TIME CRC
// NAME", the name after two blanks.
#ifndef VELMO_TAGGER_LISTING_FACTS_H
#define VELMO_TAGGER_LISTING_FACTS_H

#include <string_view>

struct ListingFacts {
    long long lines = 0;             // one per member
    bool whole = false;              // ends with a line feed, and more would have fitted
    int cut_error = 0;               // why more would not have fitted (ENOSPC, EFBIG, ...)
    bool description_listed = false; // a member named FILE_ID.DIZ (any case), not in a directory
    unsigned long long description_bytes =
        0; // their lengths together, as unzip -C extracts them all
};

// Reads the listing in the file `fd` from its start. unzip exits 0 even when
// its output could not be written whole (a full temporary directory, a file
// size limit), so the check ends by trying to write one byte more at the
// listing's end (and cutting it off again).
ListingFacts read_listing_facts(int fd);

// The number of members that the ZIP archive in `fd` says it holds, from
// its end-of-central-directory record (or the ZIP64 one it points to): the
// number of lines a whole listing has. Returns false when the record
// cannot be found where a ZIP archive has it (unzip then judges).
bool zip_member_count(int fd, unsigned long long *count);

#endif
