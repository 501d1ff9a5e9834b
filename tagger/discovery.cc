#include "discovery.h"

#include "config.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "text.h"

#include <cstring>
#include <strings.h>

namespace {

// Copies the rightmost description name in the chunk into diz_name, in the
// chunk's own letter case. A name split across two chunks is not found.
void find_description_name(const char *chunk) {
    std::size_t length = std::strlen(chunk);
    for (std::size_t i = 0; i + kDizNameLen <= length; ++i) {
        if (strncasecmp(chunk + i, kDescriptionName, kDizNameLen) == 0)
            std::memcpy(settings.diz_name, chunk + i, kDizNameLen);
    }
}

} // namespace

int scan_listing(std::FILE *listing) {
    char chunk[kLineBuffer];
    while (std::fgets(chunk, sizeof chunk, listing)) {
        find_description_name(chunk);
        str_upper(chunk);
        if (const char *keyword = keyword_in(chunk)) {
            say("keyword '%s' found in '%s'\n", keyword, chunk);
            return kListingRejected;
        }
    }
    settings.diz_name[kDizNameLen] = '\0';
    return settings.diz_name[0] ? kHasDescription : kNoDescription;
}

namespace {

int scan_stream(const char *listing_path, velmo::FilePtr listing) {
    trace("BEGIN get_dizname( %s )\n", listing_path);
    settings.diz_name[0] = '\0';
    if (!listing) {
        report_open_error("error!\n%s: opening '%s': %s\n", listing_path);
        trace("LEAVING[1] get_dizname( %s )\n", listing_path);
        return kListingRejected;
    }
    int result = scan_listing(listing.get());
    listing.reset();
    if (result == kListingRejected) {
        note_outcome(Outcome::AlreadyTagged); // a keyword is what rejects a listing
        trace("LEAVING[2] get_dizname( %s )\n", listing_path);
        return result;
    }
    trace("LEAVING get_dizname( %s )\n", listing_path);
    return result;
}

} // namespace

int get_dizname(const char *listing_path) {
    return scan_stream(listing_path, velmo::open_file(listing_path, "r"));
}

int get_dizname(const char *listing_path, const FileSnapshot &listing) {
    return scan_stream(listing_path, listing.stream());
}
