// The mark record's file, "record" in a directory of the tagger's own
// (the state directory's "marks"), in the format of mark_record_format.h.
//
// Runs read it without a lock, one page at a time: a page is only ever
// overwritten whole, and a file only ever replaced whole by a rename, so a
// reader meets old entries, new ones, or, in a page torn by a write at
// that moment, bytes that fail their checksum, which it takes for no
// entry. Writers take the flock of "lock" beside it and read the page
// again under it, so overlapping runs never lose each other's entries.
//
// The record is a cache of what listings found: losing any of it costs
// listings, never a wrong answer. So nothing is synced but a whole new
// file before its rename, and a file that is damaged, truncated, foreign
// or unreadable is renamed to "record.damaged" (one system log line) and
// a new one begun.
#ifndef VELMO_TAGGER_MARK_RECORD_H
#define VELMO_TAGGER_MARK_RECORD_H

#include "mark_record_format.h"
#include "unique_fd.h"

#include <cstdint>
#include <string>
#include <vector>

class MarkRecord {
  public:
    // The record in the directory `dir_fd`, which the object does not own
    // and must outlive it, for entries made under `fingerprint`. `shown`
    // names the directory in the system log.
    MarkRecord(int dir_fd, std::uint64_t fingerprint, std::string shown);
    MarkRecord(const MarkRecord &) = delete;
    MarkRecord &operator=(const MarkRecord &) = delete;

    // The entry of the file `dev`:`ino`, when the record holds one made
    // under this fingerprint.
    bool find(std::uint64_t dev, std::uint64_t ino, mark_record::Entry *found);

    // Puts `entry` in the record in place of any entry of the same file.
    // When its page is full, the entries of files that are no longer at
    // their paths make room; when that is not enough, the file is rebuilt
    // with twice the pages and without any such entry. Returns false when
    // it could not (the lock was busy for a minute, a stop came, the disk
    // is full, or the path is too long to keep).
    bool put(const mark_record::Entry &entry);
    // Replaces the whole file with one holding `entries` (made afresh, as
    // for an empty record). Returns false when it could not.
    bool replace_with(const std::vector<mark_record::Entry> &entries);

  private:
    enum class State { Unopened, Absent, Usable, Stale, Damaged };

    State open_record(int flags);
    bool read_page(std::uint32_t page, std::string *bytes) const;
    bool put_locked(const mark_record::Entry &entry);
    std::vector<mark_record::Entry> live_entries(bool *whole) const;
    // Replaces the file with one of `pages` pages (more, if some page
    // would overflow) holding `entries`.
    bool write_new(std::uint32_t pages, const std::vector<mark_record::Entry> &entries);
    void set_aside(const std::string &why);

    int dir_fd_;
    std::uint64_t fingerprint_;
    std::string shown_;
    State state_ = State::Unopened;
    std::string damage_;
    UniqueFd fd_;
    mark_record::Head head_;
};

#endif
