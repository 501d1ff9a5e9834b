// One configuration file through the reader.
#include "config.h"
#include "fuzz_input.h"
#include "settings.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    reset_settings();
    settings.verbose = 0;
    std::FILE *in = open_input(data, size);
    if (!in)
        return 0;
    read_config_stream(in, "velmotag.conf");
    std::fclose(in);
    // Every text stays within its limit, and no keyword is empty.
    if (settings.keyword_count > kMaxKeywords || std::strlen(settings.diztagtext) > kTagTextMax ||
        std::strlen(settings.nfo_name) > kSiteFileMax ||
        std::strlen(settings.comment_name) > kSiteFileMax)
        std::abort();
    for (int k = 0; k < settings.keyword_count; ++k) {
        if (settings.keywords[k][0] == '\0' || std::strlen(settings.keywords[k]) > kKeywordMax)
            std::abort();
    }
    return 0;
}
