#include "tagging.h"

#include "archiver.h"
#include "file_ptr.h"
#include "fixed_paths.h"
#include "report.h"
#include "settings.h"
#include "temporary_file.h"
#include "text.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxIndent = 20;

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

// Creates the output file in the archive's directory without following a
// link planted at its name (and without blocking on a fifo). Anything but a
// regular file is refused, and so are a file with more than one name (a
// planted hard link would carry the rewrite to a file elsewhere) and the
// archive itself (an upload named like its description); all before the
// file is truncated.
//
// The file belongs to the user the archivers run as: one left by another
// user (in a directory that several may write, with the sticky bit) is
// replaced, so that nobody but its owner and root can change it before zip
// reads it.
velmo::FilePtr create_output(const ArchiveJob &job, const char *member) {
    const ChildCredentials &who = job.credentials();
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd;
    for (int attempt = 0; attempt < 3; ++attempt) {
        fd.reset(openat(job.dir_fd(), member, kFlags | O_CREAT | O_EXCL, 0644));
        if (fd || errno != EEXIST)
            break;
        fd.reset(openat(job.dir_fd(), member, kFlags));
        if (!fd && errno == ENOENT)
            continue;
        struct stat st;
        if (!fd || !who.switch_user || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid == who.uid || st.st_nlink > 1)
            break;
        fd.reset();
        if (unlinkat(job.dir_fd(), member, 0) != 0)
            break;
    }
    if (!fd)
        return nullptr;
    struct stat st;
    const struct stat &archive = job.archive_stat();
    int refusal = 0;
    if (fstat(fd.get(), &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = EINVAL;
    else if (st.st_nlink > 1)
        refusal = EMLINK;
    else if (st.st_dev == archive.st_dev && st.st_ino == archive.st_ino)
        refusal = EEXIST;
    else if (ftruncate(fd.get(), 0) != 0 ||
             (who.switch_user && fchown(fd.get(), who.uid, who.gid) != 0))
        refusal = errno;
    if (refusal != 0) {
        fd.reset();
        errno = refusal;
        return nullptr;
    }
    velmo::FilePtr out(fdopen(fd.get(), "wb"));
    if (out)
        fd.release();
    return out;
}

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
                 int description_fd) {
    const char *archive = job.path().c_str();
    trace("BEGIN copy_and_tag( %s, %s )\n", archive, description_path);
    trace(" copy_and_tag() 1\n");
    const char *member = settings.siteop ? kDescriptionName : settings.diz_name;
    std::string output_path;
    const bool path_fits = description_output_path(archive, member, &output_path);
    trace(" copy_and_tag() 2\n");

    velmo::FilePtr in = read_from_start(description_fd);
    if (!in) {
        report_open_error("error\n%s: opening '%s': %s", description_path);
        trace("LEAVING[1] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }
    trace(" copy_and_tag() 4\n");
    // The directory stays locked from here to the end of the change, so no
    // other run writes FILE_ID.DIZ beside the archive before zip stores it.
    velmo::FilePtr out;
    if (!path_fits) {
        errno = ENAMETOOLONG;
    } else if (!change.lock_directory()) {
        trace("LEAVING[6] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    } else {
        out = create_output(job, member);
    }
    if (!out) {
        report_open_error("error\n%s: opening '%s': %s", output_path.c_str(), refusal_text(errno));
        trace("LEAVING[2] copy_and_tag( %s, %s )\n", archive, description_path);
        return 1;
    }

    RewriteResult result = rewrite_description(in.get(), out.get());
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
    trace("LEAVING copy_and_tag( %s, %s )\n", archive, description_path);
    return 0;
}
