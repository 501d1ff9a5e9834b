// The working list: entries that dral_work picked from the index, kept in
// memory so that dral_best can find them without another scan.
#include "draldb.h"
#include "name_match.h"

using draldb::NamePattern;

extern "C" {

void dral_workdone(dral_handle *h) {
    while (h->work != nullptr) {
        dral_worknode *next = h->work->next;
        delete h->work;
        h->work = next;
    }
}

int32_t dral_worksearch(dral_worknode *node, const char *pattern) {
    const NamePattern matcher(pattern);
    for (; node != nullptr; node = node->next) {
        if (matcher.matches(node->name))
            return node->offset;
    }
    return -1;
}

dral_worknode *dral_workiter(dral_handle *h, dral_worknode **cursor) {
    if (*cursor == nullptr)
        *cursor = h->work;
    dral_worknode *node = *cursor;
    if (node != nullptr)
        *cursor = node->next;
    return node;
}

const char *dral_workname(const dral_worknode *node) {
    return node->name;
}

int32_t dral_workpoint(const dral_worknode *node) {
    return node->offset;
}

} // extern "C"
