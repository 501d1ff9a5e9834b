// The mark record's bytes and its file: what a run finds again, what
// overlapping writers keep, and what is never taken for an entry.
#include "known_marks.h"
#include "listing_facts.h"
#include "mark_record.h"
#include "settings.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "unit_support.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using mark_record::Entry;
using mark_record::kPageSize;
using velmo::test::file_mode;
using velmo::test::path_exists;

namespace {

constexpr std::uint64_t kFingerprint = 0x5eed;

Entry entry(std::uint64_t ino, const std::string &path = "/srv/uploads/a.zip") {
    return {7, ino, 1000 + ino, 11, 22, 33, path};
}

bool same(const Entry &a, const Entry &b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtime == b.mtime &&
           a.ctime == b.ctime && a.seen == b.seen && a.path == b.path;
}

TEST(MarkRecordFormat, HeadAndEntriesReadBackOnlyAsWritten) {
    mark_record::Head head;
    ASSERT_TRUE(mark_record::decode_head(mark_record::encode_head({64, kFingerprint, 5}), &head));
    EXPECT_EQ(head.pages, 64U);
    EXPECT_EQ(head.fingerprint, kFingerprint);
    EXPECT_EQ(head.salt, 5U);
    // Where an entry goes is the salt's to say, not the inode's alone.
    int moved = 0;
    for (std::uint64_t ino = 0; ino < 64; ++ino)
        moved += mark_record::page_of(7, ino, head) != mark_record::page_of(7, ino, {64, 0, 6});
    EXPECT_GT(moved, 32);
    std::string altered = mark_record::encode_head({64, kFingerprint, 5});
    altered[25] ^= 1;
    EXPECT_FALSE(mark_record::decode_head(altered, &head));
    EXPECT_FALSE(mark_record::decode_head(mark_record::encode_head({48, kFingerprint, 5}), &head));
    EXPECT_FALSE(mark_record::decode_head(std::string(kPageSize, '\0'), &head));

    std::string page;
    ASSERT_TRUE(mark_record::append_entry(&page, entry(1), kFingerprint));
    ASSERT_TRUE(mark_record::append_entry(&page, entry(2, "/x"), kFingerprint));
    Entry found;
    ASSERT_TRUE(mark_record::find_entry(page, kFingerprint, 7, 2, &found));
    EXPECT_TRUE(same(found, entry(2, "/x")));
    EXPECT_FALSE(mark_record::find_entry(page, kFingerprint, 7, 3, &found));
    // Made under another configuration, or torn: no entry at all.
    EXPECT_FALSE(mark_record::find_entry(page, kFingerprint + 1, 7, 2, &found));
    std::string torn = page;
    torn[page.size() - 20] ^= 1;
    EXPECT_FALSE(mark_record::find_entry(torn, kFingerprint, 7, 2, &found));
    std::vector<Entry> entries;
    EXPECT_FALSE(mark_record::read_entries(torn + std::string(100, '\0'), kFingerprint, &entries));
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_TRUE(same(entries[0], entry(1)));
}

TEST(MarkRecordFormat, APageTakesNoMoreThanItHolds) {
    std::string page;
    EXPECT_FALSE(mark_record::append_entry(
        &page, entry(1, std::string(mark_record::kMaxPath + 1, 'a')), kFingerprint));
    int count = 0;
    while (mark_record::append_entry(&page, entry(count, std::string(100, 'p')), kFingerprint))
        ++count;
    EXPECT_LE(page.size(), kPageSize);
    EXPECT_GT(count, 20);
    std::vector<Entry> entries;
    EXPECT_TRUE(mark_record::read_entries(page + std::string(kPageSize - page.size(), '\0'),
                                          kFingerprint, &entries));
    EXPECT_EQ(entries.size(), static_cast<std::size_t>(count));
}

// A central directory of entries (name, extra field) and its end record:
// all that the tagger's own reading of member names looks at.
std::string central_directory(const std::vector<std::pair<std::string, std::string>> &entries) {
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>(value >> (8 * i));
        return out;
    };
    std::string directory;
    for (const auto &[name, extra] : entries)
        directory += le(0x02014b50, 4) + std::string(24, '\0') + le(name.size(), 2) +
                     le(extra.size(), 2) + std::string(14, '\0') + name + extra;
    return directory + le(0x06054b50, 4) + std::string(4, '\0') + le(entries.size(), 2) +
           le(entries.size(), 2) + le(directory.size(), 4) + le(0, 4) + le(0, 2);
}

// The names that decide an entry are the ones unzip lists: cut at a NUL,
// and none with a Unicode path of its own, which unzip shows instead.
using MarkRecordNames = TaggerUnitTest;

TEST_F(MarkRecordNames, OwnReadingSeesWhatUnzipLists) {
    copy_limited(settings.keywords[0], "VELMO97", kKeywordMax);
    settings.keyword_count = 1;
    const std::string unicode_path = std::string("\x75\x70\x05\0", 4) + "\1abcd";
    TempFile zip(central_directory({{std::string("x\0VELMO97.NFO", 13), ""},
                                    {"velmo97.nfo", unicode_path},
                                    {"sub/velmo97.nfo", "\x55\x54\0\0"}}));
    const int fd = open(zip.path().c_str(), O_RDONLY);
    std::vector<MemberName> names;
    ASSERT_TRUE(read_member_names(fd, &names, 1 << 20));
    close(fd);
    ASSERT_EQ(names.size(), 3U);
    EXPECT_FALSE(listed_name_holds_keyword(names[0]));
    EXPECT_TRUE(names[1].unicode_path);
    EXPECT_FALSE(listed_name_holds_keyword(names[1]));
    EXPECT_TRUE(listed_name_holds_keyword(names[2]));
}

