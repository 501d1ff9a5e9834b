// The record of archives known to carry the mark: a siteop pass lists only
// what is new or changed, and nothing the record holds hides a change.
// unzip's listing step notes each archive it is given, so a test sees which
// archives a pass listed.
#include "e2e_support.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

class MarkRecord : public TaggerSite {
  protected:
    void SetUp() override {
        TaggerSite::SetUp();
        write_conf("keyword ZORV97\nkeyword VELMO97\n");
        SetUpListingNotes();
    }

    // unzip's listing step notes each archive it is given.
    void SetUpListingNotes() {
        steer_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", notes_.path(),
                           "echo \"$2\" >> '" + notes_.path("listed") + "'", false);
    }

    std::string make_upload(const std::string &name) {
        make_zip(upload(name), {{"FILE_ID.DIZ", "Cool tool\r\n"}, {"readme.txt", "Hi.\n"}});
        return upload(name);
    }

    // The names a siteop run over `archives` listed, sorted; the run must
    // end with `status`.
    std::vector<std::string> listed_by_pass(const std::vector<std::string> &archives,
                                            int status = 0) {
        fs::remove(notes_.path("listed"));
        std::vector<std::string> args{"-s"};
        args.insert(args.end(), archives.begin(), archives.end());
        EXPECT_EQ(run_tagger(args).status, status);
        std::vector<std::string> listed;
        std::istringstream lines(read_file(notes_.path("listed")));
        for (std::string line; std::getline(lines, line);)
            listed.push_back(fs::path(line).filename().string());
        std::sort(listed.begin(), listed.end());
        return listed;
    }

    // Past the file system's tick after the archives' last change: a record
    // made from now on is trusted by itself.
    static void let_changes_settle() {
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    }

    std::string record() const { return kStateDir + "/marks/record"; }

    velmo::test::TempDir notes_{"notes_", kTestTmpRoot};
};

using Names = std::vector<std::string>;

// Found tagged by a pass, archives are passed over by the next; rewritten
// in place with their size and times put back, or replaced by a rename,
// they are listed again; so is every one when a keyword, the tag line or a
// site file changes. The normal modes list as they always did.
TEST_F(MarkRecord, APassListsOnlyWhatChanged) {
    const std::vector<std::string> all = {make_upload("kept.zip"), make_upload("touched.zip"),
                                          make_upload("replaced.zip")};
    const Names every = {"kept.zip", "replaced.zip", "touched.zip"};
    EXPECT_EQ(listed_by_pass(all), every);
    let_changes_settle();
    EXPECT_EQ(listed_by_pass(all), every);
    EXPECT_EQ(listed_by_pass(all), Names{});

    const std::string touched = read_file(all[1]);
    struct stat before;
    ASSERT_EQ(stat(all[1].c_str(), &before), 0);
    write_file(all[1], touched);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, all[1].c_str(), times, 0), 0);
    ASSERT_EQ(fs::file_size(all[1]), touched.size());
    fs::copy_file(all[0], upload("copy"));
    fs::rename(upload("copy"), all[2]);
    let_changes_settle();
    EXPECT_EQ(listed_by_pass(all), (Names{"replaced.zip", "touched.zip"}));
    EXPECT_EQ(listed_by_pass(all), Names{});

    EXPECT_NE(run_tagger({"-v", all[0]}).out.find("keyword 'VELMO97' found"), std::string::npos);
    for (const char *conf :
         {"keyword ZORV97\nkeyword VELMO97\nkeyword OTHER\n",
          "keyword ZORV97\nkeyword VELMO97\nkeyword OTHER\ntagline ** zORV97 other line **\n"}) {
        write_conf(conf);
        EXPECT_EQ(listed_by_pass(all), (Names{"kept.zip", "replaced.zip", "touched.zip"}));
        EXPECT_EQ(listed_by_pass(all), Names{});
    }
    write_file(kConfDir + "/velmo97.nfo", "Another info file.\n");
    EXPECT_EQ(listed_by_pass(all), (Names{"kept.zip", "replaced.zip", "touched.zip"}));
}

// An archive found tagged within two seconds of its last change (as one
// just tagged is) is not trusted: a write in the same tick would have left
// the same times. A failed archive is never recorded; nor is one whose mark
// shows in its description only, which the tagger cannot read itself.
TEST_F(MarkRecord, RacyFailedOrDescriptionOnlyArchivesAreListedAgain) {
    const std::string a = make_upload("a.zip");
    write_file(upload("cut.zip"), read_file(a).substr(0, 100));
    const std::vector<std::string> both = {a, upload("cut.zip")};
    for (int pass = 0; pass < 3; ++pass)
        EXPECT_EQ(listed_by_pass(both, kNotAllTagged), (Names{"a.zip", "cut.zip"})) << pass;
    write_conf("keyword ZORV97\n");
    let_changes_settle();
    for (int pass = 0; pass < 2; ++pass)
        EXPECT_EQ(listed_by_pass({a}), Names{"a.zip"}) << pass;
}

