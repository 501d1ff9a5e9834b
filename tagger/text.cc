#include "text.h"

#include <cctype>

char *squeeze_spaces(char *text) {
    if (!text)
        return nullptr;
    char *read = text;
    char *write = text;
    for (;;) {
        while (*read && std::isspace(static_cast<unsigned char>(*read)))
            ++read;
        if (!*read)
            break;
        if (write != text)
            *write++ = ' ';
        while (*read && !std::isspace(static_cast<unsigned char>(*read)))
            *write++ = *read++;
    }
    *write = '\0';
    return text;
}

char *str_upper(char *text) {
    if (!text)
        return nullptr;
    for (char *p = text; *p; ++p)
        *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return text;
}
