#include "e2e_support.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

const std::string kTagger = E2E_TAGGER;
const std::string kConfDir = E2E_CONF_DIR;
const std::string kUnzip = E2E_UNZIP_PATH;
const std::string kZip = E2E_ZIP_PATH;
const std::string kTmpDir = E2E_TMP_DIR;
const std::string kStateDir = E2E_STATE_DIR;

const std::string kTagLine = "--== zORV97 [Zelbrin Ostrak Ruvane Vell] zORV97 ==--";
const std::string kSiteComment = "Tagged at the test site\n";
const std::string kOtherComment = "Another comment\n";
const std::string kZorvInfo = "zorv97 site info\n";
const std::string kVelmoInfo = "velmo97 siteop info\n";
const std::string kOtherInfo = "other info\n";

const std::string kTestTmpRoot = E2E_TMP_ROOT;

namespace {

// Where zip makes an archive and unzip reads one, out of the test's sight.
velmo::test::TempDir scratch_dir() {
    return velmo::test::TempDir("scratch_", kTestTmpRoot);
}

// unzip takes * ? [ ] in an archive name for a pattern, so readers work on a
// plain-named copy.
RunResult unzip_copy_of(const std::string &archive, std::vector<std::string> args_before,
                        std::vector<std::string> args_after = {}) {
    const velmo::test::TempDir scratch = scratch_dir();
    std::string copy = scratch.path("copy.zip");
    write_file(copy, read_file(archive));
    args_before.push_back(copy);
    args_before.insert(args_before.end(), args_after.begin(), args_after.end());
    return run_program(E2E_SYSTEM_UNZIP, args_before);
}

} // namespace

void put_site_script(const std::string &site_program, const std::string &body, fs::perms perms) {
    fs::remove(site_program);
    write_file(site_program, "#!/bin/sh\n" + body);
    fs::permissions(site_program, perms);
}

void restore_site_program(const std::string &site_program, const std::string &real_program) {
    fs::remove(site_program);
    fs::create_symlink(real_program, site_program);
}

void steer_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir,
                        const std::string &action, bool once) {
    const std::string first = once ? " && mkdir '" + dir + "/steered' 2>/dev/null" : "";
    put_site_script(site_program, "if [ \"$1\" = '" + option + "' ]" + first + "; then\n" + action +
                                      "\nfi\nexec '" + real_program + "' \"$@\"\n");
}

std::string pause_action(const std::string &dir) {
    return "    : > '" + dir + "/ready'\n    while [ ! -e '" + dir + "/go' ]; do sleep 0.05; done";
}

void pause_site_program(const std::string &site_program, const std::string &real_program,
                        const std::string &option, const std::string &dir) {
    steer_site_program(site_program, real_program, option, dir, pause_action(dir));
}

bool wait_for_path(const std::string &path, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!path_exists(path)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(10000);
    }
    return true;
}

