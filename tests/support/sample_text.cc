#include "support/sample_text.h"

namespace velmo::test {

std::string text_of_width(std::size_t width, std::size_t offset) {
    constexpr std::size_t kLetters = 26;
    std::string line;
    while (line.size() < width)
        line += static_cast<char>('a' + (offset + line.size()) % kLetters);
    return line;
}

} // namespace velmo::test
