// The texts a run writes about a change in hand: what the next run reads
// back is exactly what was written, and a cut, torn or altered text is
// never taken for one (the next run would then act on a wrong archive or
// keep a change that never completed).
#include "change_record.h"

#include <gtest/gtest.h>

namespace {

ChangeRecord sample_record() {
    ChangeRecord r;
    r.kind = BackupKind::Exchange;
    r.dir_path = "/srv/up/a b";
    r.archive = std::string("odd name\n\x01\xff;*.zip");
    r.private_name = ".velmotag_AbC123";
    r.archivers_uid = 65534;
    r.original = {2049, 1234567, 52428800, {1733720000, 123456789}};
    r.owner = 1000;
    r.group = 100;
    r.mode = 0640;
    r.atime = {1733710000, 7};
    r.begun = {1733720001, 5};
    r.boot_id = "0c4a1a7e-5b7e-4d1c-9d2f-3a8b1c2d3e4f";
    return r;
}

// Every shorter prefix and every single changed byte of `text` fails to
// decode; padding after it does not matter.
template <typename T>
void expect_only_whole_texts(const std::string &text, bool (*decode)(std::string_view, T *)) {
    T out;
    EXPECT_TRUE(decode(text + std::string(7, '\0'), &out));
    for (std::size_t length = 0; length < text.size(); ++length) {
        // A cut after the last line's feed leaves a whole text.
        if (length + 1 == text.size() && text.back() == '\n')
            continue;
        EXPECT_FALSE(decode(text.substr(0, length), &out)) << length;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        std::string flipped = text;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x20);
        EXPECT_FALSE(decode(flipped, &out)) << at;
    }
}

TEST(ChangeRecordTest, RecordAndProgressReadBackAsWritten) {
    const ChangeRecord r = sample_record();
    ChangeRecord read;
    ASSERT_TRUE(decode_record(encode_record(r), &read));
    EXPECT_EQ(read.kind, r.kind);
    EXPECT_EQ(read.dir_path, r.dir_path);
    EXPECT_EQ(read.archive, r.archive);
    EXPECT_EQ(read.private_name, r.private_name);
    EXPECT_EQ(read.archivers_uid, r.archivers_uid);
    EXPECT_EQ(read.original.dev, r.original.dev);
    EXPECT_EQ(read.original.ino, r.original.ino);
    EXPECT_EQ(read.original.size, r.original.size);
    EXPECT_EQ(read.original.mtime.tv_nsec, r.original.mtime.tv_nsec);
    EXPECT_EQ(read.owner, r.owner);
    EXPECT_EQ(read.group, r.group);
    EXPECT_EQ(read.mode, r.mode);
    EXPECT_EQ(read.atime.tv_sec, r.atime.tv_sec);
    EXPECT_EQ(read.begun.tv_sec, r.begun.tv_sec);
    EXPECT_EQ(read.boot_id, r.boot_id);

    const ChangeProgress p{ChangeState::StepRunning, 3, {1733720002, 999999999}, {1733720009, 0}};
    const std::string progress = encode_progress(p);
    EXPECT_EQ(progress.size(), kProgressSize);
    ChangeProgress read_progress;
    ASSERT_TRUE(decode_progress(progress, &read_progress));
    EXPECT_EQ(read_progress.state, p.state);
    EXPECT_EQ(read_progress.step, 3);
    EXPECT_EQ(read_progress.step_start.tv_nsec, 999999999);
    EXPECT_EQ(read_progress.last_seen.tv_sec, 1733720009);
}

TEST(ChangeRecordTest, CutOrAlteredTextsAreRefused) {
    expect_only_whole_texts(encode_record(sample_record()), decode_record);
    std::string progress = encode_progress({ChangeState::Complete, 3, {5, 6}, {7, 8}});
    progress.erase(progress.find_last_not_of('\n') + 2);
    expect_only_whole_texts(progress, decode_progress);
}

// Names the record could be steered by: a path in an archive's name, a
// relative directory, or a private directory that is not the tagger's.
TEST(ChangeRecordTest, NamesThatLeaveTheDirectoryAreRefused) {
    ChangeRecord read;
    for (const char *name : {"../x.zip", "a/b.zip", "..", "."}) {
        ChangeRecord r = sample_record();
        r.archive = name;
        EXPECT_FALSE(decode_record(encode_record(r), &read)) << name;
    }
    ChangeRecord r = sample_record();
    r.dir_path = "relative";
    EXPECT_FALSE(decode_record(encode_record(r), &read));
    for (const char *name : {"../etc", "", "copy"}) {
        r = sample_record();
        r.private_name = name;
        EXPECT_FALSE(decode_record(encode_record(r), &read)) << name;
    }
    r = sample_record();
    r.kind = BackupKind::Inline;
    EXPECT_FALSE(decode_record(encode_record(r), &read)); // inline needs no directory
    r.private_name.clear();
    EXPECT_TRUE(decode_record(encode_record(r), &read));
}

} // namespace
