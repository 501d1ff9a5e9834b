// Store files damaged on purpose. dralgen makes a small store; its index and
// its data file are then cut at every length and each of their bytes is
// flipped, and every damaged store is read by drallist (in-process through
// drallist_list, and as the program for a sample) and by the draldb
// library's lookups and readers. Each reader must end with a clean message
// and status or list a valid prefix of the intact store, and return nothing
// the files do not hold. Reads past the end are left to the sanitizer build
// (scripts/test) to catch; this test checks what the readers answer.
#include "draldb.h"
#include "drallist.h"
#include "file_ptr.h"
#include "le32.h"
#include "support/files.h"
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

namespace {

using velmo::test::read_existing_file;
using velmo::test::run_program;
using velmo::test::RunResult;
using velmo::test::TempDir;
using velmo::test::write_file;

// Several blocks, names of 8 characters, shorter ones that keep their line
// feed, one cut from a longer name, an empty one and a repeated one; an
// empty block and text between blocks.
const std::string kSource = "BLOCK START greeting\nHello\nworld\nBLOCK END\n"
                            "a note between blocks\n"
                            "BLOCK START motd\nUploads close at midnight.\nBLOCK END\n"
                            "BLOCK START 7chars!\nBLOCK END\n"
                            "BLOCK START longername\nx\nBLOCK END\n"
                            "BLOCK START\nnameless\nBLOCK END\n"
                            "BLOCK START motd\nagain\nBLOCK END\n";

// The generated store's entries, names as drallist prints them.
struct Entry {
    std::string name;
    std::int32_t offset;
    std::int32_t size;
};
const Entry kEntries[] = {{"greeting", 0, 12}, {"motd\n", 42, 27}, {"7chars!\n", 77, 0},
                          {"longerna", 85, 2}, {"", 95, 9},        {"motd\n", 112, 6}};
constexpr std::size_t kEntryCount = std::size(kEntries);
constexpr std::size_t kIndexEntryBytes = 12;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kIndexBytes = kEntryCount * kIndexEntryBytes + 8;
constexpr std::size_t kDataBytes = 126;

const std::string kEndLine = "DRALEND detected.\n";
const std::string kBadFormat = "Bad .dral format.\n";
const std::string kTruncatedHeader = "( truncated block header )";
const std::string kBadOffset = "( bad data offset )";

// Two patterns per byte: all bits, which turns a small number negative, and
// the low seven, which makes it large.
constexpr unsigned char kFlips[] = {0xFF, 0x7F};

// Every drallist run in-process; the program itself runs for one in so many.
constexpr std::size_t kProgramSample = 7;

std::int32_t le32_at(const std::string &bytes, std::size_t at) {
    return velmo::decode_le32(reinterpret_cast<const unsigned char *>(bytes.data() + at));
}

std::string entry_text(std::size_t n, const std::string &details) {
    return "DRAL " + std::to_string(n) + ": name: " + kEntries[n].name + " (data offset " +
           std::to_string(kEntries[n].offset) + ")" + details + "\n";
}

std::string intact_details(std::size_t n) {
    return "( datatype 2 datasize " + std::to_string(kEntries[n].size) + " )";
}

enum class Damage { none, index_cut, data_cut, index_flip, data_flip };

bool is_data_damage(Damage damage) {
    return damage == Damage::data_cut || damage == Damage::data_flip;
}

struct DamagedStore {
    Damage damage;
    std::size_t at; // the length cut to, or the byte flipped
    std::string index;
    std::string data;
    std::string label;
};

// The intact store cut at every length of its index or of its data file.
std::vector<DamagedStore> cuts(Damage damage, const DamagedStore &intact) {
    const bool data = is_data_damage(damage);
    std::vector<DamagedStore> stores;
    for (std::size_t len = 0; len < (data ? intact.data : intact.index).size(); ++len) {
        DamagedStore s = intact;
        s.damage = damage;
        s.at = len;
        (data ? s.data : s.index).resize(len);
        s.label = std::string(data ? "data" : "index") + " cut to " + std::to_string(len);
        stores.push_back(std::move(s));
    }
    return stores;
}

// The intact store with one byte of its index or data file flipped, for each
// byte and each pattern.
std::vector<DamagedStore> flips(Damage damage, const DamagedStore &intact) {
    const bool data = is_data_damage(damage);
    std::vector<DamagedStore> stores;
    for (const unsigned char pattern : kFlips) {
        for (std::size_t at = 0; at < (data ? intact.data : intact.index).size(); ++at) {
            DamagedStore s = intact;
            s.damage = damage;
            s.at = at;
            (data ? s.data : s.index)[at] ^= static_cast<char>(pattern);
            s.label = std::string(data ? "data" : "index") + " byte " + std::to_string(at) +
                      " xor " + std::to_string(pattern);
            stores.push_back(std::move(s));
        }
    }
    return stores;
}

// Entries that every reader finds before the end marker or the end of a
// complete entry. One flipped byte never makes or unmakes a whole entry: a
// flipped end marker is read as a name that has no offset after it.
std::size_t complete_entries(const DamagedStore &s) {
    if (s.damage == Damage::index_cut)
        return std::min(s.at / kIndexEntryBytes, kEntryCount);
    return kEntryCount;
}

// What drallist must print: the intact text of each entry listed, except
// that the entry at `changed` may read differently, then the closing line.
struct ExpectedListing {
    std::vector<std::string> entries;
    std::optional<std::size_t> changed;
    std::string closing;
};

ExpectedListing expected_listing(const DamagedStore &s, bool details) {
    ExpectedListing expected;
    for (std::size_t n = 0; n < complete_entries(s); ++n) {
        const std::size_t header_end = kEntries[n].offset + kHeaderBytes;
        std::string text;
        if (details)
            text = header_end <= s.data.size() ? intact_details(n) : kTruncatedHeader;
        expected.entries.push_back(entry_text(n, text));
        const bool flipped_header = s.damage == Damage::data_flip && details &&
                                    s.at >= header_end - kHeaderBytes && s.at < header_end;
        if (flipped_header)
            expected.changed = n;
    }
    const bool flipped_entry =
        s.damage == Damage::index_flip && s.at < kEntryCount * kIndexEntryBytes;
    if (flipped_entry)
        expected.changed = s.at / kIndexEntryBytes;
    const bool marker_lost =
        s.damage == Damage::index_cut || (s.damage == Damage::index_flip && !flipped_entry);
    expected.closing = marker_lost ? kBadFormat : kEndLine;
    return expected;
}

void expect_listing(const std::string &listing, const ExpectedListing &expected) {
    if (!expected.changed) {
        std::string whole;
        for (const std::string &entry : expected.entries)
            whole += entry;
        EXPECT_EQ(listing, whole + expected.closing);
        return;
    }
    // Only the changed entry's own text is unknown; the rest is a valid prefix
    // and suffix of the intact listing.
    const std::size_t n = *expected.changed;
    std::string before, after;
    for (std::size_t i = 0; i < expected.entries.size(); ++i) {
        if (i != n)
            (i < n ? before : after) += expected.entries[i];
    }
    after += expected.closing;
    ASSERT_GE(listing.size(), before.size() + after.size()) << listing;
    EXPECT_TRUE(listing.starts_with(before)) << listing;
    EXPECT_TRUE(listing.ends_with(after)) << listing;
    const std::string middle =
        listing.substr(before.size(), listing.size() - before.size() - after.size());
    EXPECT_TRUE(middle.starts_with("DRAL " + std::to_string(n) + ": name: ")) << middle;
    EXPECT_TRUE(middle.ends_with("\n")) << middle;
}

// The status follows from the text: no end marker, or a header that could not
// be read.
void expect_status_matches(DrallistStatus status, const std::string &listing) {
    DrallistStatus expected = DrallistStatus::complete;
    if (listing.ends_with(kBadFormat))
        expected = DrallistStatus::bad_format;
    else if (listing.find(kTruncatedHeader) != std::string::npos ||
             listing.find(kBadOffset) != std::string::npos)
        expected = DrallistStatus::bad_block_header;
    EXPECT_EQ(status, expected) << listing;
}

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

struct Listing {
    DrallistStatus status;
    std::string text;
};

// drallist's listing of the store at `path`, read as the program reads it.
Listing list_in_process(const std::string &path, bool details) {
    velmo::FilePtr index(std::fopen((path + ".dral").c_str(), "rb"));
    velmo::FilePtr data(details ? std::fopen(path.c_str(), "rb") : nullptr);
    if (!index || (details && !data)) {
        ADD_FAILURE() << "cannot open the store at " << path;
        return {DrallistStatus::output_failed, ""};
    }
    char *text = nullptr;
    std::size_t length = 0;
    velmo::FilePtr out(open_memstream(&text, &length));
    Listing listing{DrallistStatus::output_failed, ""};
    if (out)
        listing.status = drallist_list(index.get(), data.get(), out.get());
    out.reset(); // closing sets text and length
    const std::unique_ptr<char, FreeDeleter> hold(text);
    listing.text.assign(text != nullptr ? text : "", length);
    return listing;
}

// Lists the store both ways in-process; with `program_details` set, the
// program lists it that way too and must say the same.
void check_drallist(const std::string &path, const DamagedStore &s,
                    std::optional<bool> program_details) {
    for (const bool details : {false, true}) {
        SCOPED_TRACE(details ? "with details" : "plain");
        const Listing listing = list_in_process(path, details);
        expect_listing(listing.text, expected_listing(s, details));
        expect_status_matches(listing.status, listing.text);
        if (program_details != details)
            continue;
        std::vector<std::string> args{path};
        if (details)
            args.push_back("-l");
        const RunResult run = run_program(DRALLIST_PATH, args);
        EXPECT_EQ(run.status, listing.status == DrallistStatus::complete ? 0 : 1);
        EXPECT_EQ(run.out, listing.text);
    }
}

// Reads the block at offset with every reader and checks each answer against
// the bytes the data file holds there.
void check_block_reads(dral_handle *h, const std::string &data, std::int32_t offset) {
    SCOPED_TRACE("block at " + std::to_string(offset));
    const auto length = static_cast<std::int64_t>(data.size());
    const bool has_header = offset >= 0 && offset + std::int64_t{kHeaderBytes} <= length;
    const std::int64_t left = has_header ? length - offset - std::int64_t{kHeaderBytes} : 0;
    const std::int32_t type = has_header ? le32_at(data, offset) : -1;
    const std::int32_t size = has_header ? le32_at(data, offset + 4) : -1;
    const auto held = static_cast<std::size_t>(size > 0 ? std::min<std::int64_t>(size, left) : 0);
    const std::string payload = has_header ? data.substr(offset + kHeaderBytes, held) : "";
    const bool is_string = type == 2 && held > 0;

    std::int32_t raw_type = 0, raw_size = 0;
    void *raw = nullptr;
    dral_readraw(h, offset, &raw_type, &raw_size, &raw);
    const std::unique_ptr<void, FreeDeleter> raw_hold(raw);
    EXPECT_EQ(raw_type, type);
    EXPECT_LE(raw_size, left); // never more than the file holds
    if (raw != nullptr) {
        EXPECT_EQ(std::string(static_cast<char *>(raw), static_cast<std::size_t>(raw_size)),
                  payload);
    } else {
        EXPECT_LE(raw_size, 0);
    }

    const std::unique_ptr<char, FreeDeleter> copy(dral_readstr_alloc(h, offset));
    EXPECT_EQ(copy != nullptr, is_string);
    if (copy) {
        EXPECT_EQ(std::string(copy.get(), held + 1), payload + '\0');
    }

    // dral_readstr trusts its caller for room: give it what the header asks.
    if (!has_header || (size >= 0 && size <= (1 << 16))) {
        const std::size_t room = has_header ? static_cast<std::size_t>(size) + 1 : 1;
        std::vector<char> buffer(room, '\x7f');
        const int got = dral_readstr(h, offset, buffer.data());
        EXPECT_EQ(got, is_string ? 1 : 0);
        const std::string expected = got ? payload + std::string(room - held, '\0')
                                         : std::string(room, '\x7f'); // untouched on failure
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), expected);
    }

    const std::int32_t number = dral_readlong(h, offset);
    if (held == 0) {
        EXPECT_EQ(number, -1);
    } else if (held >= 4) {
        EXPECT_EQ(number, le32_at(payload, 0));
    }
}

