#include "known_marks.h"

#include "archiver_commands.h"
#include "config.h"
#include "fixed_paths.h"
#include "fnv1a.h"
#include "listing_facts.h"
#include "mark_record.h"
#include "settings.h"
#include "state_dir.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

using mark_record::nanoseconds;

constexpr char kMarksDir[] = "marks";
// A file system's clock ticks coarser than its nanoseconds: writes within
// one tick leave the same times. Two seconds covers the coarsest.
constexpr std::int64_t kTickNanoseconds = 2'000'000'000;
// Site files are hashed whole up to this size, by size and times beyond.
constexpr off_t kSiteFileHashed = 16 * 1024 * 1024;
// A central directory larger than this is not read for names.
constexpr unsigned long long kNamesMax = 16 * 1024 * 1024;

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

bool listed_name_holds_keyword(const MemberName &member) {
    return !member.unicode_path && holds_keyword(member.name.substr(0, member.name.find('\0')));
}

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

// The file systems whose files change their change time on every first
// write through a shared mapping after their pages went to disk: on
// others (tmpfs keeps no pages on disk) a mapping could rewrite an archive
// without a trace, and no entry is made.
bool times_follow_mapped_writes(int fd) {
    constexpr unsigned long kExt = 0xEF53, kXfs = 0x58465342, kBtrfs = 0x9123683E;
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0)
        return false;
    const auto type = static_cast<unsigned long>(fs.f_type);
    return type == kExt || type == kXfs || type == kBtrfs;
}

// The archive open in `fd`, as it is now, when its own member names show
// a keyword, read by the tagger itself: what unzip listed is what its
// name led to, which an owner swapping directories could point elsewhere.
// Its dirty pages go to disk first, so that a write through a mapping made
// before it cannot go on unseen: each later one moves the change time.
std::optional<mark_record::Entry> entry_from_own_names(int fd, const std::string &path) {
    struct stat before, after;
    std::vector<MemberName> names;
    if (!times_follow_mapped_writes(fd) || fdatasync(fd) != 0)
        return std::nullopt;
    const std::int64_t seen = now();
    if (fstat(fd, &before) != 0 || !read_member_names(fd, &names, kNamesMax) ||
        fstat(fd, &after) != 0)
        return std::nullopt;
    const mark_record::Entry entry = mark_record::entry_of(before, seen, path);
    if (!same_state(entry, after) ||
        std::none_of(names.begin(), names.end(), listed_name_holds_keyword))
        return std::nullopt;
    return entry;
}

} // namespace

bool known_to_carry_mark(const char *arg) {
    MarkRecord *record = mark_record_of_run();
    struct stat st;
    mark_record::Entry entry;
    return record && lstat(arg, &st) == 0 && S_ISREG(st.st_mode) &&
           record->find(static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino), &entry) &&
           same_state(entry, st) && seen_after_last_change(entry);
}

void remember_mark(const ArchiveJob &job, Outcome outcome) {
    MarkRecord *record = mark_record_of_run();
    if (!record || outcome != Outcome::AlreadyTagged || job.archive_fd() < 0)
        return;
    if (const std::optional<mark_record::Entry> entry =
            entry_from_own_names(job.archive_fd(), job.path());
        entry && seen_after_last_change(*entry))
        record->put(*entry);
}
