#include "listing_facts.h"

#include "description_name.h"
#include "fd_io.h"
#include "little_endian.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <unistd.h>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// The next blank-separated field of `line` from *at, moving *at past it.
std::string_view next_field(std::string_view line, std::size_t *at) {
    std::size_t start = *at;
    while (start < line.size() && is_blank(line[start]))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !is_blank(line[end]))
        ++end;
    *at = end;
    return line.substr(start, end - start);
}

bool all_digits(std::string_view field) {
    if (field.empty())
        return false;
    for (char c : field) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Splits one listing line (without its line feed). Returns false for a line
// that is not a member line.
bool parse_member_line(std::string_view line, unsigned long long *length, std::string_view *name) {
    std::size_t at = 0;
    std::string_view fields[7];
    for (std::string_view &field : fields) {
        field = next_field(line, &at);
        if (field.empty())
            return false;
    }
    if (!all_digits(fields[0]) || !all_digits(fields[2]) || fields[6].size() != 8)
        return false;
    if (line.substr(at, 2) != "  " || at + 2 >= line.size())
        return false;
    *length = std::strtoull(std::string(fields[0]).c_str(), nullptr, 10);
    *name = line.substr(at + 2);
    return true;
}

// True when writing one more byte at `size` into `fd` fails for want of
// room (*error set); the file is left `size` bytes long.
bool no_room_after(int fd, long long size, int *error) {
    const char byte = 0;
    if (pwrite(fd, &byte, 1, size) == 1) {
        // The listing has been read already; a stray byte left at its end
        // would change nothing.
        if (ftruncate(fd, size) != 0) {
        }
        return false;
    }
    *error = errno;
    return errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
}

void take_line(std::string_view line, ListingFacts *facts) {
    ++facts->lines;
    unsigned long long length;
    std::string_view name;
    if (parse_member_line(line, &length, &name) && name.size() == kDizNameLen &&
        strncasecmp(name.data(), kDescriptionName, kDizNameLen) == 0) {
        facts->description_listed = true;
        facts->description_bytes += length;
    }
}

} // namespace

bool read_zip_directory(int fd, ZipDirectory *directory) {
    unsigned long long *count = &directory->members;
    constexpr long long kRecord = 22; // the end record without its comment
    constexpr long long kLongestComment = 65535;
    const long long size = lseek(fd, 0, SEEK_END);
    if (size < kRecord)
        return false;
    const long long tail = size < kRecord + kLongestComment ? size : kRecord + kLongestComment;
    std::string bytes(static_cast<std::size_t>(tail), '\0');
    unsigned char *data = reinterpret_cast<unsigned char *>(bytes.data());
    if (!read_fully(fd, data, bytes.size(), size - tail))
        return false;
    // The record whose comment reaches exactly to the end of the file, as
    // unzip finds it.
    for (long long at = tail - kRecord; at >= 0; --at) {
        const unsigned char *record = data + at;
        if (record[0] != 'P' || record[1] != 'K' || record[2] != 5 || record[3] != 6 ||
            at + kRecord + static_cast<long long>(read_le(record + 20, 2)) != tail)
            continue;
        *count = read_le(record + 10, 2);
        directory->bytes = read_le(record + 12, 4);
        directory->end_at = static_cast<unsigned long long>(size - tail + at);
        if (*count != 0xFFFF && directory->bytes != 0xFFFFFFFF)
            return true;
        // ZIP64: a locator just before the record points at the ZIP64 end
        // record, which holds the count and the size in eight bytes each.
        unsigned char locator[20], zip64[48];
        const long long locator_at = size - tail + at - 20;
        if (locator_at < 0 || !read_fully(fd, locator, sizeof locator, locator_at) ||
            read_le(locator, 4) != 0x07064b50)
            return true;
        const long long zip64_at = static_cast<long long>(read_le(locator + 8, 8));
        if (!read_fully(fd, zip64, sizeof zip64, zip64_at) || read_le(zip64, 4) != 0x06064b50)
            return false;
        *count = read_le(zip64 + 32, 8);
        directory->bytes = read_le(zip64 + 40, 8);
        directory->end_at = static_cast<unsigned long long>(zip64_at);
        return true;
    }
    return false;
}

bool read_member_names(int fd, std::vector<MemberName> *names, unsigned long long max_bytes) {
    ZipDirectory directory;
    if (!read_zip_directory(fd, &directory) || directory.bytes > max_bytes ||
        directory.bytes > directory.end_at)
        return false;
    // Measured back from its end record, as unzip finds the directory of
    // an archive with bytes before it.
    std::string bytes(static_cast<std::size_t>(directory.bytes), '\0');
    unsigned char *data = reinterpret_cast<unsigned char *>(bytes.data());
    if (!read_fully(fd, data, bytes.size(),
                    static_cast<long long>(directory.end_at - directory.bytes)))
        return false;
    constexpr std::size_t kEntryHead = 46;
    names->clear();
    std::size_t at = 0;
    while (at + kEntryHead <= bytes.size() && read_le(data + at, 4) == 0x02014b50) {
        const std::size_t name_length = read_le(data + at + 28, 2);
        const std::size_t extra_length = read_le(data + at + 30, 2);
        const std::size_t rest = name_length + extra_length + read_le(data + at + 32, 2);
        if (rest > bytes.size() - at - kEntryHead)
            return false;
        MemberName member{bytes.substr(at + kEntryHead, name_length), false};
        // The extra field: blocks of a 2-byte id, a 2-byte length and data.
        const unsigned char *extra = data + at + kEntryHead + name_length;
        for (std::size_t i = 0; i + 4 <= extra_length;
             i += 4 + static_cast<std::size_t>(read_le(extra + i + 2, 2))) {
            if (read_le(extra + i, 2) == 0x7075)
                member.unicode_path = true;
        }
        names->push_back(std::move(member));
        at += kEntryHead + rest;
    }
    return at == bytes.size() && names->size() == directory.members;
}

ListingFacts read_listing_facts(std::string_view listing, int fd) {
    ListingFacts facts;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string_view::npos)
            end = listing.size();
        take_line(listing.substr(start, std::min<std::size_t>(end - start, 65536)), &facts);
        start = end + 1;
    }
    const long long size = static_cast<long long>(listing.size());
    const bool no_room = no_room_after(fd, size, &facts.cut_error);
    if (!no_room)
        facts.cut_error = 0;
    facts.whole = !no_room && (listing.empty() || listing.back() == '\n');
    return facts;
}

long long listing_limit(const ZipDirectory &directory) {
    constexpr long long kLineNumbers = 256; // the fields before the name, generously
    constexpr long long kSlack = 64 * 1024;
    const unsigned long long names = std::min<unsigned long long>(directory.bytes, 1ULL << 40);
    const unsigned long long members = std::min<unsigned long long>(directory.members, 1ULL << 32);
    return 4 * static_cast<long long>(names) + kLineNumbers * static_cast<long long>(members) +
           kSlack;
}