struct HandleCloser {
    void operator()(dral_handle *h) const { dral_close(h); }
};

// Emptying a file that holds data makes the file system write it out on
// close, which costs milliseconds per file; a new file costs nothing.
void remove_file(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void replace_file(const std::string &path, const std::string &bytes) {
    remove_file(path);
    write_file(path, bytes);
}

// The library opens every store empty, so the damaged bytes go in through the
// handle's own streams.
void check_library(const std::string &path, const DamagedStore &s) {
    remove_file(path);
    remove_file(path + ".dral");
    const std::unique_ptr<dral_handle, HandleCloser> hold(dral_open(path.c_str()));
    dral_handle *h = hold.get();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(std::fwrite(s.index.data(), 1, s.index.size(), h->index), s.index.size());
    ASSERT_EQ(std::fwrite(s.data.data(), 1, s.data.size(), h->data), s.data.size());
    ASSERT_EQ(std::fflush(h->index), 0);
    ASSERT_EQ(std::fflush(h->data), 0);

    const std::size_t listed = complete_entries(s);
    EXPECT_EQ(dral_search(h, "*"), listed > 0 ? le32_at(s.index, 8) : -1);
    dral_work(h, "*");
    std::size_t nodes = 0;
    dral_worknode *cursor = nullptr;
    while (nodes <= listed) {
        const dral_worknode *node = dral_workiter(h, &cursor);
        if (node == nullptr)
            break;
        ++nodes;
        EXPECT_LE(std::strlen(dral_workname(node)), 8u);
        check_block_reads(h, s.data, dral_workpoint(node));
        if (cursor == nullptr)
            break;
    }
    EXPECT_EQ(nodes, listed);
    // The working list's first node comes first, unless its offset is negative,
    // which reads as "not found" and sends the lookup on to the index.
    const std::int32_t first = h->work != nullptr ? h->work->offset : -1;
    EXPECT_EQ(dral_best(h, "*"), first >= 0 ? first : dral_search(h, "*"));

    for (const char *pattern : {"greeting", "motd\n", "7chars!?", "[a-l]*", "", "no such"}) {
        SCOPED_TRACE(std::string("pattern ") + pattern);
        check_block_reads(h, s.data, dral_search(h, pattern));
        check_block_reads(h, s.data, dral_best(h, pattern));
    }
    // Field lookups go through the same index: "greet" + "ing" is "greeting*".
    const std::int32_t field = dral_best(h, "greeting*");
    EXPECT_EQ(get_longfield(h, "greet", "ing"), field < 0 ? -1 : dral_readlong(h, field));
}

class DamagedStoreTest : public ::testing::Test {
  protected:
    // One store made by dralgen serves every test.
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        write_file(dir_->path("src"), kSource);
        const RunResult run = run_program(DRALGEN_PATH, {dir_->path("src"), dir_->path("intact")});
        if (run.status == 0)
            intact_ =
                new DamagedStore{Damage::none, 0, read_existing_file(dir_->path("intact.dral")),
                                 read_existing_file(dir_->path("intact")), "intact"};
    }
    static void TearDownTestSuite() {
        delete intact_;
        delete dir_;
    }
    void SetUp() override { ASSERT_NE(intact_, nullptr) << "dralgen failed"; }

    const DamagedStore &intact() const { return *intact_; }

    // Runs every reader over each damaged store.
    void check_all(const std::vector<DamagedStore> &stores) {
        const std::string listed = dir_->path("damaged"), opened = dir_->path("opened");
        for (std::size_t i = 0; i < stores.size(); ++i) {
            const DamagedStore &s = stores[i];
            SCOPED_TRACE(s.label);
            replace_file(listed + ".dral", s.index);
            replace_file(listed, s.data);
            // The program runs for a sample; a damaged data file matters only
            // with details, a damaged index both ways, taken in turn.
            std::optional<bool> program_details;
            if (i % kProgramSample == 0)
                program_details = is_data_damage(s.damage) || (i / kProgramSample) % 2 == 1;
            check_drallist(listed, s, program_details);
            check_library(opened, s);
        }
    }

  private:
    static TempDir *dir_;
    static DamagedStore *intact_;
};

TempDir *DamagedStoreTest::dir_ = nullptr;
DamagedStore *DamagedStoreTest::intact_ = nullptr;

TEST_F(DamagedStoreTest, IntactStoreListsInFull) {
    ASSERT_EQ(intact().index.size(), kIndexBytes);
    ASSERT_EQ(intact().data.size(), kDataBytes);
    check_all({intact()});
}

TEST_F(DamagedStoreTest, IndexCutAtEveryLength) {
    check_all(cuts(Damage::index_cut, intact()));
}

TEST_F(DamagedStoreTest, DataCutAtEveryLength) {
    check_all(cuts(Damage::data_cut, intact()));
}

TEST_F(DamagedStoreTest, EveryIndexByteFlipped) {
    check_all(flips(Damage::index_flip, intact()));
}

TEST_F(DamagedStoreTest, EveryDataByteFlipped) {
    check_all(flips(Damage::data_flip, intact()));
}

} // namespace
