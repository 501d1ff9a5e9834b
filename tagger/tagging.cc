#include "tagging.h"

#include "archiver.h"
#include "report.h"
#include "settings.h"
#include "text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kPathBuffer = 1024;
constexpr std::size_t kChunkBuffer = 1024;
constexpr int kMaxIndent = 20;

bool is_line_end(char c) {
    return c == '\r' || c == '\n';
}

// Marks a keyword hit; only the first one of the whole description is told.
void search_keywords(const char *chunk, bool *hit) {
    char upper[kChunkBuffer];
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

bool is_same_file(const struct stat &st, const char *path) {
    struct stat other;
    return stat(path, &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

// Creates the output file without following a link planted at its path
// (and without blocking on a fifo). Anything but a regular file is refused,
// and so are a file with more than one name (a planted hard link would
// carry the rewrite to a file elsewhere) and the archive itself (an upload
// named like its description); all before the file is truncated.
std::FILE *create_output(const std::string &path, const char *archive) {
    if (path.size() >= kPathBuffer) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    struct stat st;
    int refusal = 0;
    if (fstat(fd, &st) != 0)
        refusal = errno;
    else if (!S_ISREG(st.st_mode))
        refusal = EINVAL;
    else if (st.st_nlink > 1)
        refusal = EMLINK;
    else if (is_same_file(st, archive))
        refusal = EEXIST;
    else if (ftruncate(fd, 0) != 0)
        refusal = errno;
    if (refusal != 0) {
        close(fd);
        errno = refusal;
        return nullptr;
    }
    std::FILE *out = fdopen(fd, "wb");
    if (!out)
        close(fd);
    return out;
}

} // namespace

bool description_output_path(const char *archive, const char *member, std::string *out) {
    const char *slash = std::strrchr(archive, '/');
    std::size_t dir_length =
        slash ? static_cast<std::size_t>(slash - archive) : std::strlen(archive);
    out->assign(archive, dir_length);
    *out += '/';
    *out += member;
    return out->size() < kPathBuffer;
}

RewriteResult rewrite_description(std::FILE *in, std::FILE *out) {
    RewriteResult result{0, false};
    // The chunk, then room for the LF CR appended to it and the terminator.
    char line[kChunkBuffer + 2];
    while (std::fgets(line, kChunkBuffer, in)) {
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

int copy_and_tag(const char *archive, const char *description) {
    trace("BEGIN copy_and_tag( %s, %s )\n", archive, description);
    trace(" copy_and_tag() 1\n");
    std::string output_path;
    description_output_path(archive, settings.siteop ? "FILE_ID.DIZ" : settings.diz_name,
                            &output_path);
    trace(" copy_and_tag() 2\n");

    std::FILE *in = std::fopen(description, "rb");
    if (!in) {
        report_open_error("error\n%s: opening '%s': %s", description);
        trace("LEAVING[1] copy_and_tag( %s, %s )\n", archive, description);
        return 1;
    }
    trace(" copy_and_tag() 4\n");
    std::FILE *out = create_output(output_path, archive);
    if (!out) {
        report_open_error("error\n%s: opening '%s': %s", output_path.c_str());
        std::fclose(in);
        trace("LEAVING[2] copy_and_tag( %s, %s )\n", archive, description);
        return 1;
    }

    RewriteResult result = rewrite_description(in, out);
    trace(" copy_and_tag() 10\n");
    std::fclose(in);
    bool write_failed = std::ferror(out) != 0;
    write_failed = std::fclose(out) != 0 || write_failed;

    if (write_failed) {
        say("error\n%s: writing '%s': %s", settings.progname, output_path.c_str(),
            std::strerror(errno));
        log_error("error writing '%s': %m", output_path.c_str());
        trace("LEAVING[4] copy_and_tag( %s, %s )\n", archive, description);
        return 1;
    }
    if (result.keyword_hit) {
        trace("LEAVING[3] copy_and_tag( %s, %s )\n", archive, description);
        return 1;
    }
    int status = run_zip(ArchiverOp::StoreDescription, archive, output_path.c_str());
    if (status != 0) {
        report_step_failure("storing the description in", archive, "zip", status);
        trace("LEAVING[5] copy_and_tag( %s, %s )\n", archive, description);
        return 1;
    }
    trace("LEAVING copy_and_tag( %s, %s )\n", archive, description);
    return 0;
}
