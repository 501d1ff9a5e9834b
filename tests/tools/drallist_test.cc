// End-to-end tests of drallist on store files made here, and on the files
// that dralgen writes.
#include "support/files.h"
#include "support/process.h"
#include "support/store_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

using std::string_literals::operator""s;

namespace {

using velmo::test::run_program;
using velmo::test::RunResult;
using velmo::test::TempDir;
using velmo::test::write_file;

const std::string kUsage = "\n USAGE drallist (file) (opts)\n";
const std::string &kEndMarker = velmo::test::kEndMarkerBytes;
const std::string kExampleIndex = "intro\n\0\0"s
                                  "\0\0\0\0"s +
                                  kEndMarker;
const std::string kExampleData = "\x02\0\0\0"s
                                 "\x06\0\0\0"s
                                 "Hello\n";

class DrallistTest : public ::testing::Test {
  protected:
    void store(const std::string &index, const std::string &data) {
        write_file(dir.path("db.dral"), index);
        write_file(dir.path("db"), data);
    }
    RunResult list() { return run_program(DRALLIST_PATH, {dir.path("db")}); }
    RunResult list_details() { return run_program(DRALLIST_PATH, {dir.path("db"), "x"}); }
    TempDir dir;
};

TEST_F(DrallistTest, ListsTheWorkedExample) {
    store(kExampleIndex, kExampleData);
    const RunResult plain = list();
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, "DRAL 0: name: intro\n (data offset 0)\nDRALEND detected.\n");
    const std::string detailed =
        "DRAL 0: name: intro\n (data offset 0)( datatype 2 datasize 6 )\nDRALEND detected.\n";
    EXPECT_EQ(list_details().out, detailed);
    const RunResult empty_opt = run_program(DRALLIST_PATH, {dir.path("db"), ""});
    EXPECT_EQ(empty_opt.status, 0);
    EXPECT_EQ(empty_opt.out, detailed);
}

TEST_F(DrallistTest, ListsFullNamesDuplicatesAndStopsAtTheEndMarker) {
    store("abcdefgh\x10\0\0\0"s
          "dup\0\0\0\0\0\xff\xff\xff\x7f"s
          "dup\0\0\0\0\0\x10\0\0\0"s +
              kEndMarker + "garbage",
          "");
    const RunResult run = list();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "DRAL 0: name: abcdefgh (data offset 16)\n"
                       "DRAL 1: name: dup (data offset 2147483647)\n"
                       "DRAL 2: name: dup (data offset 16)\nDRALEND detected.\n");
    store(kEndMarker, "");
    EXPECT_EQ(list().out, "DRALEND detected.\n");
}

TEST_F(DrallistTest, IndexCutShortAtAnyLengthIsRejected) {
    const std::string index = "a\0\0\0\0\0\0\0\0\0\0\0"s
                              "b\0\0\0\0\0\0\0\x08\0\0\0"s +
                              kEndMarker;
    const std::string lines[] = {"DRAL 0: name: a (data offset 0)\n",
                                 "DRAL 1: name: b (data offset 8)\n"};
    for (std::size_t len = 0; len < index.size(); ++len) {
        store(index.substr(0, len), "");
        const RunResult run = list();
        std::string expected;
        for (std::size_t i = 0; i < len / 12 && i < 2; ++i)
            expected += lines[i];
        EXPECT_EQ(run.status, 1) << "length " << len;
        EXPECT_EQ(run.out, expected + "Bad .dral format.\n") << "length " << len;
    }
}

TEST_F(DrallistTest, UnreadableBlockHeaderIsNamedAndFailsTheRun) {
    store("ok\0\0\0\0\0\0\0\0\0\0"s
          "cut\0\0\0\0\0\x0a\0\0\0"s
          "far\0\0\0\0\0\x00\x10\0\0"s
          "neg\0\0\0\0\0\xff\xff\xff\xff"s +
              kEndMarker,
          kExampleData);
    const RunResult run = list_details();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "DRAL 0: name: ok (data offset 0)( datatype 2 datasize 6 )\n"
                       "DRAL 1: name: cut (data offset 10)( truncated block header )\n"
                       "DRAL 2: name: far (data offset 4096)( truncated block header )\n"
                       "DRAL 3: name: neg (data offset -1)( bad data offset )\n"
                       "DRALEND detected.\n");
    EXPECT_EQ(list().status, 0); // without details the headers are never read
}

TEST_F(DrallistTest, CommandLineAndOpenFailures) {
    for (const auto &args : std::vector<std::vector<std::string>>{{}, {"a", "b", "c"}}) {
        const RunResult run = run_program(DRALLIST_PATH, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kUsage);
    }
    RunResult run = list_details(); // neither file exists: the data file is opened first
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Cannot open data file.\n");
    run = list();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Cannot open .dral file.\n");
    write_file(dir.path("db"), kExampleData);
    EXPECT_EQ(list_details().out, "Cannot open .dral file.\n");
}

TEST_F(DrallistTest, FailedOutputFailsTheRun) {
    store(kExampleIndex, kExampleData);
    velmo::test::RunOptions to_full_device;
    to_full_device.stdout_path = "/dev/full";
    EXPECT_EQ(run_program(DRALLIST_PATH, {dir.path("db")}, to_full_device).status, 1);
}

TEST_F(DrallistTest, ListsWhatTheGeneratorWrote) {
    write_file(dir.path("src"), "BLOCK START greeting\nHello\nworld\nBLOCK END\nnote\n"
                                "BLOCK START 7chars!\nBLOCK END\n");
    ASSERT_EQ(run_program(DRALGEN_PATH, {dir.path("src"), dir.path("db")}).status, 0);
    const RunResult run = list_details();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "DRAL 0: name: greeting (data offset 0)( datatype 2 datasize 12 )\n"
                       "DRAL 1: name: 7chars!\n (data offset 25)( datatype 2 datasize 0 )\n"
                       "DRALEND detected.\n");
}

TEST(Idsample, PrintsOneIdentifierLineWhateverTheArguments) {
    for (const auto &args : std::vector<std::vector<std::string>>{{}, {"x", "y"}}) {
        const RunResult run = run_program(IDSAMPLE_PATH, args);
        EXPECT_EQ(run.status, 12);
        EXPECT_EQ(run.out, "sux0r 00035\n");
    }
}

} // namespace