// The archive's owner swaps its directory for one holding a tagged archive
// while unzip lists it, and back: that pass takes it for tagged, but the
// record holds only what the tagger read through its own descriptor, and
// the next pass lists and tags it.
TEST_F(MarkRecord, SwappedDirectoriesHideNothing) {
    const std::string x = upload("x"), y = upload("y");
    fs::create_directories(x);
    fs::create_directories(y);
    const std::string tagged_one = make_upload("a.zip");
    listed_by_pass({tagged_one});
    fs::rename(tagged_one, y + "/a.zip");
    // As many members as the tagged one, so that the listing seems whole.
    make_zip(x + "/a.zip",
             {{"FILE_ID.DIZ", "Plain\r\n"}, {"readme.txt", "Hi.\n"}, {"other.txt", "Yo.\n"}});
    let_changes_settle();
    steer_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", notes_.path(),
                       "    mv '" + x + "' '" + x + ".t' && mv '" + y + "' '" + x + "'\n" +
                           "    '" + E2E_SYSTEM_UNZIP + "' \"$@\"; status=$?\n" + "    mv '" + x +
                           "' '" + y + "' && mv '" + x + ".t' '" + x + "'\n    exit $status");
    EXPECT_EQ(run_tagger({"-s", x + "/a.zip"}).status, 0);
    SetUpListingNotes();
    EXPECT_EQ(listed_by_pass({x + "/a.zip"}), Names{"a.zip"});
    EXPECT_EQ(zip_names(x + "/a.zip"),
              (std::vector<std::string>{"FILE_ID.DIZ", "other.txt", "readme.txt", "velmo97.nfo"}));
}

// A write through a shared mapping made before the archive was recorded
// dirties a page once; a later write to it moves no time by itself. The
// pass that records the archive writes its pages out first, so the later
// write moves the change time and the archive is listed again.
TEST_F(MarkRecord, WriteThroughAMappingIsSeen) {
    const std::string a = make_upload("a.zip");
    listed_by_pass({a});
    const int fd = open(a.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    const std::size_t size = fs::file_size(a);
    void *map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    volatile char *bytes = static_cast<char *>(map);
    bytes[size - 1] = bytes[size - 1]; // the first write to the page: dirty
    let_changes_settle();
    EXPECT_EQ(listed_by_pass({a}), Names{"a.zip"});
    EXPECT_EQ(listed_by_pass({a}), Names{});
    bytes[size - 1] = bytes[size - 1];
    munmap(map, size);
    close(fd);
    EXPECT_EQ(listed_by_pass({a}), Names{"a.zip"});
}

// A damaged record, or one that others could have written, is set aside
// with one log line and rebuilt; the archives are listed once more.
TEST_F(MarkRecord, DamagedOrForeignRecordIsSetAsideAndRebuilt) {
    const std::string a = make_upload("a.zip");
    listed_by_pass({a});
    let_changes_settle();
    listed_by_pass({a});
    EXPECT_EQ(listed_by_pass({a}), Names{});
    const std::vector<std::pair<std::string, std::function<void()>>> harms = {
        {"its head is damaged or cut short", [&] { write_file(record(), "garbage"); }},
        {"users other than its owner can write it",
         [&] { fs::permissions(record(), fs::perms::others_write, fs::perm_options::add); }},
        {"it belongs to user 65534", [&] { EXPECT_EQ(chown(record().c_str(), 65534, 65534), 0); }},
    };
    for (const auto &[why, harm] : harms) {
        if (why.find("65534") != std::string::npos && geteuid() != 0)
            continue;
        harm();
        std::vector<std::string> log;
        RunResult result = run_tagger_logged({"-s", a}, &log);
        EXPECT_EQ(result.status, 0);
        ASSERT_EQ(log.size(), 2U) << why;
        EXPECT_EQ(log[0], "3 mark record '" + kStateDir +
                              "/marks/record' set aside as "
                              "'record.damaged': " +
                              why + "; a new one is begun");
        EXPECT_EQ(listed_by_pass({a}), Names{}) << why;
    }
}

// Two passes at once over halves of the area keep every record.
TEST_F(MarkRecord, OverlappingPassesKeepEveryRecord) {
    std::vector<std::string> halves[2];
    for (int i = 0; i < 40; ++i)
        halves[i % 2].push_back(make_upload("a" + std::to_string(i) + ".zip"));
    std::vector<std::string> all = halves[0];
    all.insert(all.end(), halves[1].begin(), halves[1].end());
    listed_by_pass(all);
    let_changes_settle();
    std::vector<std::string> first{"-s"}, second{"-s"};
    first.insert(first.end(), halves[0].begin(), halves[0].end());
    second.insert(second.end(), halves[1].begin(), halves[1].end());
    Background one(kTagger, first), two(kTagger, second);
    EXPECT_EQ(one.finish().status, 0);
    EXPECT_EQ(two.finish().status, 0);
    EXPECT_EQ(listed_by_pass(all), Names{});
}

} // namespace
} // namespace e2e
