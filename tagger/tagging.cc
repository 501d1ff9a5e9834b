#include "tagging.h"

#include "archiver.h"
#include "file_ptr.h"
#include "private_dirs.h"
#include "report.h"
#include "run_tally.h"
#include "settings.h"
#include "text.h"
#include "unique_fd.h"
#include "upload_path.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxIndent = 20;

// zip's exit status when it finds nothing to do.
constexpr int kZipNothingToDo = 12;

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// Marks a keyword hit; only the first one of the whole description is told.
void search_keywords(const char *chunk, bool *hit) {
    char upper[kLineBuffer];
    std::memcpy(upper, chunk, std::strlen(chunk) + 1);
    str_upper(upper);
    for (int k = 0; k < settings.keyword_count; ++k) {
        trace(" copy_and_tag() 6\n");
        if (std::strstr(upper, settings.keywords[k])) {
            if (!*hit)
                say("keyword '%s' found\n", settings.keywords[k]);
            *hit = true;
        }
    }
}

// Indent of the tag line: half the room the widest line leaves beside it, or
// none when that would push it further than 20 blanks.
int tag_indent(int maxwidth) {
    int text_length = static_cast<int>(std::strlen(settings.diztagtext));
    int spc = maxwidth > text_length ? (maxwidth - text_length) / 2 : 0;
    return spc > kMaxIndent ? 0 : spc;
}

// Creates the output file `member` in the directory `dir_fd`, afresh,
// without following a link planted at its name (and without blocking on a
// fifo). A regular file with one name that is not the archive is replaced,
// so that nobody but the archivers' user and root can change the new one
// before zip reads it; anything else at the name is left alone and refused,
// with errno: ELOOP for a link, EINVAL for anything but a regular file,
// EMLINK for a file with more than one name (a planted hard link would
// carry the rewrite elsewhere), EEXIST for the archive itself (an upload
// named like its description), EPERM for another user's file in a
// directory with the sticky bit, which root, working for the archive's
// owner, must not remove when that owner could not. The file belongs to
// the user the archivers run as.
velmo::FilePtr create_output(const ArchiveJob &job, int dir_fd, const char *member) {
    const ChildCredentials &who = job.credentials();
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd;
    for (int attempt = 0; attempt < 3 && !fd; ++attempt) {
        fd.reset(openat(dir_fd, member, kFlags, 0644));
        if (fd || errno != EEXIST)
            break;
        struct stat st;
        if (fstatat(dir_fd, member, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return nullptr;
        }
        const struct stat &archive = job.archive_stat();
        errno = S_ISLNK(st.st_mode)                                          ? ELOOP
                : !S_ISREG(st.st_mode)                                       ? EINVAL
                : st.st_nlink > 1                                            ? EMLINK
                : st.st_dev == archive.st_dev && st.st_ino == archive.st_ino ? EEXIST
                : who.switch_user && !user_could_remove(dir_fd, st, who.uid) ? EPERM
                                                                             : 0;
        // Replaced, not emptied: on ext4 a file cut to nothing is written
        // out as soon as it is closed.
        if (errno != 0 || (unlinkat(dir_fd, member, 0) != 0 && errno != ENOENT))
            return nullptr;
    }
    if (!fd || (who.switch_user && fchown(fd.get(), who.uid, who.gid) != 0))
        return nullptr;
    velmo::FilePtr out(fdopen(fd.get(), "wb"));
    if (out)
        fd.release();
    return out;
}

// What blocks FILE_ID.DIZ beside the archive and can be worked around: an
// entry the tagger may not replace, of any type, or one it may not remove.
bool blocked_by_entry(int error) {
    return error == ELOOP || error == EINVAL || error == EMLINK || error == EEXIST ||
           error == EPERM || error == EACCES || error == EISDIR;
}

// Where the description is written when something blocks its name beside
// the archive: a private directory beside it, which zip (as the archivers'
// user) can search but not read, holding the description under the same
// name, which zip stores without its directory part. Removed with the
// object, once zip has stored it; a killed run's is a later run's leftover.
class DescriptionElsewhere {
  public:
    explicit DescriptionElsewhere(const ArchiveJob &job) : job_(job) {}
    ~DescriptionElsewhere() {
        if (dir_fd_)
            remove_private_directory(job_.dir_fd(), name_, dir_fd_.get());
    }
    DescriptionElsewhere(const DescriptionElsewhere &) = delete;
    DescriptionElsewhere &operator=(const DescriptionElsewhere &) = delete;

    // Creates the file; its path in *path. Empty (errno set) on failure.
    velmo::FilePtr create(const char *member, std::string *path) {
        dir_fd_ = make_private_directory(job_.dir_fd(), kPrivatePrefix, &name_);
        if (!dir_fd_ || fchmod(dir_fd_.get(), 0711) != 0)
            return nullptr;
        *path = job_.dir_path() + "/" + name_ + "/" + member;
        return create_output(job_, dir_fd_.get(), member);
    }

  private:
    const ArchiveJob &job_;
    std::string name_;
    UniqueFd dir_fd_;
};

// What stands in the way of the output file, in words: the refusals of
// create_output, or the system's text for any other error.
std::string refusal_text(int error) {
    switch (error) {
    case ELOOP:
        return "refused, it is a symbolic link";
    case EINVAL:
        return "refused, it is not a regular file";
    case EMLINK:
        return "refused, it has more than one name";
    case EEXIST:
        return "refused, it is the archive itself";
    default:
        return std::strerror(error);
    }
}

} // namespace

