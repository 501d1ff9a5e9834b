// velmotag run as root over a directory that an unprivileged uploader owns
// and changes while root works there: nothing outside the upload is read,
// written or given away. The uploader is the user nobody; its moves are
// made by a script at the site's zip or unzip path, which runs them as the
// archiver runs (as the uploader) just before the real program.
#include "e2e_upload_site.h"

#include <filesystem>
#include <pwd.h>
#include <random>
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
        std::mt19937 random(7);
        std::string data(padding, '\0');
        for (char &c : data)
            c = static_cast<char>(random());
        make_zip(path, {{"FILE_ID.DIZ", kDiz}, {"data.bin", data}});
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
// description made anew as the uploader's though another user's was there;
// the uploader's archive in root's directory is refused before the first
// write.
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
    EXPECT_EQ(owner_of(shared + "/FILE_ID.DIZ"), std::to_string(uid_));
    EXPECT_EQ(owner_of(a), std::to_string(uid_));

    // In root's own directory the uploader's zip could not write.
    const std::string roots = upload("roots");
    fs::create_directory(roots);
    const std::string b = roots + "/b.zip";
    const std::string b_before = make_upload(b);
    EXPECT_EQ(run_tagger({"-v", b}).out,
              verbose_run(b + ": (FILE_ID.DIZ) error!\nvelmotag: tagging '" + b +
                              "': its owner, user " + std::to_string(uid_) + ", cannot write '" +
                              roots + "'\n",
                          0));
    EXPECT_EQ(read_file(b), b_before);
}

} // namespace
} // namespace e2e
