// The site's settings file, CONF_DIR/velmotag.conf: keywords that mark an
// archive already tagged, the tag line, and the info and comment file names.
#ifndef VELMO_TAGGER_CONFIG_H
#define VELMO_TAGGER_CONFIG_H

#include <cstdio>
#include <string>

// Reads CONF_DIR/velmotag.conf into `settings`. Returns 0 when the file was
// read to its end, 1 when it cannot be opened (reported by mode; every
// setting then keeps its value).
int read_datafile();

// True when a keyword occurs in `text`, in any letter case.
bool holds_keyword(std::string text);
// The first keyword that occurs in `upper`, a text in upper case already;
// null when none does.
const char *keyword_in(const char *upper);

// In siteop mode nothing is tagged that a later run would not know as
// tagged, lest marks pile up pass after pass: why an archive (with a
// description or without) must not be changed, or "" when it may. The
// keywords must occur in what the run adds to it: the tag line, or the
// info file's name velmo97.nfo, whose listing line a later run reads.
std::string why_mark_unknown(bool has_description);

// Applies every line of an open configuration stream to `settings`.
// `conf_path` names the file in the too-many-keywords warning.
void read_config_stream(std::FILE *conf, const char *conf_path);

// Applies one configuration line (edited in place) to `settings`.
void apply_config_line(char *line, const char *conf_path);

#endif
