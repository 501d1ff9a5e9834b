// Settings for fuzzing the tagger's readers: quiet, with a few keywords so
// the keyword search runs on every chunk.
#pragma once

#include "settings.h"

inline void fuzz_tagger_settings() {
    reset_settings();
    settings.verbose = 0;
    copy_limited(settings.keywords[0], "ZORV97", kKeywordMax);
    copy_limited(settings.keywords[1], "DIZ", kKeywordMax);
    settings.keyword_count = 2;
}
