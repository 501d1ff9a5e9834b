/* draldb: a store of typed blocks with an index of 8-byte names, per-user
 * fields kept in such a store, and a plain-text registry of user identifiers.
 *
 * A store is a data file of blocks and an index file at the same path with
 * ".dral" appended; their byte layout is written down in draldb(3) (FILES).
 * Offsets, sizes and type codes are 32-bit signed; -1 means "not found".
 * Memory handed to the caller is released with free(); the handle and its
 * working list are released by dral_close only. Nothing here is thread-safe.
 * Every function taking a handle, node, name, pattern or buffer requires it
 * to be non-null unless its comment says otherwise. */
#ifndef DRALDB_H
#define DRALDB_H

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One entry picked into a handle's working list by dral_work. */
typedef struct dral_worknode {
    char name[9]; /* the entry's name, at most 8 bytes, always terminated */
    int32_t offset;
    struct dral_worknode *next;
} dral_worknode;

/* One open store. The streams and the list belong to the handle; `end` is
 * where the next index entry or the end marker goes, -1 until found. */
typedef struct dral_handle {
    FILE *data;
    FILE *index;
    dral_worknode *work;
    int32_t end;
} dral_handle;

/* ---- Store ---- */

/* Creates or empties the index (path + ".dral"), then the data file at path.
 * Returns a new handle with an empty working list, or NULL if either file
 * cannot be opened (the index may already be emptied). Release: dral_close. */
dral_handle *dral_open(const char *path);

/* Closes both files and releases the working list and the handle itself;
 * NULL is ignored. Write errors that only show when closing are not reported. */
void dral_close(dral_handle *h);

/* Positions the data file at its end and the index at `end`, reading the
 * index for its end marker (or its end) first while `end` is -1. */
void dral_seekend(dral_handle *h);

/* Appends an index entry of the 8 bytes at name8 (NUL-filled by the caller)
 * pointing at the data file's current end, and returns that offset. Returns
 * -1 and adds nothing when that offset would pass 2^31 - 1 or cannot be written. */
int32_t dral_addrec(dral_handle *h, const char *name8);

/* Writes the end marker at `end` and flushes both files. `end` does not move,
 * so the next dral_addrec writes over the marker. */
void dral_terminate(dral_handle *h);

/* Writes a whole block (type, size, then size bytes of payload) at offset and
 * returns the payload bytes written; 0, writing nothing, for a negative offset
 * or size, a NULL payload with size > 0, or a failed seek or header write. */
int32_t dral_write(dral_handle *h, int32_t offset, int32_t type, int32_t size, const void *payload);

/* Rewrites the header of the block at offset, payload untouched; a type or
 * size of -1 leaves that field as it is. A negative offset writes nothing. */
void dral_hdr(dral_handle *h, int32_t offset, int32_t type, int32_t size);

/* ---- Lookup: fnmatch patterns, no flags, against the name's bytes before
 * its first NUL (line feeds included) ---- */

/* Returns the data offset of the first entry in index order whose name
 * matches pattern, or -1 if none does. */
int32_t dral_search(dral_handle *h, const char *pattern);

/* Puts a node for every matching entry at the front of the working list, so
 * a later entry stands before an earlier one; nodes already there stay behind. */
void dral_work(dral_handle *h, const char *pattern);

/* Releases every node of the working list; the list is then empty. */
void dral_workdone(dral_handle *h);

/* Returns the offset of the first node from node on (following next) whose
 * name matches pattern; -1 if none does or node is NULL. */
int32_t dral_worksearch(dral_worknode *node, const char *pattern);

/* Searches the working list first (the latest matching entry wins), then the
 * index (the first matching entry wins). Returns the offset, or -1. */
int32_t dral_best(dral_handle *h, const char *pattern);

/* Walks the working list: *cursor starts NULL; each call returns the next
 * node (NULL on an empty list) and leaves *cursor NULL after the last one. */
dral_worknode *dral_workiter(dral_handle *h, dral_worknode **cursor);

