// One archive listing through the description and keyword scan.
#include "discovery.h"
#include "fuzz_input.h"
#include "tagger_fuzz_settings.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_tagger_settings();
    std::FILE *in = open_input(data, size);
    if (!in)
        return 0;
    int result = scan_listing(in);
    std::fclose(in);
    // A name found is always the description's, in some letter case.
    if (result == kHasDescription && (std::strlen(settings.diz_name) != kDizNameLen ||
                                      strcasecmp(settings.diz_name, "FILE_ID.DIZ") != 0))
        std::abort();
    return 0;
}
