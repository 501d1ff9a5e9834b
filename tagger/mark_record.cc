#include "mark_record.h"

#include "fd_io.h"
#include "locks.h"
#include "private_dirs.h"
#include "report.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using mark_record::Entry;
using mark_record::kPageSize;

namespace {

constexpr char kRecord[] = "record";
constexpr char kSetAside[] = "record.damaged";
constexpr char kLock[] = "lock";
constexpr char kNewPrefix[] = "new-";
constexpr std::uint32_t kFirstPages = 16;
// Writers hold the lock for a page's write, or, rarely, for a rebuild of
// the whole file, seconds at a million archives.
constexpr int kLockWaitSeconds = 60;
// Pages read at once when the whole file is read.
constexpr std::uint32_t kPagesPerRead = 256;

off_t page_offset(std::uint32_t page) {
    return static_cast<off_t>(page + 1) * static_cast<off_t>(kPageSize);
}

bool same_file(const Entry &a, const Entry &b) {
    return a.dev == b.dev && a.ino == b.ino;
}

// An entry stays while its path still leads to its file. Another path to
// the same file may be what the archive is named by now; its entry then
// goes, and costs that archive one listing.
bool still_at_path(const Entry &entry) {
    struct stat st;
    return lstat(entry.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::uint64_t>(st.st_dev) == entry.dev &&
           static_cast<std::uint64_t>(st.st_ino) == entry.ino;
}

// What killed writers left: a writer makes its new files only while it
// holds the lock, so under the lock every one of them is a leftover.
void remove_new_files(int dir_fd) {
    for (const std::string &name : directory_entries(dir_fd)) {
        if (name.compare(0, sizeof kNewPrefix - 1, kNewPrefix) == 0)
            unlinkat(dir_fd, name.c_str(), 0);
    }
}

} // namespace

MarkRecord::MarkRecord(int dir_fd, std::uint64_t fingerprint, std::string shown)
    : dir_fd_(dir_fd), fingerprint_(fingerprint), shown_(std::move(shown)) {}

MarkRecord::State MarkRecord::open_record(int flags) {
    fd_.reset(openat(dir_fd_, kRecord, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd_) {
        if (errno == ENOENT)
            return State::Absent;
        damage_ = std::strerror(errno);
        return State::Damaged;
    }
    struct stat st;
    std::string head(kPageSize, '\0');
    if (fstat(fd_.get(), &st) != 0)
        damage_ = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        damage_ = "it is not a regular file";
    else if (st.st_uid != geteuid())
        damage_ = "it belongs to user " + std::to_string(st.st_uid);
    else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        damage_ = "users other than its owner can write it";
    else if (!read_fully(fd_.get(), head.data(), head.size(), 0) ||
             !mark_record::decode_head(head, &head_))
        damage_ = "its head is damaged or cut short";
    else if (st.st_size != page_offset(head_.pages))
        damage_ = "it is " + std::to_string(st.st_size) + " bytes long, not " +
                  std::to_string(page_offset(head_.pages));
    else
        return head_.fingerprint == fingerprint_ ? State::Usable : State::Stale;
    return State::Damaged;
}

bool MarkRecord::read_page(std::uint32_t page, std::string *bytes) const {
    bytes->assign(kPageSize, '\0');
    return read_fully(fd_.get(), bytes->data(), kPageSize, page_offset(page));
}

bool MarkRecord::find(std::uint64_t dev, std::uint64_t ino, Entry *found) {
    if (state_ == State::Unopened)
        state_ = open_record(O_RDONLY);
    std::string page;
    return state_ == State::Usable && read_page(mark_record::page_of(dev, ino, head_), &page) &&
           mark_record::find_entry(page, fingerprint_, dev, ino, found);
}

bool MarkRecord::put(const Entry &entry) {
    if (entry.path.size() > mark_record::kMaxPath)
        return false;
    LockFile lock;
    if (lock.acquire(dir_fd_, kLock, kLockWaitSeconds) != LockOutcome::Held)
        return false;
    static bool cleared = false;
    if (!cleared) {
        remove_new_files(dir_fd_);
        cleared = true;
    }
    const bool done = put_locked(entry);
    lock.release(true);
    // Lookups go on in the file as this put left it.
    state_ = State::Unopened;
    fd_.reset();
    return done;
}

bool MarkRecord::put_locked(const Entry &entry) {
    switch (open_record(O_RDWR)) {
    case State::Unopened:
    case State::Absent:
        return write_new(kFirstPages, {entry});
    case State::Damaged:
        set_aside(damage_);
        return write_new(kFirstPages, {entry});
    case State::Stale:
        // Made under another configuration: none of its entries holds now.
        return write_new(kFirstPages, {entry});
    case State::Usable:
        break;
    }
    const std::uint32_t page = mark_record::page_of(entry.dev, entry.ino, head_);
    std::string bytes;
    std::vector<Entry> entries;
    if (!read_page(page, &bytes))
        return false;
    // Under the lock no write tears a page: one that does not read whole
    // is damaged.
    const bool page_whole = mark_record::read_entries(bytes, fingerprint_, &entries);
    // The entries of files gone from their paths make room when the page
    // has none left.
    for (const bool pruned : {false, true}) {
        std::string rewritten;
        bool fits = page_whole && mark_record::append_entry(&rewritten, entry, fingerprint_);
        for (const Entry &e : entries) {
            if (fits && !same_file(e, entry) && (!pruned || still_at_path(e)))
                fits = mark_record::append_entry(&rewritten, e, fingerprint_);
        }
        if (fits) {
            rewritten.resize(kPageSize, '\0');
            return write_fully(fd_.get(), rewritten.data(), rewritten.size(), page_offset(page));
        }
    }
    // The page is full of archives that are still there, and the file
    // grows to twice the pages; or it is damaged, and what is whole
    // elsewhere in it still holds.
    bool whole = false;
    std::vector<Entry> kept = live_entries(&whole);
    std::erase_if(kept, [&](const Entry &e) { return same_file(e, entry); });
    kept.push_back(entry);
    if (!page_whole || !whole)
        set_aside("a page of it is damaged");
    return write_new(page_whole ? head_.pages * 2 : head_.pages, kept);
}

bool MarkRecord::replace_with(const std::vector<Entry> &entries) {
    return write_new(kFirstPages, entries);
}

std::vector<Entry> MarkRecord::live_entries(bool *whole) const {
    std::vector<Entry> entries;
    *whole = true;
    std::string chunk;
    for (std::uint32_t first = 0; first < head_.pages; first += kPagesPerRead) {
        const std::uint32_t count = std::min(kPagesPerRead, head_.pages - first);
        chunk.assign(static_cast<std::size_t>(count) * kPageSize, '\0');
        if (!read_fully(fd_.get(), chunk.data(), chunk.size(), page_offset(first))) {
            *whole = false;
            break;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string_view page(chunk.data() + std::size_t{i} * kPageSize, kPageSize);
            if (!mark_record::read_entries(page, fingerprint_, &entries))
                *whole = false;
        }
    }
    std::erase_if(entries, [](const Entry &e) { return !still_at_path(e); });
    return entries;
}

bool MarkRecord::write_new(std::uint32_t pages, const std::vector<Entry> &entries) {
    mark_record::Head head{pages, fingerprint_, 0};
    if (getentropy(&head.salt, sizeof head.salt) != 0)
        return false;
    std::vector<std::string> contents;
    while (!mark_record::lay_out_pages(entries, head, &contents)) {
        head.pages *= 2;
        if (head.pages > mark_record::kMaxPages)
            return false;
    }
    std::string name;
    UniqueFd file = make_private_file(dir_fd_, kNewPrefix, &name);
    if (!file)
        return false;
    bool written = write_fully(file.get(), mark_record::encode_head(head).data(), kPageSize, 0);
    for (std::uint32_t i = 0; written && i < head.pages; ++i) {
        contents[i].resize(kPageSize, '\0');
        written = write_fully(file.get(), contents[i].data(), kPageSize, page_offset(i));
    }
    // Synced before the rename, so that a power cut leaves the old file or
    // the whole new one, not a new name for unwritten blocks.
    if (!written || fsync(file.get()) != 0 ||
        renameat(dir_fd_, name.c_str(), dir_fd_, kRecord) != 0) {
        unlinkat(dir_fd_, name.c_str(), 0);
        return false;
    }
    return true;
}

void MarkRecord::set_aside(const std::string &why) {
    const bool moved = renameat(dir_fd_, kRecord, dir_fd_, kSetAside) == 0;
    log_error("mark record '%s/%s' %s: %s; a new one is begun", shown_.c_str(), kRecord,
              moved ? "set aside as 'record.damaged'" : "cannot be set aside", why.c_str());
}