/* Returns the node's terminated name, owned by the node. */
const char *dral_workname(const dral_worknode *node);

/* Returns the node's data offset. */
int32_t dral_workpoint(const dral_worknode *node);

/* ---- Reading blocks ---- */

/* Returns a terminated copy of the string block (type 2) at offset, or NULL
 * if it is not one or holds no byte. If the file ends inside the payload the
 * copy holds the bytes there are. The caller frees it. */
char *dral_readstr_alloc(dral_handle *h, int32_t offset);

/* Copies the string block at offset into buffer, which must hold datasize + 1
 * bytes, terminated; returns 1, or 0 with buffer untouched on the failures of
 * dral_readstr_alloc. Bytes the file lacks are zero-filled up to the terminator. */
int dral_readstr(dral_handle *h, int32_t offset, char *buffer);

/* Returns the number in the block at offset (its type is not checked; at most
 * 4 payload bytes are read, missing high bytes are 0). Returns -1 when no
 * payload byte can be read, as lookups do; a stored -1 reads the same. */
int32_t dral_readlong(dral_handle *h, int32_t offset);

/* Stores the block's type and size and a malloc'ed copy of its payload (NULL
 * if empty); *size is cut to the bytes the file holds, never more than are at
 * *payload. Unreadable header: type and size -1, NULL. The caller frees it. */
void dral_readraw(dral_handle *h, int32_t offset, int32_t *type, int32_t *size, void **payload);

/* ---- Fields: key = uid (at most 5 characters) + field (at most 3), looked up
 * as key + "*" through dral_best ---- */

/* Appends the field's index entry at the data file's end and returns its
 * offset (write the value next, with a set call); -1 as dral_addrec. */
int32_t add_field(dral_handle *h, const char *uid, const char *field);

/* Writes a string block of length bytes of value at the field's offset and
 * returns length; 0, writing nothing, if no entry matches, length is negative,
 * or the block would outgrow the one there while another block follows it. */
int32_t set_strfield(dral_handle *h, const char *uid, const char *field, const char *value,
                     int32_t length);

/* Writes a number block holding value at the field's offset; returns 4, or 0
 * as set_strfield does. */
int32_t set_longfield(dral_handle *h, const char *uid, const char *field, int32_t value);

/* Reads the field's string into buffer (stored length + 1 bytes) with
 * dral_readstr; returns 1, or 0 if no entry matches or the read fails. */
int get_strfield(dral_handle *h, const char *uid, const char *field, char *buffer);

/* Returns the field's number as dral_readlong reads it; -1 if no entry
 * matches, the same "nothing" value as lookups and dral_readlong. */
int32_t get_longfield(dral_handle *h, const char *uid, const char *field);

/* Returns the key's first 5 characters (the user identifier), terminated, in
 * a static buffer that the next dbuid call overwrites. */
const char *dbuid(const char *key);

/* Returns the key's characters 6 to 8 (the field name), terminated, in a
 * static buffer that the next dbfield call overwrites. */
const char *dbfield(const char *key);

/* ---- Registry: a text file of "%s\n%05d\n" records (name, identifier) ---- */

/* Appends name (cut to 12 characters) and id in one write; returns 0, or
 * non-zero, writing nothing, for an id outside 0..99999, a name holding a line
 * feed, or a file that cannot be opened; non-zero too if writing or closing fails. */
int write_id(const char *path, const char *name, int32_t id);

/* Prints "Chexoring: <name> <id>\n" for each record it compares; on the first
 * record named name stores its 5-character id and terminator in id_out (6
 * bytes) and returns 1. Returns 0, id_out untouched, if none matches or the
 * file cannot be opened (then nothing is printed). */
int uname_to_id(const char *path, const char *name, char *id_out);

/* Returns one more than the largest identifier in the registry; 0 for a
 * registry without records or one that cannot be opened. */
int32_t next_id(const char *path);

#ifdef __cplusplus
}
#endif

#endif /* DRALDB_H */
