/* A library user's C program, built against the installed tree through
 * pkg-config: a field written, terminated, read back; a registry record
 * appended and looked up. Prints "alice 00035" and exits 0 when all holds. */
#include <draldb.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    char store[512], registry[512], name[6], id[6];
    if (argc != 2)
        return 2;
    if (snprintf(store, sizeof store, "%s/users.db", argv[1]) >= (int)sizeof store ||
        snprintf(registry, sizeof registry, "%s/users.reg", argv[1]) >= (int)sizeof registry)
        return 2;

    dral_handle *h = dral_open(store);
    if (h == NULL)
        return 1;
    int ok = add_field(h, "00035", "nam") == 0 && set_strfield(h, "00035", "nam", "alice", 5) == 5;
    dral_terminate(h);
    ok = ok && get_strfield(h, "00035", "nam", name) == 1 && strcmp(name, "alice") == 0;
    dral_close(h);

    ok = ok && write_id(registry, name, 35) == 0;
    /* The lookup prints its "Chexoring" line on standard output. */
    ok = ok && uname_to_id(registry, "alice", id) == 1;
    if (!ok)
        return 1;
    printf("%s %s\n", name, id);
    return 0;
}
