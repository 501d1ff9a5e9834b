#include "change_journal.h"

#include "fd_io.h"
#include "file_copy.h"
#include "private_dirs.h"
#include "state_dir.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

ChangeJournal &ChangeJournal::the_run_journal() {
    static ChangeJournal journal;
    return journal;
}

ChangeJournal *ChangeJournal::of_run() {
    static bool tried = false;
    ChangeJournal &journal = the_run_journal();
    if (!tried) {
        tried = true;
        journal.open_for_run();
    }
    return journal.own_fd_ ? &journal : nullptr;
}

bool ChangeJournal::open_for_run() {
    const int changes = state_subdir(kChangesDir);
    if (changes < 0)
        return false;
    // Made under another name and locked before it is renamed into place:
    // a run that ends dead runs' journals never takes a live one for dead.
    std::string made;
    UniqueFd fd = make_private_file(changes, "new-", &made);
    if (!fd)
        return false;
    std::string name = "run-" + made.substr(4);
    if (renameat(changes, made.c_str(), changes, name.c_str()) != 0) {
        unlinkat(changes, made.c_str(), 0);
        return false;
    }
    // Read-only, and empty: all that a child can do with it is hold it.
    const std::string children = name + kChildrenSuffix;
    children_fd_.reset(openat(changes, children.c_str(),
                              O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!children_fd_ || flock(children_fd_.get(), LOCK_EX | LOCK_NB) != 0) {
        children_fd_.reset();
        unlinkat(changes, children.c_str(), 0);
        unlinkat(changes, name.c_str(), 0);
        return false;
    }
    own_fd_ = std::move(fd);
    fd_ = own_fd_.get();
    dir_fd_ = changes;
    name_ = std::move(name);
    entry_on_disk_ = false;
    holds_change_ = false;
    return true;
}

void ChangeJournal::abandon() {
    holds_change_ = false;
    if (!own_fd_)
        return;
    own_fd_.reset(); // unlocked: the next run ends what it holds
    children_fd_.reset();
    fd_ = -1;
    open_for_run();
}

void ChangeJournal::end_of_run() {
    ChangeJournal &journal = the_run_journal();
    if (!journal.own_fd_ || journal.holds_change_)
        return;
    // The children's lock first, so that it never outlives its journal.
    unlinkat(journal.dir_fd_, (journal.name_ + kChildrenSuffix).c_str(), 0);
    unlinkat(journal.dir_fd_, journal.name_.c_str(), 0);
    journal.children_fd_.reset();
    journal.own_fd_.reset();
    journal.fd_ = -1;
}

bool ChangeJournal::write(const ChangeRecord &record, int original_fd, bool durable) {
    // Ended by a NUL: a shorter record than the one before it in the same
    // file must not run on into the rest of that one.
    const std::string text = encode_record(record) + '\0';
    errno = ENAMETOOLONG;
    if (text.size() > kRecordMax)
        return false;
    ChangeProgress ready;
    const std::string progress = encode_progress(ready);
    // Written over what the last change left, never cut short: once a run's
    // journal is as long as its changes need, a record is a plain overwrite,
    // which a sync writes without a journal commit of the file system's.
    // The record says how much of it is the copy.
    const bool with_copy = record.kind == BackupKind::Inline;
    holds_change_ = true;
    if (!write_fully(fd_, text.data(), text.size(), 0) ||
        !write_fully(fd_, progress.data(), progress.size(), kProgressOffset) ||
        (with_copy && !copy_at(original_fd, 0, fd_, kInlineOffset, record.original.size)))
        return false;
    if (!durable)
        return true;
    if (fdatasync(fd_) != 0)
        return false;
    if (!entry_on_disk_ && !sync_directory(dir_fd_))
        return false;
    entry_on_disk_ = true;
    return true;
}

bool ChangeJournal::write_progress(const ChangeProgress &progress, bool durable) {
    const std::string text = encode_progress(progress);
    return write_fully(fd_, text.data(), text.size(), kProgressOffset) &&
           (!durable || fdatasync(fd_) == 0);
}

void ChangeJournal::clear() {
    // The record is spoilt, not the file cut short: on ext4 a file cut to
    // nothing is written out when it is closed.
    const char nothing[] = "\n";
    if (write_fully(fd_, nothing, 1, 0))
        holds_change_ = false;
}

bool read_record(int fd, ChangeRecord *record, std::optional<ChangeProgress> *progress) {
    static char buffer[kProgressOffset + kProgressSize];
    const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    const std::size_t got = static_cast<std::size_t>(n);
    std::string_view text(buffer, std::min(got, kRecordMax));
    text = text.substr(0, text.find('\0'));
    if (!decode_record(text, record))
        return false;
    ChangeProgress read;
    progress->reset();
    if (got == sizeof buffer &&
        decode_progress(std::string_view(buffer + kProgressOffset, kProgressSize), &read))
        *progress = read;
    return true;
}
