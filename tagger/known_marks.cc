#include "known_marks.h"

#include "archiver_commands.h"
#include "config.h"
#include "fixed_paths.h"
#include "fnv1a.h"
#include "listing_facts.h"
#include "mark_record.h"
#include "settings.h"
#include "state_dir.h"

#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kMarksDir[] = "marks";
// A file system's clock ticks coarser than its nanoseconds: writes within
// one tick leave the same times. Two seconds covers the coarsest.
constexpr std::int64_t kTickNanoseconds = 2'000'000'000;
// Site files are hashed whole up to this size, by size and times beyond.
constexpr off_t kSiteFileHashed = 16 * 1024 * 1024;
// A central directory larger than this is not read for names.
constexpr unsigned long long kNamesMax = 16 * 1024 * 1024;

std::int64_t nanoseconds(const timespec &t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::int64_t now() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return nanoseconds(t);
}

bool same_state(const mark_record::Entry &entry, const struct stat &st) {
    return entry.dev == static_cast<std::uint64_t>(st.st_dev) &&
           entry.ino == static_cast<std::uint64_t>(st.st_ino) &&
           entry.size == static_cast<std::uint64_t>(st.st_size) &&
           entry.mtime == nanoseconds(st.st_mtim) && entry.ctime == nanoseconds(st.st_ctim);
}

mark_record::Entry entry_of(const struct stat &st, std::int64_t seen, const std::string &path) {
    return {static_cast<std::uint64_t>(st.st_dev),
            static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            nanoseconds(st.st_mtim),
            nanoseconds(st.st_ctim),
            seen,
            path};
}

bool seen_after_last_change(const mark_record::Entry &entry) {
    return entry.seen - entry.ctime >= kTickNanoseconds;
}

// A length before each part, so that no two lists of parts read alike.
void add_part(std::string *facts, std::string_view part) {
    *facts += std::to_string(part.size()) + ":";
    *facts += part;
}

void add_site_file(std::string *facts, const char *name) {
    const std::string path = in_conf_dir(name);
    add_part(facts, path);
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        add_part(facts, "unreadable");
        return;
    }
    if (st.st_size > kSiteFileHashed) {
        add_part(facts, std::to_string(st.st_size) + " " + std::to_string(nanoseconds(st.st_mtim)));
        return;
    }
    std::string contents(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t got = pread(fd.get(), contents.data(), contents.size(), 0);
    contents.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    add_part(facts, contents);
}

} // namespace

std::uint64_t mark_fingerprint() {
    std::string facts;
    add_part(&facts, "velmotag " VELMOTAG_VERSION);
    for (int k = 0; k < settings.keyword_count; ++k)
        add_part(&facts, settings.keywords[k]);
    add_part(&facts, settings.diztagtext);
    add_part(&facts, settings.nfo_name);
    add_part(&facts, settings.comment_name);
    add_site_file(&facts, kSiteopCommentFile);
    add_site_file(&facts, kSiteopInfoFile);
    return fnv1a64(facts);
}

namespace {

MarkRecord *mark_record_of_run() {
    static bool tried = false;
    static std::unique_ptr<MarkRecord> record;
    if (!tried && settings.siteop) {
        tried = true;
        const int dir = state_subdir(kMarksDir);
        if (dir >= 0)
            record = std::make_unique<MarkRecord>(dir, mark_fingerprint(),
                                                  std::string(STATE_DIR) + "/" + kMarksDir);
    }
    return record.get();
}

// True when the member names of the archive open in `fd`, read through
// `fd` while it stayed as `st` tells, show a keyword.
bool names_show_mark(int fd, const struct stat &st) {
    const mark_record::Entry expected = entry_of(st, 0, "");
    struct stat before, after;
    std::vector<std::string> names;
    if (fstat(fd, &before) != 0 || !same_state(expected, before) ||
        !read_member_names(fd, &names, kNamesMax) || fstat(fd, &after) != 0 ||
        !same_state(expected, after))
        return false;
    for (const std::string &name : names) {
        if (holds_keyword(name))
            return true;
    }
    return false;
}

} // namespace

bool known_to_carry_mark(const char *arg) {
    MarkRecord *record = mark_record_of_run();
    if (!record)
        return false;
    const std::int64_t seen = now();
    struct stat st;
    mark_record::Entry entry;
    if (lstat(arg, &st) != 0 || !S_ISREG(st.st_mode) ||
        !record->find(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                      &entry) ||
        !same_state(entry, st))
        return false;
    if (seen_after_last_change(entry))
        return true;
    // Seen too soon after its last change: its own names must show the
    // mark, and once they do late enough, the entry is trusted as it is.
    const UniqueFd fd(open(arg, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || !names_show_mark(fd.get(), st))
        return false;
    entry.seen = seen;
    if (seen_after_last_change(entry))
        record->put(entry);
    return true;
}

void remember_mark(const ArchiveJob &job, Outcome outcome) {
    MarkRecord *record = mark_record_of_run();
    struct stat st;
    if (!record)
        return;
    if (outcome == Outcome::AlreadyTagged) {
        // Seen as it was opened, before the listing read it, and the same
        // file still.
        const mark_record::Entry entry =
            entry_of(job.archive_stat(), nanoseconds(job.opened_at()), job.path());
        if (job.archive_fd() >= 0 && fstat(job.archive_fd(), &st) == 0 && same_state(entry, st))
            record->put(entry);
    } else if (outcome == Outcome::Tagged) {
        // Seen now, just as this run left it: too soon after its last
        // change to trust at once (known_to_carry_mark).
        const std::int64_t seen = now();
        if (job.result_fd() >= 0 && fstat(job.result_fd(), &st) == 0)
            record->put(entry_of(st, seen, job.path()));
    }
}
