#include "name_match.h"

#include <cstdlib>
#include <cstring>
#include <fnmatch.h>

namespace draldb {

NamePattern::NamePattern(const char *pattern)
    : pattern_(pattern), literal_(MB_CUR_MAX == 1 && std::strpbrk(pattern, "*?[\\") == nullptr) {}

bool NamePattern::matches(const char *name) const {
    if (literal_)
        return std::strcmp(pattern_, name) == 0;
    return fnmatch(pattern_, name, 0) == 0;
}

} // namespace draldb
