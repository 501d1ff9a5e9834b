// A store written by the library, read by the separately written lister
// drallist: both must agree on the format.
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "store_test_support.h"
#include "support/process.h"

namespace {

struct ListerRun {
    int status = -1; // as waitpid gave it
    std::string output;
};

ListerRun run_drallist(const std::string &store, bool details) {
    std::vector<std::string> args{store};
    if (details)
        args.push_back("x");
    const velmo::test::RunResult run = velmo::test::run_program(DRALLIST_PATH, args);
    return {run.wait_status, run.out};
}

TEST(DraldbDrallistCrossCheck, ListsATerminatedStoreEntryByEntry) {
    TempStore s;
    s.add("intro\n", 2, "Hello\n");
    add_field(s.h, "00035", "age");
    set_longfield(s.h, "00035", "age", 9);
    s.add("intro\n", 2, "again");
    dral_terminate(s.h);
    const ListerRun run = run_drallist(s.path, true);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
    EXPECT_EQ(run.output, "DRAL 0: name: intro\n (data offset 0)( datatype 2 datasize 6 )\n"
                          "DRAL 1: name: 00035age (data offset 14)( datatype 3 datasize 4 )\n"
                          "DRAL 2: name: intro\n (data offset 26)( datatype 2 datasize 5 )\n"
                          "DRALEND detected.\n");
}

TEST(DraldbDrallistCrossCheck, RejectsAStoreLeftWithoutItsEndMarker) {
    TempStore s;
    s.add("a", 2, "x");
    dral_terminate(s.h);
    s.add("b", 2, "y"); // overwrites the marker
    std::fflush(s.h->index);
    const ListerRun run = run_drallist(s.path, false);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1);
    EXPECT_EQ(run.output, "DRAL 0: name: a (data offset 0)\n"
                          "DRAL 1: name: b (data offset 9)\n"
                          "Bad .dral format.\n");
}

} // namespace