std::string directory_lock_path(const std::string &dir) {
    struct stat st {};
    EXPECT_EQ(stat(dir.c_str(), &st), 0) << dir;
    char name[64];
    std::snprintf(name, sizeof name, "d-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return kStateDir + "/locks/" + name;
}

std::string beside_lock_path(const std::string &archive) {
    std::uint64_t hash = 14695981039346656037ULL; // FNV-1a of the name
    for (unsigned char c : fs::path(archive).filename().string())
        hash = (hash ^ c) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return (fs::path(archive).parent_path() / (std::string(".velmotag_lock_") + hex)).string();
}

HeldLock::HeldLock(const std::string &path) {
    fs::create_directories(fs::path(path).parent_path());
    fd_ = fs::is_directory(path) ? open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                 : open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_GE(fd_, 0) << path;
    EXPECT_EQ(flock(fd_, LOCK_EX), 0) << path;
}

HeldLock::~HeldLock() {
    if (fd_ >= 0)
        close(fd_);
}

RunResult run_tagger(const std::vector<std::string> &args, const RunOptions &options) {
    return run_program(kTagger, args, options);
}

RunResult run_tagger_logged(const std::vector<std::string> &args, std::vector<std::string> *log,
                            RunOptions options) {
    const velmo::test::TempDir scratch = scratch_dir();
    const std::string file = scratch.path("syslog");
    const char *asan = std::getenv("ASAN_OPTIONS");
    options.env.push_back("LD_PRELOAD=" + std::string(E2E_SYSLOG_CAPTURE));
    options.env.push_back("VELMO_SYSLOG_FILE=" + file);
    // A sanitized tagger must let the capture come before its runtime.
    options.env.push_back("ASAN_OPTIONS=" + std::string(asan ? asan : "") +
                          ":verify_asan_link_order=0");
    RunResult result = run_tagger(args, options);
    log->clear();
    std::istringstream lines(read_file(file));
    for (std::string line; std::getline(lines, line);)
        log->push_back(line);
    return result;
}

void make_zip(const std::string &archive, const std::vector<Member> &members) {
    const velmo::test::TempDir scratch = scratch_dir();
    std::vector<std::string> args{"-q", "-X", "made.zip"};
    for (const Member &m : members) {
        fs::path file = fs::path(scratch.path()) / m.name;
        fs::create_directories(file.parent_path());
        write_file(file.string(), m.bytes);
        args.push_back(m.name);
    }
    RunOptions in_scratch;
    in_scratch.cwd = scratch.path();
    RunResult made = run_program(E2E_SYSTEM_ZIP, args, in_scratch);
    ASSERT_EQ(made.status, 0) << made.err;
    write_file(archive, read_file(scratch.path("made.zip")));
}

void make_empty_zip(const std::string &archive) {
    write_file(archive, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
}

std::vector<std::string> zip_names(const std::string &archive) {
    std::vector<std::string> names;
    std::istringstream lines(unzip_copy_of(archive, {"-Z1"}).out);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line);
    std::sort(names.begin(), names.end());
    return names;
}

std::string zip_member(const std::string &archive, const std::string &name) {
    return unzip_copy_of(archive, {"-p"}, {name}).out;
}

std::string zip_comment(const std::string &archive) {
    return unzip_copy_of(archive, {"-zq"}).out;
}

std::string zip_listing(const std::string &archive) {
    return unzip_copy_of(archive, {"-vqq"}).out;
}

RunResult zip_test(const std::string &archive) {
    return unzip_copy_of(archive, {"-tqq"});
}

std::string listing_line_with(const std::string &archive, const std::string &keyword) {
    std::istringstream lines(zip_listing(archive));
    for (std::string line; std::getline(lines, line);) {
        for (char &c : line)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (line.find(keyword) != std::string::npos)
            return line + "\n";
    }
    ADD_FAILURE() << "no listing line of " << archive << " holds " << keyword;
    return {};
}

std::string mask_temp_names(std::string text) {
    for (const std::string prefix : {"rt_filelist_", "rt_tmpdiz_", "velmotag_"}) {
        for (std::size_t at = text.find(prefix); at != std::string::npos;
             at = text.find(prefix, at + 1)) {
            std::size_t suffix = at + prefix.size();
            if (suffix + 6 <= text.size())
                text.replace(suffix, 6, "XXXXXX");
        }
    }
    return text;
}

std::string list_command(const std::string &archive) {
    return "( " + kUnzip + " -vqq " + archive + " > " + kTmpDir +
           "/rt_filelist_XXXXXX ) 2> /dev/null\n";
}

std::string extract_command(const std::string &archive) {
    return kUnzip + " -Cqqp " + archive + " FILE_ID.DIZ > " + kTmpDir + "/rt_tmpdiz_XXXXXX 2>&1\n";
}

std::string store_command(const std::string &archive, const std::string &file) {
    return kZip + " -jqq " + archive + " " + file + " > /dev/null 2>&1\n";
}

std::string comment_command(const std::string &archive, const std::string &comment_name) {
    return kZip + " -zqq " + archive + " < " + kConfDir + "/" + comment_name +
           " > /dev/null 2>&1\n";
}

std::string info_command(const std::string &archive, const std::string &nfo_name) {
    return kZip + " -jqq " + archive + " " + kConfDir + "/" + nfo_name + "  > /dev/null 2>&1\n";
}

std::string tagged(const std::string &kept_lines, int indent) {
    return kept_lines + std::string(static_cast<std::size_t>(std::max(indent, 1)), ' ') + kTagLine +
           "\r\n";
}

std::string chown_line(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        ADD_FAILURE() << "cannot stat " << path;
        return {};
    }
    return "chown " + std::to_string(st.st_uid) + "." + std::to_string(st.st_gid) + " " + path +
           "\n";
}

std::string mode_word(const std::string &option) {
    if (option == "-v")
        return "Verbose";
    if (option == "-q")
        return "Quiet";
    if (option == "-c")
        return "Commands";
    if (option == "-d")
        return "Debug";
    return "Siteop";
}

std::string mode_case_name(const ::testing::TestParamInfo<const char *> &info) {
    return mode_word(info.param);
}

void TaggerSite::SetUp() {
    fs::create_directories(kConfDir);
    write_conf("keyword ZORV97\n");
    write_file(kConfDir + "/sitetag.asc", kSiteComment);
    write_file(kConfDir + "/other.asc", kOtherComment);
    write_file(kConfDir + "/zorv97.nfo", kZorvInfo);
    write_file(kConfDir + "/velmo97.nfo", kVelmoInfo);
    write_file(kConfDir + "/other.nfo", kOtherInfo);
    restore_site_program(kUnzip, E2E_SYSTEM_UNZIP);
    restore_site_program(kZip, E2E_SYSTEM_ZIP);
    // Start every test clean: no temporary files, no locks or records of
    // changes that an earlier test's runs left.
    fs::remove_all(kTmpDir);
    fs::create_directories(kTmpDir);
    fs::remove_all(kStateDir);
    fs::create_directories(kStateDir);
    fs::permissions(kStateDir, fs::perms::owner_all);
}

void TaggerSite::write_conf(const std::string &text) {
    write_file(kConfDir + "/velmotag.conf", text);
}

} // namespace e2e
