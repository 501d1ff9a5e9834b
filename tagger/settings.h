// The tagger's one record of settings and run state, set up by the option
// pass and the configuration file, then read by every step of the pipeline.
#ifndef VELMO_TAGGER_SETTINGS_H
#define VELMO_TAGGER_SETTINGS_H

#include "description_name.h"

#include <cstddef>

constexpr int kMaxKeywords = 40;
constexpr std::size_t kKeywordMax = 20;  // characters per keyword
constexpr std::size_t kTagTextMax = 52;  // characters of the tag line
constexpr std::size_t kSiteFileMax = 12; // characters of nfo and comment names

// The defaults are the values at program start: verbose mode, the site's
// own tag line, info file and comment file, no keywords.
struct TaggerSettings {
    const char *progname = "velmotag";
    char diztagtext[kTagTextMax + 1] = "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--";
    int verbose = 1;
    int siteop = 0;
    int show_commands = 0;
    int debug = 0;
    int keyword_count = 0;
    char nfo_name[kSiteFileMax + 1] = "zorv97.nfo";
    char comment_name[kSiteFileMax + 1] = "sitetag.asc";
    char keywords[kMaxKeywords][kKeywordMax + 1] = {};
    char diz_name[kDizNameLen + 1] = "";
};

extern TaggerSettings settings;

// Puts every field back to its value at program start.
void reset_settings();

// Copies at most max characters of src into dst (which holds max + 1) and
// terminates it.
void copy_limited(char *dst, const char *src, std::size_t max);

#endif