class MarkRecordFile : public TaggerUnitTest {
  protected:
    void SetUp() override {
        TaggerUnitTest::SetUp();
        settings.siteop = 1;
        dir_fd_ = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(dir_fd_, 0);
    }
    void TearDown() override {
        close(dir_fd_);
        TaggerUnitTest::TearDown();
    }

    // An entry of a real file made for it in the test's area, so that the
    // record keeps it.
    Entry archive(const std::string &name) {
        const std::string path = files_.path(name);
        velmo::test::write_file(path, name);
        struct stat st {};
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        return {static_cast<std::uint64_t>(st.st_dev),
                static_cast<std::uint64_t>(st.st_ino),
                1,
                2,
                3,
                4,
                path};
    }

    MarkRecord record(std::uint64_t fingerprint = kFingerprint) {
        return MarkRecord(dir_fd_, fingerprint, dir_.path());
    }
    bool holds(const Entry &e, std::uint64_t fingerprint = kFingerprint) {
        Entry found;
        return record(fingerprint).find(e.dev, e.ino, &found) && same(found, e);
    }
    std::string record_path() const { return dir_.path("record"); }

    velmo::test::TempDir dir_{"marks_"};
    velmo::test::TempDir files_{"archives_"};
    int dir_fd_ = -1;
};

// Thousands of entries, put by two writers in turn, all read back after the
// file has grown; an entry of the same file replaces the old one; files
// gone from their paths drop out when the file is rebuilt.
TEST_F(MarkRecordFile, WritersInTurnKeepEveryEntryAsTheFileGrows) {
    constexpr int kCount = 2000;
    MarkRecord first = record(), second = record();
    std::vector<Entry> entries;
    for (int i = 0; i < kCount; ++i) {
        entries.push_back(archive("a" + std::to_string(i)));
        ASSERT_TRUE((i % 2 ? first : second).put(entries.back())) << i;
    }
    Entry changed = entries[5];
    changed.size = 99;
    ASSERT_TRUE(first.put(changed));
    EXPECT_TRUE(holds(changed));
    for (int i = 0; i < kCount; i += 7)
        EXPECT_TRUE(i == 5 || holds(entries[i])) << i;
    const std::uintmax_t grown = fs::file_size(record_path());
    EXPECT_GT(grown, 17 * kPageSize);

    // Made before the others go, so that no inode of theirs comes back;
    // put until the file is rebuilt once more.
    std::vector<Entry> later;
    for (int i = kCount; i < 3 * kCount; ++i)
        later.push_back(archive("a" + std::to_string(i)));
    for (int i = 0; i < kCount / 2; ++i)
        fs::remove(entries[i].path);
    for (std::size_t i = 0; i < later.size() && fs::file_size(record_path()) == grown; ++i)
        ASSERT_TRUE(first.put(later[i]));
    EXPECT_GT(fs::file_size(record_path()), grown);
    EXPECT_FALSE(holds(entries[10]));
    EXPECT_TRUE(holds(entries[kCount - 10]));
    EXPECT_FALSE(path_exists(dir_.path("record.damaged")));
    EXPECT_TRUE(logged_lines().empty());
}

// A record made under another fingerprint answers nothing and is replaced;
// one that is damaged, cut short, or writable by others is set aside with
// one log line, and a new one begun.
TEST_F(MarkRecordFile, StaleDamagedOrForeignRecordIsNeverTrusted) {
    const Entry a = archive("a"), b = archive("b");
    ASSERT_TRUE(record(1).put(a));
    EXPECT_FALSE(holds(a));
    ASSERT_TRUE(record().put(b));
    EXPECT_FALSE(holds(a, 1));
    EXPECT_TRUE(holds(b));

    const std::string whole = velmo::test::read_file(record_path());
    const std::vector<std::pair<std::string, std::function<void()>>> harms = {
        {"its head is damaged or cut short",
         [&] { velmo::test::write_file(record_path(), std::string(8192, 'x')); }},
        {"it is " + std::to_string(kPageSize) + " bytes long",
         [&] { velmo::test::write_file(record_path(), whole.substr(0, kPageSize)); }},
        {"users other than its owner can write it",
         [&] {
             velmo::test::write_file(record_path(), whole);
             fs::permissions(record_path(), fs::perms::group_write, fs::perm_options::add);
         }},
        {"a page of it is damaged",
         [&] {
             std::string garbled = whole;
             for (std::size_t at = kPageSize; at < garbled.size(); at += 64)
                 garbled[at] = '\x7f';
             velmo::test::write_file(record_path(), garbled);
         }},
    };
    for (const auto &[why, harm] : harms) {
        logged_lines().clear();
        fs::remove(record_path());
        harm();
        if (why != "a page of it is damaged") {
            EXPECT_FALSE(holds(b)) << why;
        }
        const Entry c = archive("c");
        ASSERT_TRUE(record().put(c)) << why;
        ASSERT_EQ(logged_lines().size(), 1U) << why;
        EXPECT_NE(logged_lines()[0].find(why), std::string::npos) << logged_lines()[0];
        EXPECT_TRUE(path_exists(dir_.path("record.damaged"))) << why;
        EXPECT_TRUE(holds(c)) << why;
        EXPECT_EQ(file_mode(record_path()), 0600U) << why;
    }
}

} // namespace
