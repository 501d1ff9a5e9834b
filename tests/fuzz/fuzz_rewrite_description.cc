// One extracted description through the rewrite: line ends, short lines,
// widths and the tag line.
#include "fuzz_input.h"
#include "tagger_fuzz_settings.h"
#include "tagging.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_tagger_settings();
    settings.keyword_count = 1; // DIZ would stop most inputs early
    std::FILE *in = open_input(data, size);
    if (!in)
        return 0;
    rewrite_description(in, sink_stream());
    std::fclose(in);
    return 0;
}
