// Matching of index names against shell patterns, as fnmatch does with no
// flags. Two common forms skip fnmatch: a pattern without any of * ? [ \ is
// compared bytewise, and one whose only such character is a single "*" at its
// end (the field lookups' form) is compared as a prefix. In a single-byte
// locale that is exactly what fnmatch does with them; in a multibyte locale
// every pattern goes through fnmatch, which may treat bytes that are no valid
// character differently.
//
// The index scans match the 8 stored name bytes without decoding them: a
// bytewise form is then one masked 8-byte comparison, and the other patterns
// first have the characters before their first wildcard compared the same
// way, since fnmatch matches those only by themselves.
#ifndef VELMO_STORE_NAME_MATCH_H
#define VELMO_STORE_NAME_MATCH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store_format.h"

namespace draldb {

class NamePattern {
  public:
    explicit NamePattern(const char *pattern);
    // name: a terminated index name, as IndexEntry and dral_worknode hold it.
    bool matches(const char *name) const;
    // name8: a name's kNameSize bytes as the index stores them (NUL-filled, or
    // all 8 used). Same answer as matches() on the name they hold.
    bool matches_stored(const unsigned char *name8) const {
        if ((load(name8) & mask_) != masked_)
            return false;
        return kind_ != Kind::Wildcards || fnmatch_stored(name8);
    }
    bool compared_bytewise() const { return kind_ != Kind::Wildcards; }

  private:
    enum class Kind { Literal, Prefix, Wildcards };

    static uint64_t load(const unsigned char *bytes) {
        uint64_t value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    // Sets mask_ and masked_ so that a stored name passes when its first
    // `count` bytes are the pattern's first `count` bytes (count <= 8).
    void compare_first(size_t count);
    bool fnmatch_stored(const unsigned char *name8) const;

    const char *pattern_;
    size_t literal_length_; // bytes before the first wildcard character
    Kind kind_;
    // A stored name can match only if (its 8 bytes & mask_) == masked_; for
    // the bytewise forms that is the whole answer.
    uint64_t mask_ = 0;
    uint64_t masked_ = 0;
};

} // namespace draldb

#endif
