#include "name_match.h"

#include <algorithm>
#include <cstdlib>
#include <fnmatch.h>

namespace draldb {

NamePattern::NamePattern(const char *pattern)
    : pattern_(pattern), literal_length_(std::strcspn(pattern, "*?[\\")), kind_(Kind::Wildcards) {
    if (MB_CUR_MAX != 1)
        return; // mask_ 0: every stored name goes to fnmatch
    const char *rest = pattern + literal_length_;
    if (*rest == '\0')
        kind_ = Kind::Literal;
    else if (std::strcmp(rest, "*") == 0)
        kind_ = Kind::Prefix;

    if (kind_ == Kind::Literal && literal_length_ < kNameSize) {
        compare_first(literal_length_ + 1); // the name's NUL must follow
    } else if (kind_ != Kind::Wildcards && literal_length_ > kNameSize) {
        // Longer than any name: nothing passes (no bits can equal a set bit).
        mask_ = 0;
        masked_ = 1;
    } else {
        compare_first(std::min(literal_length_, kNameSize));
    }
}

void NamePattern::compare_first(size_t count) {
    unsigned char mask[kNameSize] = {};
    unsigned char wanted[kNameSize] = {};
    std::fill_n(mask, count, 0xff);
    // The pattern's terminator stands in for the name's NUL when count
    // reaches past the literal characters.
    std::copy_n(pattern_, std::min(count, literal_length_), wanted);
    mask_ = load(mask);
    masked_ = load(wanted);
}

bool NamePattern::fnmatch_stored(const unsigned char *name8) const {
    char name[kNameSize + 1];
    std::memcpy(name, name8, kNameSize);
    name[kNameSize] = '\0';
    return fnmatch(pattern_, name, 0) == 0;
}

bool NamePattern::matches(const char *name) const {
    switch (kind_) {
    case Kind::Literal:
        return std::strcmp(pattern_, name) == 0;
    case Kind::Prefix:
        return std::strncmp(pattern_, name, literal_length_) == 0;
    case Kind::Wildcards:
        break;
    }
    return fnmatch(pattern_, name, 0) == 0;
}

} // namespace draldb
