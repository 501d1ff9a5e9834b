// Mended: dral_close used to leave the handle record behind, so every open
// leaked it. This program counts the library's live allocations (handle and
// working-list nodes come from operator new) across an open and a close.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "store_test_support.h"

namespace {
std::atomic<long> live_allocations{0};
}

void *operator new(std::size_t size) {
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    ++live_allocations;
    return p;
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr)
        ++live_allocations;
    return p;
}
namespace {
void release(void *p) {
    if (p != nullptr)
        --live_allocations;
    std::free(p);
}
} // namespace
void operator delete(void *p) noexcept {
    release(p);
}
void operator delete(void *p, std::size_t) noexcept {
    release(p);
}

namespace {

TEST(DraldbCloseRelease, CloseReleasesHandleAndWorkingList) {
    TempDir dir;
    const std::string path = dir.path("store");
    const long before = live_allocations;
    dral_handle *h = dral_open(path.c_str());
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < 3; ++i)
        dral_addrec(h, "entry\0\0\0");
    dral_work(h, "entry");
    const long open = live_allocations;
    dral_close(h);
    const long after = live_allocations;
    EXPECT_GE(open - before, 4); // the handle and three nodes
    EXPECT_EQ(after, before);
}

} // namespace
