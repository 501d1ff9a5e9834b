// Matching of index names against shell patterns, as fnmatch does with no
// flags. Two common forms skip fnmatch: a pattern without any of * ? [ \ is
// compared bytewise, and one whose only such character is a single "*" at its
// end (the field lookups' form) is compared as a prefix. In a single-byte
// locale that is exactly what fnmatch does with them; in a multibyte locale
// every pattern goes through fnmatch, which may treat bytes that are no valid
// character differently.
#ifndef DRALDB_NAME_MATCH_H
#define DRALDB_NAME_MATCH_H

#include <cstddef>

namespace draldb {

class NamePattern {
  public:
    explicit NamePattern(const char *pattern);
    // name: a terminated index name, as IndexEntry and dral_worknode hold it.
    bool matches(const char *name) const;
    bool compared_bytewise() const { return kind_ != Kind::Wildcards; }

  private:
    enum class Kind { Literal, Prefix, Wildcards };

    const char *pattern_;
    size_t literal_length_; // bytes before the first wildcard character
    Kind kind_;
};

} // namespace draldb

#endif
