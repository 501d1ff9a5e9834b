#include "settings.h"

#include <cstring>

TaggerSettings settings;

void copy_limited(char *dst, const char *src, std::size_t max) {
    std::size_t n = strnlen(src, max);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void reset_settings() {
    settings = TaggerSettings{};
}
