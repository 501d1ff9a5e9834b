#include "name_match.h"

#include <cstdlib>
#include <cstring>
#include <fnmatch.h>

namespace draldb {

NamePattern::NamePattern(const char *pattern)
    : pattern_(pattern), literal_length_(std::strcspn(pattern, "*?[\\")), kind_(Kind::Wildcards) {
    if (MB_CUR_MAX != 1)
        return;
    const char *rest = pattern + literal_length_;
    if (*rest == '\0')
        kind_ = Kind::Literal;
    else if (std::strcmp(rest, "*") == 0)
        kind_ = Kind::Prefix;
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
