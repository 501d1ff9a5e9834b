// End-to-end tests of dralgen: build stores from sources made here and check
// the files byte for byte (layout in docs/store-format.md).
#include "dralgen.h"
#include "file_ptr.h"
#include "support/files.h"
#include "support/process.h"
#include "support/store_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using std::string_literals::operator""s;

namespace {

using velmo::test::le32;
using velmo::test::read_existing_file;
using velmo::test::run_program;
using velmo::test::RunResult;
using velmo::test::TempDir;
using velmo::test::write_file;

const std::string kUsage = "\nUSAGE:\n  dralgen (sourcename) (outputname)\n\n"
                           "Reads data source information and creates a table-indexed output "
                           "file.\n\n";
const std::string &kEndMarker = velmo::test::kEndMarkerBytes;
std::string entry(const std::string &name8, std::int32_t offset) {
    return name8 + le32(offset);
}
std::string header(std::int32_t size) {
    return le32(2) + le32(size);
}

class DralgenTest : public ::testing::Test {
  protected:
    // Runs dralgen on `source` into db and db.dral; returns its exit status.
    int generate(const std::string &source) {
        write_file(dir.path("src"), source);
        const RunResult run = run_program(DRALGEN_PATH, {dir.path("src"), dir.path("db")});
        out = run.out;
        return run.status;
    }
    std::string index() { return read_existing_file(dir.path("db.dral")); }
    std::string data() { return read_existing_file(dir.path("db")); }
    TempDir dir;
    std::string out;
};

TEST_F(DralgenTest, WritesTheWorkedExampleByteForByte) {
    EXPECT_EQ(generate("BLOCK START intro\nHello\nBLOCK END\n"), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(index(), "intro\n\0\0\0\0\0\0\n\n\n\n\n\n\n\n"s);
    EXPECT_EQ(data(), "\x02\0\0\0\x06\0\0\0Hello\n"s);

    EXPECT_EQ(generate(""), 0);
    EXPECT_EQ(index(), kEndMarker);
    EXPECT_EQ(data(), "");
}

TEST_F(DralgenTest, NamesKeepTheirLineFeedAndAreCutAtEightBytes) {
    // The last start line, without a line feed, has no name bytes at all.
    EXPECT_EQ(generate("BLOCK START abcdef\nBLOCK END\nBLOCK START abcdefg\nBLOCK END\n"
                       "BLOCK START abcdefgh\nBLOCK END\nBLOCK START abcdefghijk\nBLOCK ENDS\n"
                       "BLOCK START\nBLOCK END\nBLOCK STARTED x\nBLOCK END\n"
                       "BLOCK START n\0me\nBLOCK END\nBLOCK START"s),
              0);
    const std::string no_name(8, '\0');
    EXPECT_EQ(index(), entry("abcdef\n\0"s, 0) + entry("abcdefg\n", 8) + entry("abcdefgh", 16) +
                           entry("abcdefgh", 24) + entry(no_name, 32) +
                           entry("D x\n\0\0\0\0"s, 40) + entry("n\0\0\0\0\0\0\0"s, 48) +
                           entry(no_name, 56) + kEndMarker);
    EXPECT_EQ(data().size(), 8 * 8u);
}

TEST_F(DralgenTest, TextOutsideBlocksIsStoredButNotCounted) {
    EXPECT_EQ(generate("lead\nBLOCK START a\nx\nBLOCK END\nmid\nmore\n"
                       "BLOCK START b\nBLOCK END\ntail"),
              0);
    EXPECT_EQ(index(), entry("a\n\0\0\0\0\0\0"s, 5) + entry("b\n\0\0\0\0\0\0"s, 24) + kEndMarker);
    EXPECT_EQ(data(), "lead\n" + header(2) + "x\n" + "mid\nmore\n" + header(0) + "tail");
}

TEST_F(DralgenTest, LongLinesArriveInPiecesAndNulEndsALine) {
    const std::string long_text(10000, 'y');
    const std::string piece(4095, 'x');
    // The piece after 4095 bytes begins with the end prefix and closes block b.
    EXPECT_EQ(generate("BLOCK START a\n" + long_text + "\nBLOCK END\nBLOCK START b\n" + piece +
                       "BLOCK END\nBLOCK START c\nab\0cd\nef\nBLOCK END\n"s),
              0);
    EXPECT_EQ(data(),
              header(10001) + long_text + "\n" + header(4095) + piece + header(5) + "abef\n");
}

TEST_F(DralgenTest, UnbalancedStartAndEndLines) {
    // An end line that closes nothing leaves the closed block's size alone;
    // a block whose end line never comes keeps size 0.
    EXPECT_EQ(generate("BLOCK END\nBLOCK START a\nxy\nBLOCK END\nz\nBLOCK END\n"
                       "BLOCK START b\nx\nBLOCK START c\ny\nBLOCK END\n"),
              0);
    EXPECT_EQ(data(), header(3) + "xy\nz\n" + header(0) + "x\n" + header(2) + "y\n");
}

TEST_F(DralgenTest, BlockLargerThanTheWriteBufferGetsItsSize) {
    const std::string big(3 << 20, 'q');
    EXPECT_EQ(generate("BLOCK START a\n" + big + "\nBLOCK END\nBLOCK START b\nc\nBLOCK END\n"), 0);
    const std::string got = data();
    const auto size = static_cast<std::int32_t>(big.size()) + 1;
    EXPECT_EQ(got.substr(0, 8), header(size));
    EXPECT_TRUE(got == header(size) + big + "\n" + header(2) + "c\n"); // 3 MiB: no dump
}

TEST_F(DralgenTest, WrongArgumentCountPrintsUsage) {
    for (const auto &args : std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b", "c"}}) {
        const RunResult run = run_program(DRALGEN_PATH, args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kUsage);
    }
}

TEST_F(DralgenTest, OpenFailuresStopBeforeTheNextFile) {
    const RunResult no_source = run_program(DRALGEN_PATH, {dir.path("missing"), dir.path("db")});
    EXPECT_EQ(no_source.status, 1);
    EXPECT_EQ(no_source.out, "\nAch! Eye canna open the file lad!\n" + kUsage);
    EXPECT_FALSE(std::filesystem::exists(dir.path("db.dral")));

    std::filesystem::create_directory(dir.path("db.dral"));
    EXPECT_EQ(generate("BLOCK START a\n"), 1);
    EXPECT_EQ(out, "\nBloody'ell, eye canna very well index yer bloody database if I "
                   "cant open the file, now can I?\n" +
                       kUsage);
    EXPECT_FALSE(std::filesystem::exists(dir.path("db")));

    std::filesystem::remove(dir.path("db.dral"));
    std::filesystem::create_directory(dir.path("db"));
    EXPECT_EQ(generate("BLOCK START a\n"), 1);
    EXPECT_EQ(out, "\nAch, cant open data file.\n" + kUsage);
    EXPECT_EQ(index(), "");
}

TEST_F(DralgenTest, FailedReadsAndWritesEndWithStatusOne) {
    std::filesystem::create_directory(dir.path("srcdir"));
    const RunResult unreadable = run_program(DRALGEN_PATH, {dir.path("srcdir"), dir.path("db2")});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.out, "\nAch, cant read the source.\n");

    std::filesystem::create_symlink("/dev/full", dir.path("db"));
    EXPECT_EQ(generate("BLOCK START a\nx\nBLOCK END\n"), 1);
    EXPECT_EQ(out, "\nAch, cant write data file.\n");
    EXPECT_EQ(index().find(kEndMarker), std::string::npos);

    std::filesystem::remove(dir.path("db"));
    std::filesystem::remove(dir.path("db.dral"));
    std::filesystem::create_symlink("/dev/full", dir.path("db.dral"));
    EXPECT_EQ(generate("BLOCK START a\nx\nBLOCK END\n"), 1);
    EXPECT_EQ(out, "\nAch, cant write index file.\n");
}

// The conversion in-process, with a small size limit in place of 2^31 - 1.
DralgenStatus convert_with_limit(const std::string &source, std::int64_t limit) {
    const velmo::FilePtr src(std::tmpfile()), index(std::tmpfile()), data(std::tmpfile());
    std::fputs(source.c_str(), src.get());
    std::rewind(src.get());
    return dralgen_convert(src.get(), index.get(), data.get(), limit);
}

TEST(DralgenLimit, StopsBeforeAFilePassesTheLimit) {
    const std::string source = "BLOCK START a\n" + std::string(30, 'x') + "\nBLOCK END\n";
    // The data file needs 8 + 31 bytes, the index 12 + 8.
    EXPECT_EQ(convert_with_limit(source, 39), DralgenStatus::ok);
    EXPECT_EQ(convert_with_limit(source, 38), DralgenStatus::data_too_large);
    EXPECT_EQ(convert_with_limit(source, 19), DralgenStatus::index_too_large);
}

} // namespace
