// Full disks and oversized descriptions: a full temporary directory or
// upload file system, a FILE_ID.DIZ longer than the limit, or one whose
// archive lies about its length never damages an archive, loses a
// description or yields "done". A full file system is made with a file
// size limit, and, where the tests run as root, with a small tmpfs.
#include "e2e_upload_site.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const Member kReadme = {"readme.txt", "Read me first.\n"};

// `count` lines of 78 letters and CR LF.
std::string lines_of_78(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::string(78, static_cast<char>('a' + i % 26)) + "\r\n";
    return text;
}

// A small tmpfs at `path` for the test's life; empty when it cannot be
// mounted (not root, or no right to mount here).
class SmallFileSystem {
  public:
    SmallFileSystem(const std::string &path, const std::string &size) : path_(path) {
        if (geteuid() != 0)
            return;
        fs::create_directories(path);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool mounted() const { return mounted_; }

    // Fills the file system, then gives `room` bytes back.
    void fill_leaving(long long room) const {
        const std::string filler = path_ + "/filler";
        const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        const long long size = static_cast<long long>(lseek(fd, 0, SEEK_END));
        close(fd);
        fs::resize_file(filler, static_cast<std::uintmax_t>(std::max(0LL, size - room)));
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

class Limits : public UploadSite {
  protected:
    std::string extract_failure(const std::string &a, const std::string &why) const {
        return a + ": (FILE_ID.DIZ) error!\nvelmotag: extracting FILE_ID.DIZ from '" + a +
               "': " + why + "\n";
    }
};

// 65,536 bytes are tagged; 65,537 and ten megabytes are refused before
// anything is extracted, with the archive, the size and the limit named.
TEST_F(Limits, DescriptionsOverTheLimitAreNeverExtracted) {
    const std::string at_limit = lines_of_78(819) + std::string(14, 'z') + "\r\n";
    ASSERT_EQ(at_limit.size(), static_cast<std::size_t>(E2E_DIZ_MAX));
    make_zip(upload("limit.zip"), {{"FILE_ID.DIZ", at_limit}, kReadme});
    make_zip(upload("over.zip"), {{"FILE_ID.DIZ", at_limit + "x"}, kReadme});
    make_zip(upload("huge.zip"), {{"FILE_ID.DIZ", lines_of_78(131072)}, kReadme});
    const std::string over = read_file(upload("over.zip"));
    const std::string huge = read_file(upload("huge.zip"));
    RunResult result = run({"-v", upload("limit.zip"), upload("over.zip"), upload("huge.zip")});
    const std::string limit = ", more than the limit of 65536 bytes";
    EXPECT_EQ(result.out,
              verbose_run(upload("limit.zip") + ": (FILE_ID.DIZ) done\n" +
                              extract_failure(upload("over.zip"), "it has 65537 bytes" + limit) +
                              extract_failure(upload("huge.zip"), "it has 10485760 bytes" + limit),
                          1));
    EXPECT_EQ(zip_test(upload("limit.zip")).status, 0);
    expect_untouched(upload("over.zip"), over, true);
    expect_untouched(upload("huge.zip"), huge, true);
}

// An archive that gives its FILE_ID.DIZ 100 bytes in both headers but
// inflates to 200,000: unzip is stopped at the limit.
TEST_F(Limits, LyingLengthIsStoppedAtTheLimit) {
    const std::string a = upload("lie.zip");
    make_zip(a, {{"FILE_ID.DIZ", lines_of_78(2500)}, kReadme});
    std::string bytes = read_file(a);
    ASSERT_FALSE(first_member_has_data_descriptor(bytes));
    const std::string hundred("\x64\0\0\0", 4);
    bytes.replace(22, 4, hundred);                            // local header: length
    bytes.replace(bytes.find("PK\x01\x02") + 24, 4, hundred); // central directory: length
    write_file(a, bytes);
    for (const char *mode : {"-v", "-s"}) {
        RunResult result = run({mode, a});
        EXPECT_EQ(
            result.out,
            std::string(mode) == "-s"
                ? ""
                : verbose_run(extract_failure(a, "it has more than the limit of 65536 bytes"), 0));
        expect_untouched(a, bytes, false);
    }
}

// A temporary directory with no room (here: a file size limit, under which
// unzip still exits 0): a listing cut short, or a description cut short,
// gives the archive up.
TEST_F(Limits, CutListingOrDescriptionGivesTheArchiveUp) {
    std::vector<Member> many;
    for (int i = 0; i < 60; ++i)
        many.push_back({"member_with_a_long_name_" + std::to_string(i) + ".txt", "x"});
    many.push_back({"FILE_ID.DIZ", "Cool tool\r\n"});
    const std::string listed = upload("listed.zip");
    make_zip(listed, many);
    const std::string described = upload("described.zip");
    make_zip(described, {{"FILE_ID.DIZ", lines_of_78(100)}, kReadme});
    const std::string listed_before = read_file(listed);
    const std::string described_before = read_file(described);

    RunOptions limited;
    limited.file_size_limit = 4000;
    RunResult result = run_tagger({"-v", listed, described}, limited);
    EXPECT_EQ(mask_temp_names(result.out),
              verbose_run(listed + ": error!\nvelmotag: listing '" + listed +
                              "': its listing in '" + kTmpDir +
                              "/rt_filelist_XXXXXX' was cut short: File too large\n" +
                              extract_failure(described, "got 4000 of its 8000 bytes"),
                          0));
    expect_untouched(listed, listed_before, true);
    expect_untouched(described, described_before, true);
}

// The same on a real full temporary directory: with no page left, and with
// two, one for the listing and one for half the description.
TEST_F(Limits, FullTemporaryDirectoryGivesTheArchiveUp) {
    SmallFileSystem tmp(kTmpDir, "256k");
    if (!tmp.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string a = upload("a.zip");
    make_zip(a, {{"FILE_ID.DIZ", lines_of_78(100)}, kReadme});
    const std::string before = read_file(a);

    tmp.fill_leaving(0);
    RunResult result = run_tagger({"-v", a});
    EXPECT_EQ(mask_temp_names(result.out),
              verbose_run(a + ": error!\nvelmotag: listing '" + a + "': its listing in '" +
                              kTmpDir +
                              "/rt_filelist_XXXXXX' was cut short: No space left on "
                              "device\n",
                          0));
    expect_untouched(a, before, true);

    tmp.fill_leaving(8192);
    result = run_tagger({"-v", a});
    EXPECT_EQ(result.out, verbose_run(extract_failure(a, "got 4096 of its 8000 bytes"), 0));
    expect_untouched(a, before, true);
}

// A listing cut short by a full temporary directory at the end of a line,
// after which room comes free again (another run removed its files): the
// archive's own member count shows the cut.
TEST_F(Limits, ListingCutAtALineEndIsFoundByTheMemberCount) {
    SmallFileSystem tmp(kTmpDir, "256k");
    if (!tmp.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    // Names of five characters make each listing line 64 bytes long, so a
    // page holds 64 whole lines; FILE_ID.DIZ comes after them.
    std::vector<Member> members;
    for (int i = 0; i < 100; ++i)
        members.push_back({"m" + std::to_string(1000 + i), "x\n"});
    members.push_back({"FILE_ID.DIZ", "Cool tool\r\n"});
    const std::string a = upload("many.zip");
    make_zip(a, members);
    const std::string before = read_file(a);
    put_site_script(kUnzip,
                    "'" + std::string(E2E_SYSTEM_UNZIP) +
                        "' \"$@\"; status=$?\n[ \"$1\" = -vqq ] && rm -f '" + kTmpDir +
                        "/filler'\nexit $status\n",
                    fs::perms::owner_all);
    tmp.fill_leaving(4096);
    RunResult result = run_tagger({"-v", a});
    EXPECT_EQ(mask_temp_names(result.out),
              verbose_run(a + ": error!\nvelmotag: listing '" + a + "': its listing in '" +
                              kTmpDir +
                              "/rt_filelist_XXXXXX' was cut short: it names 64 of 101 members\n",
                          0));
    expect_untouched(a, before, true);
}

// An upload file system without room for zip's rewrites: found before the
// first write, for an ordinary archive and for one tagged in a working
// copy.
TEST_F(Limits, FullUploadFileSystemIsFoundBeforeTheFirstWrite) {
    const std::string dir = upload("small");
    SmallFileSystem small(dir, "512k");
    if (!small.mounted())
        GTEST_SKIP() << "needs root to mount a small tmpfs";
    std::string data;
    for (int i = 0; data.size() < 150000; ++i)
        data += std::to_string(i * 7919 % 100003) + "\n";
    make_zip(dir + "/a.zip", {{"FILE_ID.DIZ", "Cool tool\r\n"}, {"data.txt", data}});
    fs::copy_file(dir + "/a.zip", dir + "/noext");
    const std::string before = read_file(dir + "/a.zip");
    small.fill_leaving(static_cast<long long>(before.size()) + 20000);

    RunResult result = run_tagger({"-v", dir + "/a.zip", dir + "/noext"});
    const std::string needs = "error!\nvelmotag: tagging '" + dir + "/a.zip': it needs ";
    EXPECT_EQ(
        result.out.find("velmotag: verbose mode on\n" + dir + "/a.zip: (FILE_ID.DIZ) " + needs), 0u)
        << result.out;
    EXPECT_NE(result.out.find(dir + "/noext: (FILE_ID.DIZ) error!\nvelmotag: tagging '" + dir +
                              "/noext': "),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("velmotag: 0 files tagged\n"), std::string::npos);
    expect_untouched(dir + "/a.zip", before, true);
    expect_untouched(dir + "/noext", before, true);
}

// An upload that is mostly holes (here 64 MiB of them before a small
// archive, which unzip still reads) is given up before anything is copied:
// a ZIP archive is never sparse, and a copy would fill the holes.
TEST_F(Limits, SparseUploadIsGivenUpBeforeAnyCopy) {
    make_zip(upload("small.zip"), {kReadme});
    const std::string zip = read_file(upload("small.zip"));
    const std::string sparse = upload("sparse");
    {
        const int fd = open(sparse.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, zip.data(), zip.size(), 64LL << 20), static_cast<ssize_t>(zip.size()));
        close(fd);
    }
    const std::string before = read_file(sparse);
    RunResult result = run({"-v", sparse});
    EXPECT_NE(result.out.find("(no diz) error!\nvelmotag: tagging '" + sparse +
                              "': it is a sparse file: "),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(read_file(sparse) == before);
}

} // namespace
} // namespace e2e
