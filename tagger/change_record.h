// What a run writes down about the archive it is changing, so that the
// next run can finish or undo the change if this one is killed or the
// power fails (archive_change.h, change_recovery.h). Two small texts, each
// closed by a checksum line, so that a torn or foreign one is never taken
// for a record:
//
// - the record: which archive (its directory, its name, and the device,
//   inode, size, modification time, owner, mode and access time of its
//   original), where its original is kept (the private directory beside
//   it, or inline, after the record), whom its archivers run as, and when
//   and in which boot of the machine the change began. Written before zip
//   first touches the archive, in the run's journal (change_journal.h) and,
//   where there is one, in the private directory as well.
// - the progress, at kProgressOffset in the same file: the zip step at
//   hand, when it began, the last moment the run was seen waiting for it,
//   and whether the change is complete and on disk.
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
    Inline,      // its bytes follow the record in the run's journal, on disk
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
    BackupKind kind = BackupKind::Inline;
    std::string dir_path;     // the archive's directory, absolute
    std::string archive;      // its name in that directory
    std::string private_name; // the change's private directory there, or empty
    uid_t archivers_uid = 0;
    FileIdentity original;
    uid_t owner = 0; // the original's owner, group, mode and access time,
    gid_t group = 0; // for a copy that takes its place again
    mode_t mode = 0;
    timespec atime{};
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
    pid_t child = 0;       // the step's child, which leads its own session; 0: unknown
};

// The layout of a file that holds a record: the record from its start, the
// progress at kProgressOffset in exactly kProgressSize bytes (rewritten in
// place by one small write), and an inline copy from kInlineOffset.
inline constexpr std::size_t kRecordMax = 16384;
inline constexpr std::size_t kProgressOffset = kRecordMax;
inline constexpr std::size_t kProgressSize = 128;
inline constexpr std::size_t kInlineOffset = kProgressOffset + 4096;

std::string encode_record(const ChangeRecord &record);
std::string encode_progress(const ChangeProgress &progress); // kProgressSize bytes

// Each returns false for anything but a whole text of its kind, as its
// encoder writes it (trailing padding allowed), and for a record whose
// names could lead out of its directory.
bool decode_record(std::string_view text, ChangeRecord *record);
bool decode_progress(std::string_view text, ChangeProgress *progress);

// This boot of the machine, as the kernel names it (read once); empty
// where it does not.
const std::string &current_boot_id();

#endif
