// velmotag run as root over a directory that an unprivileged uploader owns
// and changes while root works there: nothing outside the upload is read,
// written or given away. The uploader is the user nobody; its moves are
// made by a script at the site's zip or unzip path, which runs them as the
// archiver runs (as the uploader) just before the real program.
#include "e2e_upload_site.h"

#include "support/sample_text.h"
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kDiz = "Cool tool\r\nTiny\r\n";
const std::string kSecret = "root only\n";

class StrangersUpload : public UploadSite {
  protected:
    void SetUp() override {
        UploadSite::SetUp();
        const passwd *nobody = getpwnam("nobody");
        if (geteuid() != 0 || !nobody)
            GTEST_SKIP() << "needs root and the user nobody";
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
        ASSERT_EQ(chmod(upload_dir().c_str(), 0755), 0);
        area_ = upload("area");
        steer_ = upload("steer");
        for (const std::string &dir : {area_, steer_}) {
            fs::create_directory(dir);
            give(dir);
        }
        secret_ = outside() + "/secret.txt";
        write_file(secret_, kSecret);
        ASSERT_EQ(chmod(secret_.c_str(), 0600), 0);
    }

    void give(const std::string &path) const {
        ASSERT_EQ(lchown(path.c_str(), uid_, gid_), 0) << path;
    }
    // An archive with `padding` bytes that do not compress, so that zip
    // takes a while over it.
    std::string make_upload(const std::string &path, std::size_t padding = 0) const {
        make_zip(path,
                 {{"FILE_ID.DIZ", kDiz}, {"data.bin", velmo::test::random_bytes(padding, 7)}});
        give(path);
        return read_file(path);
    }
    static std::string owner_of(const std::string &path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? std::to_string(st.st_uid) : "missing";
    }

    uid_t uid_ = 0;
    gid_t gid_ = 0;
    std::string area_, steer_, secret_;
};

// A link to a root-only file put at FILE_ID.DIZ just before zip stores it:
// zip, as the uploader, cannot read it; the archive is put back.
TEST_F(StrangersUpload, LinkAtTheDescriptionStoresNothingOfRoots) {
    const std::string a = area_ + "/a.zip";
    const std::string before = make_upload(a);
    steer_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer_,
                       "    ln -sf '" + secret_ + "' '" + area_ + "/FILE_ID.DIZ'");
    RunResult result = run_tagger({"-v", a});
    EXPECT_NE(result.out.find("error!\nvelmotag: storing the description in '" + a + "': zip "),
              std::string::npos)
        << result.out;
    expect_untouched(a, before, true);
    EXPECT_EQ(read_file(a).find(kSecret), std::string::npos);
}

// The archive replaced by a link to a root file while zip rewrites it: zip,
// as the uploader, cannot write through the link; the root file is as it
// was, and the archive's name holds a sound archive with every member (the
// original put back, or the tagged one that zip wrote in the link's place).
TEST_F(StrangersUpload, LinkAtTheArchiveWritesNothingOfRoots) {
    const std::string a = area_ + "/big.zip";
    make_upload(a, 8 << 20);
    const std::string data = zip_member(a, "data.bin");
    const std::string victim = outside() + "/victim.zip";
    const std::string victim_before = read_file(victim);
    steer_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer_,
                       "    '" + std::string(E2E_SYSTEM_ZIP) +
                           "' \"$@\" & zip=$!\n"
                           "    while kill -0 $zip 2>/dev/null; do\n"
                           "        set -- '" +
                           area_ +
                           "'/zi*; [ -e \"$1\" ] && break\n"
                           "    done\n"
                           "    mv '" +
                           a + "' '" + a + ".aside'; ln -s '" + victim + "' '" + a +
                           "'\n"
                           "    wait $zip; exit $?");
    run_tagger({"-v", a});
    EXPECT_EQ(read_file(victim), victim_before);
    EXPECT_EQ(owner_of(victim), "0");
    EXPECT_FALSE(fs::is_symlink(a));
    EXPECT_EQ(zip_test(a).status, 0);
    EXPECT_TRUE(same_bytes(zip_member(a, "data.bin"), data));
}

