#include "fixed_paths.h"

// Compiled once per tagger binary, so that the test build can point the same
// code at a site root inside the build tree.
#ifndef VELMOTAG_CONF_DIR
#error "VELMOTAG_CONF_DIR must be defined by the build"
#endif

const char *const CONF_DIR = VELMOTAG_CONF_DIR;
const char *const UNZIP_PATH = VELMOTAG_UNZIP_PATH;
const char *const ZIP_PATH = VELMOTAG_ZIP_PATH;
const char *const TMP_DIR = VELMOTAG_TMP_DIR;
const char *const STATE_DIR = VELMOTAG_STATE_DIR;
const long long DIZ_MAX = VELMOTAG_DIZ_MAX;
const int LOCK_WAIT_SECONDS = VELMOTAG_LOCK_WAIT;
const int CHILD_CPU_SECONDS = VELMOTAG_CHILD_CPU;
const int CHILD_TIME_SECONDS = VELMOTAG_CHILD_TIME;
