// Matching of index names against shell patterns, as fnmatch does with no
// flags. A pattern without any of * ? [ \ is compared bytewise, which in a
// single-byte locale is exactly what fnmatch does with it; in a multibyte
// locale every pattern goes through fnmatch, which may treat bytes that are no
// valid character differently.
#ifndef DRALDB_NAME_MATCH_H
#define DRALDB_NAME_MATCH_H

namespace draldb {

class NamePattern {
  public:
    explicit NamePattern(const char *pattern);
    // name: a terminated index name, as IndexEntry and dral_worknode hold it.
    bool matches(const char *name) const;
    bool compared_bytewise() const { return literal_; }

  private:
    const char *pattern_;
    bool literal_;
};

} // namespace draldb

#endif
