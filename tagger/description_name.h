// The name of an archive's description member. The archivers match it in
// any letter case; the tagger writes it back as the listing spells it.
#ifndef VELMO_TAGGER_DESCRIPTION_NAME_H
#define VELMO_TAGGER_DESCRIPTION_NAME_H

#include <cstddef>

constexpr char kDescriptionName[] = "FILE_ID.DIZ";
constexpr std::size_t kDizNameLen = sizeof kDescriptionName - 1;

#endif
