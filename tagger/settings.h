// The tagger's one record of settings and run state, set up by the option
// pass and the configuration file, then read by every step of the pipeline.
#pragma once

#include <cstddef>

constexpr int kMaxKeywords = 40;
constexpr std::size_t kKeywordMax = 20;  // characters per keyword
constexpr std::size_t kTagTextMax = 52;  // characters of the tag line
constexpr std::size_t kSiteFileMax = 12; // characters of nfo and comment names
constexpr std::size_t kDizNameLen = 11;  // strlen("FILE_ID.DIZ")

struct TaggerSettings {
    const char *progname;
    char diztagtext[kTagTextMax + 1];
    int verbose;
    int siteop;
    int show_commands;
    int debug;
    int keyword_count;
    char nfo_name[kSiteFileMax + 1];
    char comment_name[kSiteFileMax + 1];
    int files_tagged;
    char keywords[kMaxKeywords][kKeywordMax + 1];
    char diz_name[kDizNameLen + 1];
};

extern TaggerSettings settings;

// Puts every field back to its value at program start.
void reset_settings();

// Copies at most max characters of src into dst (which holds max + 1) and
// terminates it.
void copy_limited(char *dst, const char *src, std::size_t max);
