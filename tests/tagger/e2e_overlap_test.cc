// Runs that overlap, as an upload hook and a cron pass over the same area
// do: each archive is tagged once, with its own description, whatever the
// order; a run never waits long for another, and gives an archive that
// another run holds up as busy.
#include "e2e_upload_site.h"

#include <filesystem>
#include <optional>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const Member kData = {"data.bin", std::string(20000, 'd')};

std::string line_of(int i) {
    return "The description of archive " + std::to_string(i);
}

std::string description_of(int i) {
    return line_of(i) + "\r\n";
}

class Overlap : public UploadSite {
  protected:
    // Runs every argument list at once, each in a run of its own.
    std::vector<RunResult> run_at_once(const std::vector<std::vector<std::string>> &arg_lists) {
        std::vector<RunResult> results(arg_lists.size());
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < arg_lists.size(); ++i)
            threads.emplace_back([&, i] { results[i] = run_tagger(arg_lists[i]); });
        for (std::thread &t : threads)
            t.join();
        return results;
    }

    static std::size_t count_of(const std::string &text, const std::string &word) {
        std::size_t n = 0;
        for (std::size_t at = text.find(word); at != std::string::npos;
             at = text.find(word, at + 1))
            ++n;
        return n;
    }
};

// Four runs over the same twelve archives, each in another order, two of
// them in siteop mode: every archive ends with its own description, tagged
// once, and nothing of the runs is left in the directory.
TEST_F(Overlap, RunsOverOneDirectoryNeverMixDescriptions) {
    write_conf("keyword ZORV97\nkeyword VELMO97\n");
    std::vector<std::string> archives;
    for (int i = 0; i < 12; ++i) {
        archives.push_back(upload("a" + std::to_string(i) + ".zip"));
        make_zip(archives.back(), {{"FILE_ID.DIZ", description_of(i)}, kData});
    }
    std::vector<std::vector<std::string>> arg_lists;
    for (int run = 0; run < 4; ++run) {
        std::vector<std::string> args{run % 2 ? "-s" : "-q"};
        for (int i = 0; i < 12; ++i)
            args.push_back(archives[static_cast<std::size_t>((i * (run + 5)) % 12)]);
        arg_lists.push_back(args);
    }
    std::size_t done = 0;
    for (const RunResult &r : run_at_once(arg_lists)) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(count_of(r.out, "busy"), 0u) << r.out;
        done += count_of(r.out, "done\n");
    }
    EXPECT_LE(done, archives.size());
    for (int i = 0; i < 12; ++i) {
        const std::string &a = archives[static_cast<std::size_t>(i)];
        EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged(line_of(i) + "\n\r")) << a;
        EXPECT_TRUE(same_bytes(zip_member(a, kData.name), kData.bytes)) << a;
        EXPECT_EQ(zip_comment(a), kSiteComment) << a;
        EXPECT_EQ(zip_test(a).status, 0) << a;
    }
    EXPECT_EQ(dir_entries(upload_dir(), ".velmotag"), std::vector<std::string>{});
}

// Two runs at once on one archive, named with and without an extension:
// one tags it, the other finds it tagged; no member is lost.
TEST_F(Overlap, TwoRunsOnOneArchiveTagItOnce) {
    write_conf("keyword ZORV97\nkeyword VELMO97\n");
    for (const std::string name : {"same.zip", "noext"}) {
        const std::string a = upload(name);
        for (int round = 0; round < 3; ++round) {
            make_zip(a, {{"FILE_ID.DIZ", description_of(round)}, kData});
            run_at_once({{"-s", a}, {"-q", a}});
            EXPECT_EQ(zip_test(a).status, 0) << name;
            EXPECT_EQ(count_of(zip_member(a, "FILE_ID.DIZ"), kTagLine), 1u) << name;
            EXPECT_TRUE(same_bytes(zip_member(a, kData.name), kData.bytes)) << name;
            EXPECT_EQ(zip_names(a).size(), 3u) << name;
        }
    }
}

// A run that holds an archive, or its directory, longer than the wait: the
// other run gives that archive up as busy at once and goes on with the
// next.
TEST_F(Overlap, HeldArchiveIsBusyAndTheRunGoesOn) {
    const std::string held = upload("held.zip");
    const std::string other_dir = upload("other");
    fs::create_directory(other_dir);
    const std::string free = other_dir + "/free.zip";
    make_zip(held, {{"FILE_ID.DIZ", description_of(1)}});
    make_zip(free, {{"FILE_ID.DIZ", description_of(2)}});

    // The first run stops in its listing of held.zip, its lock held.
    const std::string steer = upload("steer");
    fs::create_directory(steer);
    pause_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", steer);
    Background first(kTagger, {"-q", held});
    ASSERT_TRUE(wait_for_path(steer + "/ready", 10));
    RunResult second = run_tagger({"-v", held, free});
    write_file(steer + "/go", "");
    EXPECT_EQ(first.finish().out, "done\n");
    EXPECT_EQ(second.out, verbose_run(held + ": busy: another run held it for " +
                                          std::to_string(E2E_LOCK_WAIT) + " seconds\n" + free +
                                          ": (FILE_ID.DIZ) done\n",
                                      1));

    // A directory held by another run: the description is not written.
    make_zip(held, {{"FILE_ID.DIZ", description_of(3)}});
    const std::string untagged = read_file(held);
    const HeldLock dir_lock(directory_lock_path(upload_dir()));
    RunResult busy = run_tagger({"-v", held});
    EXPECT_EQ(busy.out,
              verbose_run(held + ": (FILE_ID.DIZ) busy: another run held its directory for " +
                              std::to_string(E2E_LOCK_WAIT) + " seconds\n",
                          0));
    EXPECT_EQ(read_file(held), untagged);
}

// An uploader's own lock on its directory holds nothing up: the tagger's
// locks are in its state directory.
TEST_F(Overlap, LockOnTheUploadDirectoryItselfHoldsNothingUp) {
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", description_of(1)}});
    const HeldLock uploaders(upload_dir());
    EXPECT_EQ(run_tagger({"-q", a}).out, "done\n");
}

// A lock let go during the wait: the waiting run takes it and tags the
// archive.
TEST_F(Overlap, LockLetGoDuringTheWaitIsTaken) {
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", description_of(1)}});
    std::optional<HeldLock> dir_lock(std::in_place, directory_lock_path(upload_dir()));
    Background waiting(kTagger, {"-q", a});
    usleep(300000); // time for the run to reach the lock; it passes either way
    dir_lock.reset();
    EXPECT_EQ(waiting.finish().out, "done\n");
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged(line_of(1) + "\n\r"));
}

} // namespace
} // namespace e2e
