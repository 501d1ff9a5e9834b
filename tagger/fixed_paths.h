// The tagger's three fixed paths: its configuration directory and the two
// Info-ZIP programs it starts, and the directory of its temporary files.
// They are chosen when the program is built (CMake cache variables
// VELMOTAG_CONF_DIR, VELMOTAG_UNZIP_PATH, VELMOTAG_ZIP_PATH and
// VELMOTAG_TMP_DIR); the product uses the site's hidden tool directory and
// /tmp.
#pragma once

extern const char *const CONF_DIR;
extern const char *const UNZIP_PATH;
extern const char *const ZIP_PATH;
extern const char *const TMP_DIR;
