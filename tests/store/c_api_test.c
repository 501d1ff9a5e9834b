/* The library's interface used from C: this file is compiled as C against
 * draldb.h and linked with the library. Exits 0 when every check holds. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "draldb.h"

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);               \
            failures++;                                                                            \
        }                                                                                          \
    } while (0)

int main(void) {
    int failures = 0;
    char dir[] = "/tmp/draldb-c-XXXXXX";
    char path[64], index_path[64], buffer[16];
    if (mkdtemp(dir) == NULL)
        return 2;
    snprintf(path, sizeof path, "%s/store", dir);
    snprintf(index_path, sizeof index_path, "%s/store.dral", dir);

    dral_handle *h = dral_open(path);
    CHECK(h != NULL);
    if (h != NULL) {
        int32_t offset = dral_addrec(h, "greeting");
        CHECK(offset == 0);
        CHECK(dral_write(h, offset, 2, 5, "hello") == 5);
        CHECK(add_field(h, "00035", "age") == 13);
        CHECK(set_longfield(h, "00035", "age", 42) == 4);
        dral_terminate(h);
        CHECK(dral_search(h, "greet*") == 0);
        char *copy = dral_readstr_alloc(h, 0);
        CHECK(copy != NULL && strcmp(copy, "hello") == 0);
        free(copy);
        CHECK(dral_readstr(h, 0, buffer) == 1 && strcmp(buffer, "hello") == 0);
        CHECK(get_longfield(h, "00035", "age") == 42);
        CHECK(strcmp(dbfield("00035age"), "age") == 0);
        dral_close(h);
    }
    unlink(path);
    unlink(index_path);
    rmdir(dir);
    return failures == 0 ? 0 : 1;
}