bool description_output_path(const char *archive, const char *member, std::string *out) {
    const char *slash = std::strrchr(archive, '/');
    std::size_t dir_length =
        slash ? static_cast<std::size_t>(slash - archive) : std::strlen(archive);
    out->assign(archive, dir_length);
    *out += '/';
    *out += member;
    return out->size() < kLineBuffer;
}

RewriteResult rewrite_description(std::FILE *in, std::FILE *out) {
    RewriteResult result{0, false};
    // The chunk, then room for the LF CR appended to it and the terminator.
    char line[kLineBuffer + 2];
    while (std::fgets(line, kLineBuffer, in)) {
        trace(" copy_and_tag() 5\n");
        int length = static_cast<int>(std::strlen(line));
        if (length - 2 > result.maxwidth)
            result.maxwidth = length - 2;
        search_keywords(line, &result.keyword_hit);
        trace(" copy_and_tag() 7\n");

        // A two-character line end goes whole (with whatever the last
        // character is), then one more CR or LF if one is left.
        if (length >= 2 && is_line_end(line[length - 2]))
            line[length - 2] = '\0';
        int kept = static_cast<int>(std::strlen(line));
        if (kept >= 1 && is_line_end(line[kept - 1]))
            line[kept - 1] = '\0';
        std::strcat(line, "\n\r");
        if (kept > 3)
            std::fputs(line, out);
    }
    trace(" copy_and_tag() 8\n");
    if (!result.keyword_hit) {
        trace(" copy_and_tag() 9\n");
        trace(" maxwidth = %d  strlen( diztagtext ) = %d\n", result.maxwidth,
              static_cast<int>(std::strlen(settings.diztagtext)));
        int spc = tag_indent(result.maxwidth);
        trace(" spc = %d\n", spc);
        std::fprintf(out, "%*s%s\r\n", spc, " ", settings.diztagtext);
    }
    return result;
}

int copy_and_tag(ArchiveJob &job, ArchiveChange &change, const char *description_path,
                 const FileSnapshot *description) {
    const char *archive = job.path().c_str();
    trace("BEGIN copy_and_tag( %s, %s )\n", archive, description_path);
    trace(" copy_and_tag() 1\n");
    const char *member = settings.siteop ? kDescriptionName : settings.diz_name;
    std::string output_path;
    const bool path_fits = description_output_path(archive, member, &output_path);
    trace(" copy_and_tag() 2\n");

    errno = EBADF;
    velmo::FilePtr in = description ? description->stream() : nullptr;
    if (!in) {
        report_open_error("error\n%s: opening '%s': %s", description_path);
        trace("LEAVING[1] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    trace(" copy_and_tag() 4\n");
    // The directory stays locked from here to the end of the change, so no
    // other run writes FILE_ID.DIZ beside the archive before zip stores it.
    velmo::FilePtr out;
    DescriptionElsewhere elsewhere(job);
    if (!path_fits) {
        errno = ENAMETOOLONG;
    } else if (!change.lock_directory()) {
        trace("LEAVING[6] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    } else {
        out = create_output(job, job.dir_fd(), member);
        // No entry of anyone's at that name keeps the archive from its tag.
        if (!out && blocked_by_entry(errno)) {
            std::string other_path;
            out = elsewhere.create(member, &other_path);
            if (out)
                output_path = other_path;
        }
    }
    if (!out) {
        report_open_error("error\n%s: opening '%s': %s", output_path.c_str(), refusal_text(errno));
        trace("LEAVING[2] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }

    RewriteResult result = rewrite_description(in.get(), out.get());
    if (result.keyword_hit)
        note_outcome(Outcome::AlreadyTagged);
    trace(" copy_and_tag() 10\n");
    in.reset();
    bool write_failed = std::ferror(out.get()) != 0;
    write_failed = !velmo::close_checked(out) || write_failed;

    if (write_failed) {
        say("error\n%s: writing '%s': %s", settings.progname, output_path.c_str(),
            std::strerror(errno));
        log_error("error writing '%s': %m", output_path.c_str());
        trace("LEAVING[4] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    if (result.keyword_hit) {
        trace("LEAVING[3] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    if (!change.begin()) {
        trace("LEAVING[7] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    const ChildStatus status = store_description(job, change, output_path);
    if (!status.succeeded()) {
        report_step_failure("storing the description in", archive, Archiver::Zip, status);
        trace("LEAVING[5] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    // Siteop mode stores FILE_ID.DIZ whatever the member's spelling: the old
    // spelling goes, or the archive would hold an untagged description
    // beside the tagged one. zip has nothing to do (12) when no member of
    // the archive's top is so named.
    if (std::strcmp(member, settings.diz_name) != 0) {
        const ChildStatus deleted = delete_member(job, change, settings.diz_name);
        if (!deleted.succeeded() && deleted.exit_code != kZipNothingToDo) {
            report_step_failure("removing the old description from", archive, Archiver::Zip,
                                deleted);
            trace("LEAVING[5] copy_and_tag( %s, %s )\n", archive, description_path);
            return 1;
        }
    }
    trace("LEAVING copy_and_tag( %s, %s )\n", archive, description_path);
    return 0;
}