// The archive's directory replaced by a link to a root directory once the
// listing starts: the ownership step works on the directory opened at the
// start, and gives nothing of root's away.
TEST_F(StrangersUpload, SwappedDirectoryGivesNothingAway) {
    const std::string sub = area_ + "/sub";
    fs::create_directory(sub);
    give(sub);
    make_upload(sub + "/service.conf");
    const std::string root_conf = outside() + "/service.conf";
    write_file(root_conf, "root's settings\n");
    steer_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", steer_,
                       "    mv '" + sub + "' '" + sub + ".moved'; ln -s '" + outside() + "' '" +
                           sub + "'");
    run_tagger({"-c", sub + "/service.conf"});
    EXPECT_EQ(owner_of(root_conf), "0");
    EXPECT_EQ(read_file(root_conf), "root's settings\n");
    EXPECT_EQ(owner_of(sub + ".moved/service.conf"), std::to_string(uid_));
}

// A link of the uploader's to root's archive elsewhere is not followed;
// root's archive and its directory stay as they were.
TEST_F(StrangersUpload, PlantedLinkIsNotFollowed) {
    const std::string link = area_ + "/evil.zip";
    const std::string victim = outside() + "/victim.zip";
    fs::create_symlink(victim, link);
    give(link);
    RunResult result = run({"-v", link});
    EXPECT_EQ(result.out, verbose_run(victim + ": error!\nvelmotag: opening '" + victim +
                                          "': it was reached through a symbolic link of user " +
                                          std::to_string(uid_) + ", not of its owner\n",
                                      0));
}

