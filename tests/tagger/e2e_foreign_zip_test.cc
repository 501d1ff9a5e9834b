// Archives written by other programs than Info-ZIP zip: Python's zipfile
// (stored and deflated, with the sizes in the local header or in a data
// descriptor after the data) and bsdtar. The tagger hands them to Info-ZIP
// zip, which rewrites them; every original member must come out byte for
// byte and the result must test sound. A program that is not installed
// skips its case.
#include "e2e_upload_site.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::vector<Member> kMembers = {
    {"FILE_ID.DIZ", "Made elsewhere\r\nStill a tool\r\n"},
    {"readme.txt", "hello\n"},
    {"docs/manual.txt", std::string(3000, 'm') + "\n"},
};
const std::string kStored = tagged("Made elsewhere\n\rStill a tool\n\r");

// The program's path as the shell's search of PATH finds it; empty when it
// is not installed.
std::string find_program(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// The script lies beside this source file.
const std::string kMakePyzip = fs::path(__FILE__).parent_path().string() + "/make_pyzip.py";

class ForeignArchives : public UploadSite, public ::testing::WithParamInterface<const char *> {
  protected:
    void SetUp() override {
        UploadSite::SetUp();
        src_ = upload("src");
        for (const Member &m : kMembers) {
            fs::create_directories(fs::path(src_ + "/" + m.name).parent_path());
            write_file(src_ + "/" + m.name, m.bytes);
        }
    }

    std::vector<std::string> member_names() const {
        std::vector<std::string> names;
        for (const Member &m : kMembers)
            names.push_back(m.name);
        return names;
    }

    // Tags every archive in one run of the mode and checks each one.
    void expect_all_tagged(const std::vector<std::string> &names) {
        fs::remove_all(src_);
        const std::string mode = GetParam();
        const bool siteop = mode == "-s";
        std::vector<std::string> args{mode};
        std::string lines;
        for (const std::string &name : names) {
            args.push_back(upload(name));
            lines += upload(name) + ": (FILE_ID.DIZ) done\n";
            RunResult test = zip_test(upload(name));
            ASSERT_EQ(test.status, 0) << name << " as made: " << test.out;
        }
        RunResult result = run(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, siteop ? "" : verbose_run(lines, static_cast<int>(names.size())));
        for (const std::string &name : names)
            expect_tagged(upload(name), kMembers, kStored, siteop);
    }

    std::string src_;
};

TEST_P(ForeignArchives, PythonZipfile) {
    const std::string python = find_program("python3");
    if (python.empty())
        GTEST_SKIP() << "python3 is not installed";
    std::vector<std::string> args{kMakePyzip, src_, upload_dir()};
    for (const std::string &member : member_names())
        args.push_back(member);
    RunResult made = run_program(python, args);
    ASSERT_EQ(made.status, 0) << made.err;
    std::vector<std::string> names;
    for (const std::string method : {"stored", "deflated"}) {
        for (const std::string how : {"seek", "stream"}) {
            std::string name = "py-" + method + "-" + how + ".zip";
            EXPECT_EQ(first_member_has_data_descriptor(read_file(upload(name))), how == "stream")
                << name;
            names.push_back(name);
        }
    }
    expect_all_tagged(names);
}

TEST_P(ForeignArchives, Bsdtar) {
    const std::string bsdtar = find_program("bsdtar");
    if (bsdtar.empty())
        GTEST_SKIP() << "bsdtar (libarchive-tools) is not installed";
    std::vector<std::string> names;
    for (const char *compression : {"deflate", "store"}) {
        std::string name = std::string("bsdtar-") + compression + ".zip";
        std::vector<std::string> args{
            "--format", "zip",        "--options", std::string("zip:compression=") + compression,
            "-cf",      upload(name), "-C",        src_};
        for (const std::string &member : member_names())
            args.push_back(member);
        RunResult made = run_program(bsdtar, args);
        ASSERT_EQ(made.status, 0) << made.err;
        names.push_back(name);
    }
    expect_all_tagged(names);
}

INSTANTIATE_TEST_SUITE_P(VerboseAndSiteop, ForeignArchives, ::testing::Values("-v", "-s"),
                         mode_case_name);

} // namespace
} // namespace e2e
