// What a run writes down about an archive it is changing, so that the next
// run can finish or undo the change if this one is killed or the power
// fails (archive_change.h, change_recovery.h). Three small texts, each
// closed by a checksum line, so that a torn or foreign one is never taken
// for a record:
//
// - the record, in the change's private directory beside the archive: which
//   archive (its name, and the device, inode, size and modification time of
//   its original), where its original is kept, whom its archivers run as,
//   and when and in which boot of the machine the change began. Written
//   once, before zip first touches the archive.
// - the progress, in the same file at kProgressOffset: the zip step at hand,
//   when it began, and the last moment the run was seen waiting for it; and
//   whether the change is complete and on disk.
// - the intent, in the archive's lock file: the archive's directory and the
//   private directory of the change, so that a run finds an interrupted
//   change even when the archive is never named again.
//
// Names are written in hex, so that any byte of a file name is safe in the
// line-based texts.
#ifndef VELMO_TAGGER_CHANGE_RECORD_H
#define VELMO_TAGGER_CHANGE_RECORD_H

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/types.h>

// Where the original of the archive is kept while zip changes it.
enum class BackupKind {
    Copy,        // "copy" in the private directory is a copy of it, on disk
    Exchange,    // the original itself was swapped into the private directory
                 // ("copy"), and a copy of it put at the archive's name
    WorkingCopy, // zip works on a copy in the private directory; the archive
                 // is only ever replaced whole, by a rename
};

struct FileIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
};

struct ChangeRecord {
    BackupKind kind = BackupKind::Copy;
    std::string archive; // its name in its directory
    uid_t archivers_uid = 0;
    FileIdentity original;
    timespec begun{};
    std::string boot_id; // empty where the system tells none
};

enum class ChangeState {
    Ready,       // the original is safe; no zip step has started
    StepRunning, // zip step `step` is running
    StepEnded,   // zip step `step` has ended
    Complete,    // the changed archive and its directory entry are on disk
};

struct ChangeProgress {
    ChangeState state = ChangeState::Ready;
    int step = 0;
    timespec step_start{}; // when the latest zip step began
    timespec last_seen{};  // its end, or the last moment the run waited for it
};

struct ChangeIntent {
    std::string dir_path; // the archive's directory, absolute
    std::string archive;  // the archive's name in it
    std::string private_name;
};

// The progress stands at this offset in the record's file, in exactly
// kProgressSize bytes, so that it is rewritten in place by one small write.
inline constexpr std::size_t kRecordMax = 2048;
inline constexpr std::size_t kProgressOffset = kRecordMax;
inline constexpr std::size_t kProgressSize = 128;

std::string encode_record(const ChangeRecord &record);
std::string encode_progress(const ChangeProgress &progress); // kProgressSize bytes
std::string encode_intent(const ChangeIntent &intent);

// Each returns false for anything but a whole text of its kind, as its
// encoder writes it (trailing padding allowed).
bool decode_record(std::string_view text, ChangeRecord *record);
bool decode_progress(std::string_view text, ChangeProgress *progress);
bool decode_intent(std::string_view text, ChangeIntent *intent);

// This boot of the machine, as the kernel names it; empty where it does not.
std::string current_boot_id();

#endif
