// A library user's C++ program, built against the installed tree through
// find_package(draldb): blocks added and found by pattern through the index
// and the working list. Prints the names it walks and exits 0 when all holds.
#include <draldb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

struct StoreCloser {
    void operator()(dral_handle *h) const { dral_close(h); }
};

bool add_block(dral_handle *h, const char (&name8)[9], const std::string &text) {
    const std::int32_t offset = dral_addrec(h, name8);
    return offset >= 0 && dral_write(h, offset, 2, static_cast<std::int32_t>(text.size()),
                                     text.data()) == static_cast<std::int32_t>(text.size());
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    const std::string path = std::string(argv[1]) + "/site.db";
    std::unique_ptr<dral_handle, StoreCloser> h(dral_open(path.c_str()));
    if (!h)
        return 1;
    bool ok = add_block(h.get(), "motd\0\0\0\0", "Uploads close at midnight.") &&
              add_block(h.get(), "rules\0\0\0", "Be kind.");
    dral_terminate(h.get());

    const std::int32_t rules = dral_search(h.get(), "r*");
    char *text = dral_readstr_alloc(h.get(), rules);
    ok = ok && text != nullptr && std::string(text) == "Be kind.";
    std::free(text);

    dral_work(h.get(), "*");
    dral_worknode *cursor = nullptr;
    while (dral_worknode *node = dral_workiter(h.get(), &cursor)) {
        std::printf("%s\n", dral_workname(node));
        if (cursor == nullptr)
            break;
    }
    ok = ok && dral_best(h.get(), "m???") == 0;
    return ok ? 0 : 1;
}
