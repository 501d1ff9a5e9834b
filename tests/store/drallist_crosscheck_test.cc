// A store written by the library, read by the separately written lister
// drallist: both must agree on the format.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include "store_test_support.h"

extern char **environ;

namespace {

struct ListerRun {
    int status = -1;
    std::string output;
};

ListerRun run_drallist(const std::string &store, bool details) {
    TempDir out_dir;
    const std::string out_path = out_dir.path + "/out";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT, 0600);
    std::string program = DRALLIST_PATH, file = store, opts = "x";
    char *argv[] = {program.data(), file.data(), details ? opts.data() : nullptr, nullptr};
    ListerRun run;
    pid_t pid;
    if (posix_spawn(&pid, DRALLIST_PATH, &actions, nullptr, argv, environ) == 0)
        waitpid(pid, &run.status, 0);
    posix_spawn_file_actions_destroy(&actions);
    run.output = read_file(out_path);
    return run;
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
