#include "settings.h"

#include <cstring>

TaggerSettings settings;

namespace {
// Runs before main so the record never holds anything but a valid state.
struct InitialSettings {
    InitialSettings() { reset_settings(); }
} initial_settings;
} // namespace

void copy_limited(char *dst, const char *src, std::size_t max) {
    std::size_t n = strnlen(src, max);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void reset_settings() {
    settings = TaggerSettings{};
    settings.progname = "velmotag";
    copy_limited(settings.diztagtext, "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--",
                 kTagTextMax);
    settings.verbose = 1;
    copy_limited(settings.nfo_name, "zorv97.nfo", kSiteFileMax);
    copy_limited(settings.comment_name, "sitetag.asc", kSiteFileMax);
}
