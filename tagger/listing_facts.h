// What the tagger needs to know of an archive's listing besides what
// description discovery finds: whether unzip's output is whole, and how
// long the description member is. The listing is the output of "unzip -v"
// with -qq: one line per member, "LENGTH METHOD SIZE CMPR DATE TIME CRC
// NAME", the name after two blanks.
#ifndef VELMO_TAGGER_LISTING_FACTS_H
#define VELMO_TAGGER_LISTING_FACTS_H

#include <string>
#include <string_view>
#include <vector>

struct ListingFacts {
    long long lines = 0;             // one per member
    bool whole = false;              // ends with a line feed, and more would have fitted
    int cut_error = 0;               // why more would not have fitted (ENOSPC, EFBIG, ...)
    bool description_listed = false; // a member named FILE_ID.DIZ (any case), not in a directory
    unsigned long long description_bytes =
        0; // their lengths together, as unzip -C extracts them all
};

// Reads the facts of `listing`, the contents of the listing file `fd`.
// unzip exits 0 even when its output could not be written whole (a full
// temporary directory, a file size limit), so the check ends by trying to
// write one byte more at the listing's end in `fd` (and cutting it off
// again).
ListingFacts read_listing_facts(std::string_view listing, int fd);

// What a ZIP archive's end-of-central-directory record (or the ZIP64 one
// it points to) says: how many members it holds, which is the number of
// lines a whole listing has, how many bytes their entries take, and where
// in the file that record (which follows the entries) begins.
struct ZipDirectory {
    unsigned long long members = 0;
    unsigned long long bytes = 0;
    unsigned long long end_at = 0;
};

// Reads the record from the archive in `fd`. Returns false when it cannot
// be found where a ZIP archive has it (unzip then judges).
bool read_zip_directory(int fd, ZipDirectory *directory);

// The most bytes unzip's listing of an archive with `directory` can take:
// a line per member, its name (from the directory's bytes) at most spelt
// out four times over in escapes, and its numbers.
long long listing_limit(const ZipDirectory &directory);

// A member's name as the archive's central directory holds it, and whether
// its entry carries a Unicode path of its own (Info-ZIP's extra field
// 0x7075), which unzip shows in its place.
struct MemberName {
    std::string name;
    bool unicode_path = false;
};

// The names of the members of the archive in `fd`, read through `fd`
// alone. Returns false when the directory is not whole where its end
// record puts it, or names another number of members, or is larger than
// `max_bytes`.
bool read_member_names(int fd, std::vector<MemberName> *names, unsigned long long max_bytes);

#endif
