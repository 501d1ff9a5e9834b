// Settings for fuzzing the tagger's readers: quiet, with a few keywords so
// the keyword search runs on every chunk.
#ifndef VELMO_TESTS_FUZZ_TAGGER_FUZZ_SETTINGS_H
#define VELMO_TESTS_FUZZ_TAGGER_FUZZ_SETTINGS_H

#include "settings.h"

inline void fuzz_tagger_settings() {
    reset_settings();
    settings.verbose = 0;
    copy_limited(settings.keywords[0], "ZORV97", kKeywordMax);
    copy_limited(settings.keywords[1], "DIZ", kKeywordMax);
    settings.keyword_count = 2;
}

#endif
