#include "listing_facts.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <strings.h>
#include <unistd.h>

namespace {

constexpr std::string_view kDescriptionName = "FILE_ID.DIZ";

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

void take_line(std::string_view line, ListingFacts *facts) {
    ++facts->lines;
    unsigned long long length;
    std::string_view name;
    if (parse_member_line(line, &length, &name) && name.size() == kDescriptionName.size() &&
        strncasecmp(name.data(), kDescriptionName.data(), name.size()) == 0) {
        facts->description_listed = true;
        facts->description_bytes += length;
    }
}

} // namespace

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

ListingFacts read_listing_facts(int fd) {
    ListingFacts facts;
    std::string line;
    char buffer[65536];
    long long offset = 0;
    char last = '\n';
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n') {
                take_line(line, &facts);
                line.clear();
            } else if (line.size() < 65536) {
                line += buffer[i];
            }
        }
        last = buffer[n - 1];
        offset += n;
    }
    if (!line.empty())
        take_line(line, &facts);
    const bool no_room = no_room_after(fd, offset, &facts.cut_error);
    if (!no_room)
        facts.cut_error = 0;
    facts.whole = !no_room && last == '\n';
    return facts;
}
