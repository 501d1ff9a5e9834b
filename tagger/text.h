// In-place helpers for the text of configuration lines and archive listings.
#pragma once

// Removes leading and trailing white space (isspace) and folds every inner
// run of it into one blank. Edits `text` in place and returns it; null gives
// null.
char *squeeze_spaces(char *text);

// Converts every character of `text` in place with toupper and returns it;
// null gives null.
char *str_upper(char *text);
