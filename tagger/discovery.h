// Finding the description member in an archive's listing, and the keywords
// that mark an archive already tagged.
#ifndef VELMO_TAGGER_DISCOVERY_H
#define VELMO_TAGGER_DISCOVERY_H

#include "file_snapshot.h"

#include <cstdio>

// Result of scanning a listing.
constexpr int kListingRejected = -1; // unreadable, or a keyword was found
constexpr int kNoDescription = 0;
constexpr int kHasDescription = 1;

// Scans the listing file at `listing_path`. Leaves the member's name as the
// listing spells it (last occurrence wins) in `settings.diz_name`, empty
// when there is none. Returns kHasDescription, kNoDescription, or
// kListingRejected (diz_name then not to be used).
int get_dizname(const char *listing_path);

// The same scan over `listing`, what the listing file held when it was
// read; `listing_path` names it in the trace and messages.
int get_dizname(const char *listing_path, const FileSnapshot &listing);

// The scan itself, over an open listing stream: every 1023-byte chunk is
// searched for the name, then upper-cased and searched for the keywords.
// Returns kListingRejected at the first keyword (reported in verbose mode),
// else kHasDescription or kNoDescription. Does not close `listing`.
int scan_listing(std::FILE *listing);

#endif