// Root's archive in the uploader's directory is refused; the uploader's
// archive in a shared directory with the sticky bit is tagged, its
// description written elsewhere, since another user's FILE_ID.DIZ there is
// not the uploader's to remove and stays; the uploader's archive in root's
// directory is tagged in a working copy.
TEST_F(StrangersUpload, WhoCanChangeThePathDecides) {
    const std::string root_archive = area_ + "/root.zip";
    make_zip(root_archive, {{"FILE_ID.DIZ", kDiz}});
    ASSERT_EQ(lchown(root_archive.c_str(), 0, 0), 0);
    const std::string before = read_file(root_archive);
    RunResult refused = run_tagger({"-v", root_archive});
    EXPECT_EQ(refused.out,
              verbose_run(root_archive + ": error!\nvelmotag: opening '" + root_archive +
                              "': users other than root and its "
                              "owner can change '" +
                              area_ + "'\n",
                          0));
    EXPECT_EQ(read_file(root_archive), before);

    const std::string shared = upload("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string a = shared + "/a.zip";
    make_upload(a);
    write_file(shared + "/FILE_ID.DIZ", "another user's\r\n");
    ASSERT_EQ(lchown((shared + "/FILE_ID.DIZ").c_str(), 12345, 12345), 0);
    EXPECT_EQ(run_tagger({"-q", a}).out, "done\n");
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\rTiny\n\r"));
    EXPECT_EQ(read_file(shared + "/FILE_ID.DIZ"), "another user's\r\n");
    EXPECT_EQ(owner_of(shared + "/FILE_ID.DIZ"), "12345");
    EXPECT_EQ(owner_of(a), std::to_string(uid_));

    // In root's own directory, which only root can change, the uploader's
    // zip works on a copy in a directory of its own; root puts the result
    // in place, and gives it back to the uploader.
    const std::string roots = upload("roots");
    fs::create_directory(roots);
    const std::string b = roots + "/b.zip";
    make_upload(b);
    EXPECT_EQ(run_tagger({"-v", b}).out, verbose_run(b + ": (FILE_ID.DIZ) done\n", 1));
    EXPECT_EQ(zip_member(b, "FILE_ID.DIZ"), tagged("Cool tool\n\rTiny\n\r"));
    EXPECT_EQ(owner_of(b), std::to_string(uid_));
}

// The uploader's zip leaves a fifo in place of its working copy: root does
// not wait on it, and puts nothing in the archive's place.
TEST_F(StrangersUpload, FifoForTheWorkingCopyHoldsNothingUp) {
    const std::string roots = upload("roots");
    fs::create_directory(roots);
    const std::string b = roots + "/b.zip";
    const std::string before = make_upload(b);
    const std::string zip = E2E_SYSTEM_ZIP;
    steer_site_program(
        kZip, zip, "-jqq", steer_,
        "    '" + zip + "' \"$@\" || exit\n" +
            "    case $3 in *.nfo) rm -f \"$2\" && mkfifo \"$2\" ;; esac\n    exit 0",
        false);
    RunResult result = run_tagger({"-v", b});
    EXPECT_NE(result.out.find("error!\nvelmotag: replacing '" + b + "': "), std::string::npos)
        << result.out;
    EXPECT_EQ(read_file(b), before);
}

// The uploader renames a hard link to another user's file over the archive
// once zip has added the info file: that file is never given to anyone;
// the archive is put back.
TEST_F(StrangersUpload, HardLinkOverTheArchiveIsGivenToNobody) {
    const std::string a = area_ + "/a.zip";
    const std::string before = make_upload(a);
    const std::string victim = area_ + "/victim.txt";
    write_file(victim, "another user's\n");
    ASSERT_EQ(chmod(victim.c_str(), 0666), 0);
    ASSERT_EQ(lchown(victim.c_str(), 12345, 12345), 0);
    const std::string zip = E2E_SYSTEM_ZIP;
    steer_site_program(kZip, zip, "-jqq", steer_,
                       "    '" + zip + "' \"$@\" || exit\n" + "    case $3 in *.nfo) ln '" +
                           victim + "' '" + area_ + "/.h' && mv '" + area_ + "/.h' '" + a +
                           "' ;; esac\n    exit 0",
                       false);
    RunResult result = run_tagger({"-v", a});
    EXPECT_NE(result.out.find("something else was put in its place"), std::string::npos)
        << result.out;
    EXPECT_EQ(owner_of(victim), "12345");
    EXPECT_EQ(read_file(a), before);
}

// The uploader stops its own unzip (and the shell that runs it): the run
// kills them at once and goes on; the next archive, another user's, is
// tagged.
TEST_F(StrangersUpload, StoppedArchiverHoldsNothingUp) {
    const std::string a = area_ + "/a.zip";
    const std::string before = make_upload(a);
    const std::string b = upload("roots.zip");
    make_zip(b, {{"FILE_ID.DIZ", kDiz}});
    steer_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", steer_, "    kill -STOP 0");
    RunResult result = run_tagger({"-v", a, b});
    EXPECT_NE(result.out.find(a + ": error!\nvelmotag: listing '" + a +
                              "': unzip was stopped by signal 19 and killed\n" + b +
                              ": (FILE_ID.DIZ) done\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(read_file(a), before);
}

// The uploader's unzip makes the listing file a terabyte of holes: it is
// not read, and the archive is given up.
TEST_F(StrangersUpload, GrownListingIsNotRead) {
    const std::string a = area_ + "/a.zip";
    const std::string before = make_upload(a);
    const std::string unzip = E2E_SYSTEM_UNZIP;
    steer_site_program(kUnzip, unzip, "-vqq", steer_,
                       "    '" + unzip +
                           "' \"$@\"\n"
                           "    python3 -c 'import os; os.ftruncate(1, 1 << 40)'\n    exit 0");
    RunResult result = run_tagger({"-v", a});
    EXPECT_NE(result.out.find("' holds more than its archive can: over "), std::string::npos)
        << result.out;
    EXPECT_EQ(read_file(a), before);
}

// In a set-group-ID directory of a group the uploader is not in, its
// archivers still run with its own groups: a link to a file of that group
// put at FILE_ID.DIZ stores nothing of it.
TEST_F(StrangersUpload, SetGroupIdDirectoryLendsNoGroup) {
    constexpr gid_t kSiteGroup = 4242;
    ASSERT_EQ(chmod(upload_dir().c_str(), 0755), 0);
    const std::string secret = upload("group-secret.txt");
    write_file(secret, kSecret);
    ASSERT_EQ(lchown(secret.c_str(), 0, kSiteGroup), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0640), 0);
    const std::string dir = upload("sgid");
    fs::create_directory(dir);
    ASSERT_EQ(lchown(dir.c_str(), uid_, kSiteGroup), 0);
    ASSERT_EQ(chmod(dir.c_str(), 02755), 0);
    const std::string a = dir + "/a.zip";
    make_upload(a);
    ASSERT_EQ(lchown(a.c_str(), uid_, kSiteGroup), 0);
    steer_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer_,
                       "    ln -sf '" + secret + "' '" + dir + "/FILE_ID.DIZ'");
    run_tagger({"-v", a});
    EXPECT_EQ(read_file(a).find(kSecret), std::string::npos);
    EXPECT_EQ(zip_test(a).status, 0);
}

// Another user's plants in a shared directory with the sticky bit, a
// non-empty directory at FILE_ID.DIZ and a file at the archive's lock
// name, hold nothing up; the plants are left as they were.
TEST_F(StrangersUpload, PlantsInASharedDirectoryBlockNothing) {
    const std::string shared = upload("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string a = shared + "/a.zip";
    make_upload(a);
    const std::string plant = shared + "/FILE_ID.DIZ";
    fs::create_directory(plant);
    write_file(plant + "/keep.txt", "kept\n");
    const std::string lock_plant = beside_lock_path(a);
    write_file(lock_plant, "");
    for (const std::string &path : {plant, plant + "/keep.txt", lock_plant})
        ASSERT_EQ(lchown(path.c_str(), 12345, 12345), 0);
    EXPECT_EQ(run_tagger({"-q", a}).out, "done\n");
    EXPECT_EQ(zip_member(a, "FILE_ID.DIZ"), tagged("Cool tool\n\rTiny\n\r"));
    EXPECT_EQ(read_file(plant + "/keep.txt"), "kept\n");
}

// Without a state directory the lock stands beside the archive: another
// user's file planted there, and held locked, is replaced, not waited for.
TEST_F(StrangersUpload, ForeignLockFileBesideTheArchiveIsReplaced) {
    fs::remove_all(kStateDir);
    const std::string shared = upload("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string a = shared + "/a.zip";
    make_upload(a);
    const std::string planted = beside_lock_path(a);
    const HeldLock held(planted);
    ASSERT_EQ(lchown(planted.c_str(), 12345, 12345), 0);
    EXPECT_EQ(run_tagger({"-q", a}).out, "done\n");
}

// An argument longer than PATH_MAX, relative to the uploader's directory,
// is not found, and no archiver is started for it.
TEST_F(StrangersUpload, ArgumentLongerThanPathMaxIsNotFound) {
    // Made one level at a time, as no path that long can be handed whole.
    const std::string bytes = make_upload(upload("a.zip"));
    std::string relative;
    int dir = open(area_.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 24 && dir >= 0; ++i) {
        const std::string part(200, static_cast<char>('a' + i));
        relative += part + "/";
        mkdirat(dir, part.c_str(), 0755);
        const int inner = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
        close(dir);
        dir = inner;
    }
    relative += "a.zip";
    const int file = openat(dir, "a.zip", O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(fchown(file, uid_, gid_), 0);
    close(file);
    close(dir);
    steer_site_program(kUnzip, E2E_SYSTEM_UNZIP, "-vqq", steer_, "    : > '" + steer_ + "/ran'");
    RunOptions in_area;
    in_area.cwd = area_;
    EXPECT_EQ(run_tagger({"-v", relative}, in_area).out,
              verbose_run(relative + ": file not found\n", 0));
    EXPECT_FALSE(path_exists(steer_ + "/ran"));
    run_program("/bin/rm", {"-rf", area_ + "/" + std::string(200, 'a')});
}

// A descriptor that the tagger's caller left open (a root-only log) never
// reaches the uploader's archivers.
TEST_F(StrangersUpload, InheritedDescriptorsReachNoArchiver) {
    const std::string a = area_ + "/a.zip";
    make_upload(a);
    const std::string log = outside() + "/root.log";
    write_file(log, "root's log\n");
    ASSERT_EQ(chmod(log.c_str(), 0600), 0);
    steer_site_program(kZip, E2E_SYSTEM_ZIP, "-jqq", steer_, "    echo taken >&7");
    run_program("/bin/sh", {"-c", "exec 7>>'" + log + "'; exec '" + kTagger + "' -s '" + a + "'"});
    EXPECT_EQ(read_file(log), "root's log\n");
    const std::vector<std::string> names = zip_names(a);
    EXPECT_NE(std::find(names.begin(), names.end(), "velmo97.nfo"), names.end());
}

} // namespace
} // namespace e2e
