// idsample: prints one user identifier in the registry's five-digit form.
//
// Arguments are ignored. Exit status is the number of characters written
// (12), or 1 if the line could not be written.
#include <cstdio>

int main() {
    const int written = std::printf("sux0r %05d\n", 35);
    if (written < 0 || std::fflush(stdout) != 0)
        return 1;
    return written;
}
