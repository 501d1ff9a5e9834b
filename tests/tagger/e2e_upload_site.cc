#include "e2e_upload_site.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string describe_entry(const fs::path &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    std::string mode = std::to_string(st.st_mode & 07777) + ":";
    if (S_ISLNK(st.st_mode))
        return "link " + mode + fs::read_symlink(path).string();
    if (S_ISDIR(st.st_mode))
        return "dir " + mode;
    if (S_ISREG(st.st_mode))
        return "file " + mode + std::to_string(st.st_nlink) + ":" + read_file(path.string());
    return "other " + mode;
}

// Names present in only one snapshot, or with other contents.
std::vector<std::string> changed_entries(const TreeSnapshot &before, const TreeSnapshot &after) {
    std::vector<std::string> changed;
    for (const auto &[name, what] : before) {
        auto now = after.find(name);
        if (now == after.end() || now->second != what)
            changed.push_back(name);
    }
    for (const auto &[name, what] : after) {
        if (!before.count(name))
            changed.push_back(name);
    }
    std::sort(changed.begin(), changed.end());
    return changed;
}

bool is_description_name(const fs::path &path) {
    return strcasecmp(path.filename().c_str(), "FILE_ID.DIZ") == 0;
}

std::string absolute_argument(const std::string &arg, const std::string &cwd) {
    fs::path path = arg[0] == '/' ? fs::path(arg) : fs::path(cwd) / arg;
    return path.lexically_normal().string();
}

// A changed upload entry is expected when it is a named archive, or a
// rewritten description beside one.
bool may_change(const std::string &path, const std::vector<std::string> &archives) {
    for (const std::string &archive : archives) {
        if (path == archive)
            return true;
        if (is_description_name(path) &&
            fs::path(path).parent_path() == fs::path(archive).parent_path())
            return true;
    }
    return false;
}

} // namespace

TreeSnapshot snapshot_tree(const std::string &dir) {
    TreeSnapshot snapshot;
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(dir, ec)) {
        std::string name = entry.path().string().substr(dir.size() + 1);
        snapshot[name] = describe_entry(entry.path());
    }
    if (ec)
        ADD_FAILURE() << "cannot read " << dir << ": " << ec.message();
    return snapshot;
}

bool first_member_has_data_descriptor(const std::string &archive_bytes) {
    return archive_bytes.size() > 7 && archive_bytes.compare(0, 4, "PK\x03\x04") == 0 &&
           (static_cast<unsigned char>(archive_bytes[6]) & 0x08) != 0;
}

std::string verbose_run(const std::string &lines, int count) {
    return "velmotag: verbose mode on\n" + lines + "velmotag: " + std::to_string(count) +
           " files tagged\n";
}

::testing::AssertionResult same_bytes(const std::string &actual, const std::string &expected) {
    if (actual == expected)
        return ::testing::AssertionSuccess();
    constexpr std::size_t kPrintable = 4096;
    if (actual.size() < kPrintable && expected.size() < kPrintable)
        return ::testing::AssertionFailure() << "got\n"
                                             << ::testing::PrintToString(actual) << "\nexpected\n"
                                             << ::testing::PrintToString(expected);
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    return ::testing::AssertionFailure() << "got " << actual.size() << " bytes, expected "
                                         << expected.size() << "; first difference at " << at;
}

void UploadSite::SetUp() {
    TaggerSite::SetUp();
    write_file(outside() + "/victim.txt", "precious\n");
    write_file(outside() + "/FILE_ID.DIZ", "someone else's description\r\n");
    make_zip(outside() + "/victim.zip", {{"FILE_ID.DIZ", "Not for tagging\r\n"}});
}

RunResult UploadSite::run(const std::vector<std::string> &args, const std::string &cwd) {
    const std::string dir = cwd.empty() ? outside() : cwd;
    std::vector<std::string> archives;
    for (const std::string &arg : args) {
        if (arg[0] != '-')
            archives.push_back(absolute_argument(arg, dir));
    }
    const TreeSnapshot outside_before = snapshot_tree(outside());
    const TreeSnapshot conf_before = snapshot_tree(kConfDir);
    const TreeSnapshot upload_before = snapshot_tree(upload_dir());

    RunOptions options;
    options.cwd = dir;
    options.new_session = true;
    RunResult result = run_tagger(args, options);

    EXPECT_EQ(changed_entries(outside_before, snapshot_tree(outside())), std::vector<std::string>{})
        << "changed outside the upload directory";
    EXPECT_EQ(changed_entries(conf_before, snapshot_tree(kConfDir)), std::vector<std::string>{})
        << "changed in the site's configuration directory";
    for (const std::string &name : changed_entries(upload_before, snapshot_tree(upload_dir()))) {
        std::string path = upload_dir() + "/" + name;
        EXPECT_TRUE(may_change(path, archives))
            << "changed or made in the upload directory: " << path;
    }
    for (const std::string &name : dir_entries(kTmpDir)) {
        EXPECT_TRUE(name.rfind("rt_filelist_", 0) == 0 || name.rfind("rt_tmpdiz_", 0) == 0)
            << "left in the temporary directory: " << name;
    }
    return result;
}

void UploadSite::expect_tagged(const std::string &archive, const std::vector<Member> &members,
                               const std::string &stored_diz, bool siteop) {
    const std::string nfo = siteop ? "velmo97.nfo" : "zorv97.nfo";
    RunResult test = zip_test(archive);
    EXPECT_EQ(test.status, 0) << archive << ": " << test.out;

    std::vector<std::string> names{"FILE_ID.DIZ", nfo};
    for (const Member &m : members) {
        if (m.name == "FILE_ID.DIZ")
            continue;
        names.push_back(m.name);
        EXPECT_TRUE(same_bytes(zip_member(archive, m.name), m.bytes)) << archive << ": " << m.name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(zip_names(archive), names) << archive;
    EXPECT_TRUE(same_bytes(zip_member(archive, "FILE_ID.DIZ"), stored_diz)) << archive;
    EXPECT_EQ(zip_comment(archive), kSiteComment) << archive;
    EXPECT_EQ(zip_member(archive, nfo), siteop ? kVelmoInfo : kZorvInfo) << archive;
}

void UploadSite::expect_untouched(const std::string &archive, const std::string &before,
                                  bool was_sound_zip) {
    EXPECT_TRUE(same_bytes(read_file(archive), before)) << archive << " was changed";
    if (was_sound_zip) {
        RunResult test = zip_test(archive);
        EXPECT_EQ(test.status, 0) << archive << ": " << test.out;
    }
}

} // namespace e2e
