// In-place helpers for the text of configuration lines and archive listings.
#ifndef VELMO_TAGGER_TEXT_H
#define VELMO_TAGGER_TEXT_H

#include <cstddef>

// Bytes of the one buffer size the tagger reads text in: a line of the
// configuration file or of a description, a piece of a listing. A path it
// builds must fit it too. Longer lines are read in pieces, and a longer
// path is refused.
constexpr std::size_t kLineBuffer = 1024;

// Removes leading and trailing white space (isspace) and folds every inner
// run of it into one blank. Edits `text` in place and returns it; null gives
// null.
char *squeeze_spaces(char *text);

// Converts every character of `text` in place with toupper and returns it;
// null gives null.
char *str_upper(char *text);

#endif
