#include "support/sample_text.h"

#include <random>

namespace velmo::test {

std::string text_of_width(std::size_t width, std::size_t offset) {
    constexpr std::size_t kLetters = 26;
    std::string line;
    while (line.size() < width)
        line += static_cast<char>('a' + (offset + line.size()) % kLetters);
    return line;
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

} // namespace velmo::test
